// Where both programs look for the training files, with the working
// directory and the environment a user may start them with.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "test_files.h"
#include "training/data_folder.h"

namespace tavelin {
namespace {

// An environment variable set (or unset) until the end of the scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

void put_training_file(const std::string& folder, const char* name) {
    std::filesystem::create_directories(folder);
    test_util::write_file(folder + "/" + name, {1});
}

TEST(DataFolder, DataBelowTheWorkingDirectoryThenTheUsersThenTheInstalled) {
    const std::string root = test_util::make_temp_dir();
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    const std::string xdg_folder = root + "/xdg/tavelin/data";
    // HOME is reached through a link, as on systems whose /home is one.
    const std::string home_folder = root + "/home-link/.local/share/tavelin/data";
    const std::string installed = installed_data_folder();
    ASSERT_FALSE(installed.empty());
    // Every case looks in data/, the user's folder and the installed data
    // (here the test program's, which holds nothing); they differ in which
    // of them hold training files and in where the program starts.
    struct Case {
        const char* what;
        const char* in_data;  // the training file in data/, if any; a directory when it ends in '/'
        std::optional<std::string> xdg;
        bool user_folder_filled;
        std::string user_folder, found;
        bool started_in_the_users_tavelin_folder = false;  // so data/ is the user's folder
    } cases[] = {
        {"data/ with a training file wins", training_labels_name, root + "/xdg", true, xdg_folder, "data"},
        {"no data/: XDG_DATA_HOME", nullptr, root + "/xdg", true, xdg_folder, xdg_folder},
        {"XDG_DATA_HOME unset: HOME/.local/share", nullptr, std::nullopt, true, home_folder, home_folder},
        {"a relative XDG_DATA_HOME is ignored", nullptr, std::string("xdg"), true, home_folder, home_folder},
        {"no data anywhere", nullptr, root + "/xdg", false, xdg_folder, ""},
        {"data/ with the labels as downloaded", "train-labels-idx1-ubyte", root + "/xdg", true, xdg_folder, "data"},
        {"data/ with a directory for the gzipped image file", "train-images-idx3-ubyte.gz/", root + "/xdg", true,
         xdg_folder, "data"},
        {"started in the user's folder, reached without the link: named once", nullptr, std::nullopt, true,
         home_folder, "data", true},
    };
    ASSERT_EQ(::symlink((root + "/home").c_str(), (root + "/home-link").c_str()), 0);
    const ScopedVariable home("HOME", root + "/home-link");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::create_directories(root + "/home/.local/share/tavelin");
        const std::string here = c.started_in_the_users_tavelin_folder ? root + "/home/.local/share/tavelin"
                                                                         : test_util::make_temp_dir();
        ASSERT_EQ(::chdir(here.c_str()), 0);
        const bool directory = c.in_data && std::string(c.in_data).back() == '/';
        if (directory) std::filesystem::create_directories(here + "/data/" + c.in_data);
        else if (c.in_data) put_training_file(here + "/data", c.in_data);
        if (c.user_folder_filled) put_training_file(c.user_folder, training_images_name);
        const ScopedVariable xdg("XDG_DATA_HOME", c.xdg);

        const DataFolders folders = find_data_folder();
        EXPECT_EQ(folders.found, c.found);
        std::vector<std::string> looked_in{here + "/data", c.user_folder, installed};
        if (c.started_in_the_users_tavelin_folder) looked_in.erase(looked_in.begin() + 1);
        EXPECT_EQ(folders.looked_in, looked_in);
        const std::string message = no_training_data_message(folders);
        for (const std::string& place : folders.looked_in) EXPECT_NE(message.find(place), std::string::npos) << message;
        for (const char* name : {training_images_name, training_labels_name, test_images_name, test_labels_name})
            EXPECT_NE(message.find(name), std::string::npos) << message;
        EXPECT_NE(message.find("tavelin-get-data fetches the full set into " + c.user_folder), std::string::npos)
            << message;
        // What is there is read, and its fault named: never passed over.
        if (directory) {
            const std::string path = data_file_path(folders.found, training_images_name);
            EXPECT_EQ(path + "/", std::string("data/") + c.in_data);
            std::string why;
            EXPECT_FALSE(read_data_file(path.c_str(), nullptr, &why));
            EXPECT_EQ(why, "it is a directory, not a file");
        }

        ASSERT_EQ(::chdir(cwd), 0);
        if (!c.started_in_the_users_tavelin_folder) test_util::remove_tree(here);
        test_util::remove_tree(root + "/xdg");
        test_util::remove_tree(root + "/home");
    }
    test_util::remove_tree(root);
}

}  // namespace
}  // namespace tavelin
