// Where the training files are: data/ below the working directory, as in
// the source tree, else the user's data folder, which an installed
// tavelin-get-data fills. The window and tavelin-train both look here, so a
// program started from a desktop menu, in the home folder, finds its data.
#pragma once

#include <string>
#include <vector>

#include "training/samples.h"

namespace tavelin {

struct DataFolders {
    // Every folder looked in, in order, as absolute paths: data/ below the
    // working directory, then the user's data folder when there is one.
    std::vector<std::string> looked_in;
    // The folder to read: "data" (relative, as the messages have always
    // named it) or the user's data folder; empty when neither holds a
    // training file.
    std::string found;
};

// $XDG_DATA_HOME/tavelin/data, or $HOME/.local/share/tavelin/data when
// XDG_DATA_HOME is unset, empty or not absolute; on Windows
// %LOCALAPPDATA%\Tavelin\data. Empty when the environment names no home.
std::string user_data_folder();

// A folder counts when either training file is there, readable or not: a
// damaged set is read and its fault named, never passed over for another.
DataFolders find_data_folder();

// One line, no newline: that no folder holds training data, every folder
// looked in, and how to fill them.
std::string no_training_data_message(const DataFolders& folders);

}  // namespace tavelin
