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

TEST(DataFolder, DataBelowTheWorkingDirectoryFirstThenTheUsersDataFolder) {
    const std::string root = test_util::make_temp_dir();
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    const std::string xdg_folder = root + "/xdg/tavelin/data";
    const std::string home_folder = root + "/home/.local/share/tavelin/data";
    // Every case has the same folders to look in; they differ in which of
    // them hold training files.
    struct Case {
        const char* what;
        const char* in_data;  // the training file in data/, if any
        std::optional<std::string> xdg;
        bool user_folder_filled;
        std::string user_folder, found;
    } cases[] = {
        {"data/ with a training file wins", training_labels_name, root + "/xdg", true, xdg_folder, "data"},
        {"no data/: XDG_DATA_HOME", nullptr, root + "/xdg", true, xdg_folder, xdg_folder},
        {"XDG_DATA_HOME unset: HOME/.local/share", nullptr, std::nullopt, true, home_folder, home_folder},
        {"a relative XDG_DATA_HOME is ignored", nullptr, std::string("xdg"), true, home_folder, home_folder},
        {"no data anywhere", nullptr, root + "/xdg", false, xdg_folder, ""},
    };
    const ScopedVariable home("HOME", root + "/home");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string here = test_util::make_temp_dir();
        ASSERT_EQ(::chdir(here.c_str()), 0);
        if (c.in_data) put_training_file(here + "/data", c.in_data);
        if (c.user_folder_filled) put_training_file(c.user_folder, training_images_name);
        const ScopedVariable xdg("XDG_DATA_HOME", c.xdg);

        const DataFolders folders = find_data_folder();
        EXPECT_EQ(folders.found, c.found);
        EXPECT_EQ(folders.looked_in, (std::vector<std::string>{here + "/data", c.user_folder}));
        const std::string message = no_training_data_message(folders);
        for (const std::string& place : folders.looked_in) EXPECT_NE(message.find(place), std::string::npos) << message;
        EXPECT_NE(message.find("tavelin-get-data"), std::string::npos) << message;

        ASSERT_EQ(::chdir(cwd), 0);
        test_util::remove_tree(here);
        test_util::remove_tree(root + "/xdg");
        test_util::remove_tree(root + "/home");
    }
    test_util::remove_tree(root);
}

}  // namespace
}  // namespace tavelin
