// Where the training files are: data/ below the working directory, as in
// the source tree; else the user's data folder, which tavelin-get-data
// fills; else the data installed with the program. The window and
// tavelin-train both look here, so a program started from a desktop menu,
// in the home folder, finds its data, and a fresh install trains at once.
#pragma once

#include <string>
#include <vector>

#include "training/samples.h"

namespace tavelin {

struct DataFolders {
    // Every folder looked in, in order, as absolute paths, each once: data/
    // below the working directory, the user's data folder when there is
    // one, the installed data when the program's own path is known.
    std::vector<std::string> looked_in;
    // The first of them that holds a training file: "data" (relative, as
    // the messages have always named it) or the folder's absolute path;
    // empty when none does.
    std::string found;
    // The user's data folder (user_data_folder), where tavelin-get-data
    // puts the full set; empty when the environment names no home.
    std::string user_folder;
};

// $XDG_DATA_HOME/tavelin/data, or $HOME/.local/share/tavelin/data when
// XDG_DATA_HOME is unset, empty or not absolute; on Windows
// %LOCALAPPDATA%\Tavelin\data. Empty when the environment names no home.
std::string user_data_folder();

// The data installed with the program: share/tavelin/data beside its bin/
// folder (/usr/share/tavelin/data for /usr/bin/tavelin); on Windows the
// data folder beside the .exe. Empty when the program's path is unknown.
std::string installed_data_folder();

// A folder counts when a training file is there in any of its forms,
// readable or not, even a directory in its place: a damaged set is read
// and its fault named, never passed over for another.
DataFolders find_data_folder();

// The forms a data file (one of the names in samples.h) is found under, in
// this order: as scripts/get-data writes it (train-images.idx3-ubyte),
// with a dash as MNIST is distributed (train-images-idx3-ubyte), and
// either of those gzipped, with .gz added.
std::vector<std::string> data_file_forms(const char* name);

// `folder`/the first form of `name` that is there, whatever it is (a file,
// a directory, a dangling link: reading it names the fault); the plain
// name when none is, so that the message names the file looked for.
std::string data_file_path(const std::string& folder, const char* name);

// One line, no newline: that no folder holds training data, the four
// files, every folder looked in, and how to get the full set.
std::string no_training_data_message(const DataFolders& folders);

}  // namespace tavelin
