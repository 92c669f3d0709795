#include "training/data_folder.h"

#include <cstdlib>
#include <filesystem>

namespace tavelin {

namespace fs = std::filesystem;

namespace {

// A variable that is set to something, or null.
const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool holds_a_training_file(const fs::path& folder) {
    for (const char* name : {training_images_name, training_labels_name}) {
        std::error_code error;
        // Not found is the only answer that passes the folder over: a file
        // that cannot be looked at is read, and its fault named, there.
        if (fs::symlink_status(folder / name, error).type() != fs::file_type::not_found) return true;
    }
    return false;
}

std::string absolute_path(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? path : absolute).lexically_normal().string();
}

}  // namespace

std::string user_data_folder() {
#ifdef _WIN32
    if (const char* local = environment("LOCALAPPDATA")) return (fs::path(local) / "Tavelin" / "data").string();
    return "";
#else
    // A relative XDG_DATA_HOME is invalid and to be ignored.
    const char* xdg = environment("XDG_DATA_HOME");
    if (xdg != nullptr && *xdg == '/') return (fs::path(xdg) / "tavelin" / "data").string();
    if (const char* home = environment("HOME")) return (fs::path(home) / ".local/share/tavelin/data").string();
    return "";
#endif
}

DataFolders find_data_folder() {
    DataFolders folders;
    folders.looked_in.push_back(absolute_path("data"));
    if (holds_a_training_file("data")) folders.found = "data";
    const std::string user = user_data_folder();
    // Started in the user's tavelin folder, data/ is the user's data folder.
    if (!user.empty() && absolute_path(user) != folders.looked_in[0]) {
        folders.looked_in.push_back(user);
        if (folders.found.empty() && holds_a_training_file(user)) folders.found = user;
    }
    return folders;
}

std::string no_training_data_message(const DataFolders& folders) {
    std::string text = "No training data in";
    for (size_t i = 0; i < folders.looked_in.size(); i++) text += (i ? " nor in " : " ") + folders.looked_in[i];
    text += ".";
    const bool user_folder = folders.looked_in.size() > 1;
#ifdef _WIN32
    text += user_folder ? " Copy the four files scripts/get-data makes into the latter." :
                          " Copy the four files scripts/get-data makes into data/.";
#else
    text += user_folder ? " tavelin-get-data fills the latter;" : " tavelin-get-data data fills it;";
    text += " in the source tree, scripts/get-data fills data/.";
#endif
    return text;
}

}  // namespace tavelin
