#include "training/data_folder.h"

#include <cstdlib>
#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#endif

namespace tavelin {

namespace fs = std::filesystem;

namespace {

// A variable that is set to something, or null.
const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// Not found is the only answer that passes a name over: an entry that
// cannot be looked at, or is not a file, is read, and its fault named.
bool entry_there(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

bool holds_a_training_file(const std::string& folder) {
    for (const char* name : {training_images_name, training_labels_name})
        for (const std::string& form : data_file_forms(name))
            if (entry_there(fs::path(folder) / form)) return true;
    return false;
}

std::string absolute_path(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? path : absolute).lexically_normal().string();
}

// The same folder under two names: a link on the way (a home folder
// reached through one), or data/ of the user's own tavelin folder.
bool same_folder(const std::string& a, const std::string& b) {
    std::error_code error;
    const bool equivalent = fs::equivalent(a, b, error);
    return (!error && equivalent) || absolute_path(a) == absolute_path(b);
}

std::string program_path() {
#ifdef _WIN32
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, DWORD(sizeof path));
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
#else
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
#endif
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

std::string installed_data_folder() {
    const std::string program = program_path();
    if (program.empty()) return "";
    // TAVELIN_DATA_BESIDE_PROGRAM: the install rules' data folder as seen
    // from the programs' folder (training/CMakeLists.txt works it out).
    return (fs::path(program).parent_path() / TAVELIN_DATA_BESIDE_PROGRAM).lexically_normal().string();
}

DataFolders find_data_folder() {
    DataFolders folders;
    folders.user_folder = user_data_folder();
    const std::string candidates[] = {"data", folders.user_folder, installed_data_folder()};
    for (const std::string& folder : candidates) {
        if (folder.empty()) continue;
        bool seen = false;
        for (const std::string& earlier : folders.looked_in) seen = seen || same_folder(earlier, folder);
        if (seen) continue;
        folders.looked_in.push_back(absolute_path(folder));
        if (folders.found.empty() && holds_a_training_file(folder)) folders.found = folder;
    }
    return folders;
}

std::vector<std::string> data_file_forms(const char* name) {
    std::string dashed = name;
    dashed[dashed.rfind('.')] = '-';
    return {name, dashed, name + std::string(".gz"), dashed + ".gz"};
}

std::string data_file_path(const std::string& folder, const char* name) {
    for (const std::string& form : data_file_forms(name))
        if (entry_there(fs::path(folder) / form)) return folder + "/" + form;
    return folder + "/" + name;
}

std::string no_training_data_message(const DataFolders& folders) {
    std::string text = "No training data in";
    for (size_t i = 0; i < folders.looked_in.size(); i++) text += (i ? " nor in " : " ") + folders.looked_in[i];
    text += std::string(". Needed: ") + training_images_name + ", " + training_labels_name + ", " +
            test_images_name + " and " + test_labels_name + ", or as downloaded.";
    const std::string& user = folders.user_folder;
#ifdef _WIN32
    text += " For the full set, download the four MNIST files and put them, as they are, into " +
            (user.empty() ? std::string("data\\ beside the program") : user) + ".";
#else
    text += user.empty() ? " tavelin-get-data DIR fetches the full set into DIR" :
                           " tavelin-get-data fetches the full set into " + user;
    text += "; in the source tree, scripts/get-data fills data/.";
#endif
    return text;
}

}  // namespace tavelin
