// tavelin-train as a user runs it: on small IDX files the tests write,
// with good, missing and malformed data and bad arguments.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "test_files.h"
#include "child_process.h"
#include "training/data_folder.h"

using namespace tavelin::test_util;

namespace {

struct ToolRun {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TrainTool : public ::testing::Test {
protected:
    std::string dir = make_temp_dir();
    void TearDown() override { remove_tree(dir); }

    ToolRun run(const std::string& args) {
        const std::string out = dir + "/stdout", err = dir + "/stderr";
        // A run that waits (on a named pipe, say) fails instead of hanging the suite.
        const std::string command =
            "timeout -k 5 120 " + std::string(TAVELIN_TRAIN) + " " + args + " >" + out + " 2>" + err;
        const int raw = std::system(command.c_str());
        return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }
    std::vector<std::string> lines(const std::string& path) {
        std::vector<std::string> result;
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }
};

TEST_F(TrainTool, TrainsEvaluatesAndWritesPredictions) {
    write_training_set(dir, 50);
    write_training_set(dir, 30, "t10k");
    const ToolRun r = run("--data " + dir + " --min-steps 120 --predictions " + dir + "/p.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("training: 150 steps"), std::string::npos) << r.out;  // three whole passes
    EXPECT_NE(r.out.find("accuracy:"), std::string::npos);
    EXPECT_NE(r.out.find("confusion matrix"), std::string::npos);
    EXPECT_NE(r.out.find("no digit (-1):"), std::string::npos);

    const std::vector<std::string> csv = lines(dir + "/p.csv");
    ASSERT_EQ(csv.size(), 31u);
    EXPECT_EQ(csv[0], "index,label,predicted,confidence");
    int index = -1, label = -1, predicted = -2;
    double confidence = -1;
    ASSERT_EQ(std::sscanf(csv[7].c_str(), "%d,%d,%d,%lf", &index, &label, &predicted, &confidence), 4);
    EXPECT_EQ(index, 6);
    EXPECT_EQ(label, 6);
    EXPECT_GE(predicted, -1);
    EXPECT_LE(predicted, 9);
    EXPECT_NE(csv[7].find('.'), std::string::npos);
    EXPECT_EQ(csv[7].size() - csv[7].find('.') - 1, 6u);  // six decimals
}

TEST_F(TrainTool, ProgressLinesMatchTheTrainingLoop) {
    write_training_set(dir, 400);
    const ToolRun r = run("--data " + dir + " --min-steps 2000");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("case 1000 err=", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\ncase 2000 err="), std::string::npos);
    EXPECT_EQ(r.out.find("case 3000"), std::string::npos);
    EXPECT_NE(r.out.find("no test set"), std::string::npos);  // none written: no evaluation
}

TEST_F(TrainTool, MissingTrainingDataIsADataError) {
    const ToolRun r = run("--data " + dir + "/nowhere");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir + "/nowhere/train-images.idx3-ubyte"), std::string::npos) << r.err;
}

TEST_F(TrainTool, EmptyOrHeaderOnlyTrainingFilesAreDataErrors) {
    write_file(dir + "/train-images.idx3-ubyte", {});
    write_file(dir + "/train-labels.idx1-ubyte", {});
    EXPECT_EQ(run("--data " + dir).status, 1);
    write_file(dir + "/train-images.idx3-ubyte", idx_images(0, 0, pattern_pixel));
    write_file(dir + "/train-labels.idx1-ubyte", idx_labels(0, {}));
    EXPECT_EQ(run("--data " + dir).status, 1);
}

TEST_F(TrainTool, ExplicitTestDirectoryMustHoldATestSet) {
    write_training_set(dir, 20);
    const ToolRun r = run("--data " + dir + " --min-steps 20 --test " + dir + "/nowhere");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("t10k-images.idx3-ubyte"), std::string::npos) << r.err;
}

TEST_F(TrainTool, TestSetWithFewerLabelsThanImagesUsesTheCompleteRecords) {
    write_training_set(dir, 20);
    write_file(dir + "/t10k-images.idx3-ubyte", idx_images(12, 12, pattern_pixel));
    write_file(dir + "/t10k-labels.idx1-ubyte", idx_labels(12, {1, 2, 3, 4, 5}));
    const ToolRun r = run("--data " + dir + " --min-steps 20 --predictions " + dir + "/p.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("test: 5 images"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("5 labels"), std::string::npos) << r.err;
    EXPECT_EQ(lines(dir + "/p.csv").size(), 6u);
}

TEST_F(TrainTool, BadArgumentsAreUsageErrors) {
    for (const char* args : {"--min-steps", "--min-steps 0", "--min-steps -5", "--min-steps 12x",
                             "--min-steps 99999999999", "--data", "--bogus", "stray", "--data ''", "--test ''",
                             "--predictions ''"}) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args << ": " << r.err;
    }
    const ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--predictions"), std::string::npos);
}

// Results that never reached standard output are not a success.
TEST_F(TrainTool, StandardOutputThatTakesNothingIsAnError) {
    write_training_set(dir, 20);
    for (const char* redirect : {">/dev/full", ">&-"}) {
        const std::string command =
            std::string(TAVELIN_TRAIN) + " --data " + dir + " --min-steps 20 " + redirect + " 2>" + dir + "/stderr";
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1) << redirect;
        EXPECT_NE(slurp(dir + "/stderr").find("standard output"), std::string::npos) << redirect;
    }
}

TEST_F(TrainTool, UnwritablePredictionsFileIsReportedBeforeTraining) {
    write_training_set(dir, 20);
    const ToolRun r = run("--data " + dir + " --predictions " + dir + "/no/such/dir/p.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no/such/dir/p.csv"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("case"), std::string::npos);
}

// The evaluation printed must agree with the predictions written: every
// cell of the confusion matrix counts its (label, recognised digit) pairs,
// the no-digit line counts the -1s, the diagonal is the correct count, and
// the cells, the no-digit images and the labels above 9 add up to the test
// set. On the real digits, so that every digit is recognised somewhere.
TEST_F(TrainTool, TheEvaluationAgreesWithThePredictions) {
    const std::string data = TAVELIN_DATA_DIR;
    ASSERT_EQ(access((data + "/t10k-images.idx3-ubyte").c_str(), R_OK), 0)
        << data << ": scripts/get-data puts the real digits there";
    const ToolRun r = run("--data " + data + " --min-steps 1 --predictions " + dir + "/p.csv");
    ASSERT_EQ(r.status, 0) << r.err;

    int expected[10][10] = {};
    int images = 0, correct = 0, no_digit = 0, above_nine = 0;
    for (const std::string& line : lines(dir + "/p.csv")) {
        int index = 0, label = 0, predicted = 0;
        double confidence = 0;
        if (std::sscanf(line.c_str(), "%d,%d,%d,%lf", &index, &label, &predicted, &confidence) != 4) continue;
        images++;
        correct += predicted == label;
        no_digit += predicted < 0;
        if (label > 9) above_nine++;
        else if (predicted >= 0) expected[label][predicted]++;
    }
    ASSERT_EQ(images, 1000);

    std::istringstream out(r.out);
    int shown_correct = -1, shown_images = -1, shown_no_digit = -1, cells = 0, diagonal = 0;
    int matrix[10][10] = {};
    for (std::string line; std::getline(out, line);) {
        if (line.rfind("accuracy:", 0) == 0)
            std::sscanf(line.c_str(), "accuracy: %*f%% (%d of %d)", &shown_correct, &shown_images);
        if (line.rfind("no digit (-1):", 0) == 0) std::sscanf(line.c_str(), "no digit (-1): %d", &shown_no_digit);
        if (line.rfind("confusion matrix", 0) == 0) {
            std::getline(out, line);  // the column header
            for (int t = 0; t < 10 && std::getline(out, line); t++) {
                std::istringstream row(line);
                int label = -1;
                row >> label;
                EXPECT_EQ(label, t);
                for (int p = 0; p < 10; p++) row >> matrix[t][p];
            }
        }
    }
    for (int t = 0; t < 10; t++)
        for (int p = 0; p < 10; p++) {
            EXPECT_EQ(matrix[t][p], expected[t][p]) << "label " << t << ", recognised " << p;
            cells += matrix[t][p];
            if (t == p) diagonal += matrix[t][p];
        }
    EXPECT_EQ(shown_images, images);
    EXPECT_EQ(shown_correct, correct);
    EXPECT_EQ(diagonal, correct);
    EXPECT_EQ(shown_no_digit, no_digit);
    EXPECT_EQ(cells + no_digit + above_nine, images);
    for (int p = 0; p < 10; p++) {
        int column = 0;
        for (int t = 0; t < 10; t++) column += expected[t][p];
        EXPECT_GT(column, 0) << "no image recognised as " << p << ": the check would miss a lost column";
    }
}

// --predictions never destroys a file it did not create: one of the
// inputs (however it is named), something other than a plain file, or an
// earlier predictions file when the run then fails.
TEST_F(TrainTool, PredictionsNeverOverwriteInputsOrSpecialFilesOrAnEarlierResult) {
    const std::string set = dir + "/set";
    mkdir(set.c_str(), 0755);
    write_training_set(set, 20);
    write_training_set(set, 10, "t10k");
    ASSERT_EQ(link((set + "/t10k-labels.idx1-ubyte").c_str(), (dir + "/alias.csv").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/pipe.csv").c_str(), 0644), 0);
    ASSERT_EQ(mkdir((dir + "/folder.csv").c_str(), 0755), 0);
    struct Case {
        std::string predictions, reason;
    };
    const Case refused[] = {
        {set + "/train-images.idx3-ubyte", "is the input file " + set + "/train-images.idx3-ubyte"},
        {set + "/../set/./train-labels.idx1-ubyte", "is the input file"},
        {dir + "/alias.csv", "is the input file " + set + "/t10k-labels.idx1-ubyte"},
        {dir + "/pipe.csv", "cannot write predictions there: it is a named pipe"},
        {dir + "/folder.csv", "cannot write predictions there: it is a directory"},
        {"/dev/null", "cannot write predictions there: it is a device"},
    };
    const std::string inputs_before = slurp(set + "/train-images.idx3-ubyte") + slurp(set + "/train-labels.idx1-ubyte") +
                                      slurp(set + "/t10k-labels.idx1-ubyte");
    for (const Case& c : refused) {
        const ToolRun r = run("--data " + set + " --min-steps 20 --predictions " + c.predictions);
        EXPECT_EQ(r.status, 2) << c.predictions << ": " << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.predictions << ": " << r.err;
        EXPECT_EQ(r.out.find("case"), std::string::npos) << c.predictions;  // nothing trained
    }
    EXPECT_EQ(slurp(set + "/train-images.idx3-ubyte") + slurp(set + "/train-labels.idx1-ubyte") +
                  slurp(set + "/t10k-labels.idx1-ubyte"),
              inputs_before);

    // An earlier file survives every failed run and is replaced whole by a
    // good one; nothing is left beside it.
    const std::string old_csv = dir + "/old.csv";
    write_file(old_csv, {'k', 'e', 'e', 'p', '\n'});
    const char* failing[] = {"--data /no/such/dir", "--test /no/such/dir"};
    for (const char* args : failing) {
        const ToolRun r = run("--data " + set + " --min-steps 20 " + args + " --predictions " + old_csv);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(slurp(old_csv), "keep\n") << args;
    }
    const int lost = std::system((std::string(TAVELIN_TRAIN) + " --data " + set + " --min-steps 20 --predictions " +
                                  old_csv + " >/dev/full 2>/dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(lost), 1);
    EXPECT_EQ(slurp(old_csv), "keep\n");
    ASSERT_EQ(run("--data " + set + " --min-steps 20 --predictions " + old_csv).status, 0);
    EXPECT_EQ(lines(old_csv).size(), 11u);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        entries += entry.path().string().find(".partial") != std::string::npos;
    EXPECT_EQ(entries, 0);
}

// Every --predictions path is judged before the training, which takes
// minutes on the full set: what cannot be written as asked fails at once;
// through a symbolic link it is written as a shell's > would; a closed
// descriptor is not taken by it; the report is never lost; a signal leaves
// an earlier file as it was; nothing is ever left beside it.
TEST_F(TrainTool, PredictionsPathsAreDecidedBeforeTraining) {
    open_directory_to_all(dir);
    const std::string set = dir + "/set", only = dir + "/only";
    mkdir(set.c_str(), 0755);
    mkdir(only.c_str(), 0755);
    write_training_set(set, 20);
    write_training_set(set, 10, "t10k");
    write_training_set(only, 20);
    const std::string tool = std::string(TAVELIN_TRAIN) + " --data " + set + " --min-steps 20";
    // A run stopped by a signal while it trains (timeout sends it).
    const std::string endless = "echo keep >keep.csv && timeout -s ";
    const std::string endless_tool =
        " 1 " + std::string(TAVELIN_TRAIN) + " --data " + set + " --min-steps 2000000000 --predictions keep.csv";
    struct Case {
        std::string what, shell;  // run in dir; standard error goes to err.txt
        int status;               // -1: not checked (a pipeline's, a signal's)
        std::string message;      // on standard error
        std::string csv;          // the file that must hold 11 rows after, or ""
    };
    std::vector<Case> cases = {
        {"/dev/stdout", tool + " --predictions /dev/stdout >out.txt", 2, "it is the standard output", ""},
        {"the file standard output goes to", tool + " --predictions out.txt >out.txt", 2, "standard output", ""},
        {"/dev/stdout on a pipe", tool + " --predictions /dev/stdout | cat >out.txt", -1, "it is a named pipe", ""},
        {"standard error closed", tool + " --predictions p.csv >out.txt 2>&-", 0, "", "p.csv"},
        {"standard input closed", tool + " --predictions p.csv >out.txt <&-", 0, "training on", "p.csv"},
        {"a dangling link", "ln -s made.csv link.csv && " + tool + " --predictions link.csv >out.txt", 0, "",
         "made.csv"},
        {"a link to a file", "echo old >to.csv && ln -s to.csv link.csv && " + tool + " --predictions link.csv >out.txt",
         0, "", "to.csv"},
        {"a loop of links", "ln -s loop1 loop2 && ln -s loop2 loop1 && " + tool + " --predictions loop1", 2,
         "loop1: cannot write predictions there", ""},
        {"no test set", "echo keep >keep.csv && " + std::string(TAVELIN_TRAIN) + " --data " + only +
         " --predictions keep.csv", 1, "no test set in " + only, ""},
        {"a mistyped --test", tool + " --test " + set + "/nowher --predictions p.csv", 1, "nowher/t10k-images", ""},
        {"SIGINT", endless + "INT" + endless_tool, -1, "", ""},
        {"SIGTERM", endless + "TERM" + endless_tool, -1, "", ""},
        {"SIGHUP", endless + "HUP" + endless_tool, -1, "", ""},
        {"SIGPIPE", endless + "KILL 60" + endless_tool + " | head -c 1", -1, "", ""},
    };
    // Another user's file in a sticky folder can be written but not renamed over.
    if (!unprivileged_command_prefix().empty())
        cases.push_back({"a sticky folder", "mkdir -m 1777 sticky && echo keep >sticky/keep.csv && chmod 666 "
                         "sticky/keep.csv && " + unprivileged_command_prefix() + tool + " --predictions sticky/keep.csv",
                         1, "it belongs to another user in the sticky folder", ""});
    for (const Case& c : cases) {
        const int raw = std::system(("cd " + dir + " && timeout -k 5 120 sh -c '" + c.shell + "' 2>err.txt").c_str());
        const std::string err = slurp(dir + "/err.txt"), out = slurp(dir + "/out.txt");
        EXPECT_TRUE(c.status < 0 || (WIFEXITED(raw) && WEXITSTATUS(raw) == c.status)) << c.what << ": " << raw;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.what << ": " << err;
        // Refused before training; else the report is out and the file whole.
        EXPECT_TRUE(c.status <= 0 || err.find("training on") == std::string::npos) << c.what << ": trained";
        EXPECT_EQ(out.find("accuracy:") != std::string::npos, !c.csv.empty()) << c.what << ": " << out;
        EXPECT_TRUE(c.csv.empty() || slurp(dir + "/" + c.csv).rfind("index,label,predicted,confidence\n", 0) == 0)
            << c.what;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".partial-"), std::string::npos) << c.what;
            EXPECT_TRUE(name != "keep.csv" || slurp(entry.path().string()) == "keep\n") << c.what;
        }
        remove_tree(dir + "/sticky");
        for (const char* f : {"out.txt", "p.csv", "made.csv", "link.csv", "to.csv", "loop1", "loop2", "keep.csv"})
            std::remove((dir + "/" + f).c_str());
    }
}

// The rows of docs/bad-inputs.md for tavelin-train, one group per kind of
// damage. Every case must end in a clear message that names the file, and
// the status the usage text promises (1 for unusable data).

const std::string train_images = "/train-images.idx3-ubyte";
const std::string train_labels = "/train-labels.idx1-ubyte";
const std::string test_images = "/t10k-images.idx3-ubyte";
const std::string test_labels = "/t10k-labels.idx1-ubyte";

TEST_F(TrainTool, UnreadableTrainingFilesAreDataErrorsThatNameTheFile) {
    struct Case {
        const char* what;
        std::string file;   // the damaged one
        void (*damage)(const std::string& path);
        const char* reason;
    };
    auto remove_file = [](const std::string& path) { std::remove(path.c_str()); };
    auto empty_file = [](const std::string& path) { write_file(path, {}); };
    auto directory = [](const std::string& path) {
        std::remove(path.c_str());
        mkdir(path.c_str(), 0755);
    };
    const Case cases[] = {
        {"missing images", train_images, remove_file, "No such file or directory"},
        {"missing labels", train_labels, remove_file, "No such file or directory"},
        {"empty images", train_images, empty_file, "too short for an image file header (0 bytes)"},
        {"empty labels", train_labels, empty_file, "too short for a label file header (0 bytes)"},
        {"directory for images", train_images, directory, "it is a directory"},
        {"directory for labels", train_labels, directory, "it is a directory"},
        {"named pipe for images", train_images, [](const std::string& path) {
             std::remove(path.c_str());
             mkfifo(path.c_str(), 0644);
         }, "it is a named pipe, not a file"},
        {"device for labels", train_labels, [](const std::string& path) {
             std::remove(path.c_str());
             symlink("/dev/zero", path.c_str());
         }, "it is a device, not a file"},
    };
    for (const Case& c : cases) {
        remove_tree(dir + "/set");
        mkdir((dir + "/set").c_str(), 0755);
        write_training_set(dir + "/set", 20);
        c.damage(dir + "/set" + c.file);
        const ToolRun r = run("--data " + dir + "/set --min-steps 20");
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_NE(r.err.find(dir + "/set" + c.file), std::string::npos) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find("tavelin-train: no training samples in " + dir + "/set"), std::string::npos)
            << c.what << ": " << r.err;
        EXPECT_EQ(r.out.find("case"), std::string::npos) << c.what;
    }
}

// MNIST as downloaded (dashes, gzipped, both) trains and predicts bit for
// bit as the unpacked files under their own names: only the time differs.
TEST_F(TrainTool, FilesAsDownloadedTrainBitIdentically) {
    auto results = [](const std::string& out) {  // all but the time and the test file's name
        return std::regex_replace(out, std::regex("(training|test): .*\n"), "");
    };
    std::string plain;
    for (size_t form = 0; form < 4; form++) {
        const std::string folder = dir + "/form" + std::to_string(form);
        mkdir(folder.c_str(), 0755);
        write_training_set(folder, 60);
        write_training_set(folder, 40, "t10k");
        using namespace tavelin;
        for (const char* name : {training_images_name, training_labels_name, test_images_name, test_labels_name}) {
            const std::string file = slurp(folder + "/" + name);
            std::remove((folder + "/" + name).c_str());
            const Bytes bytes(file.begin(), file.end());
            write_file(folder + "/" + data_file_forms(name)[form], form >= 2 ? gzipped(bytes) : bytes);
        }
        const ToolRun r = run("--data " + folder + " --min-steps 1200 --predictions " + folder + ".csv");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(" from " + folder + "/" + data_file_forms(training_images_name)[form] + "\n"),
                  std::string::npos) << r.err;
        if (form == 0) plain = results(r.out) + slurp(folder + ".csv");
        EXPECT_EQ(results(r.out) + slurp(folder + ".csv"), plain);
    }
    EXPECT_NE(plain.find("case 1000 err="), std::string::npos) << plain;
}

TEST_F(TrainTool, TrainingFileWithoutReadPermissionIsADataError) {
    open_directory_to_all(dir);
    write_training_set(dir, 20);
    // Root reads it anyway: the tool runs as "nobody" then.
    const std::string as_user = unprivileged_command_prefix();
    const std::string probe = as_user + TAVELIN_TRAIN + " --help >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) GTEST_SKIP() << "user nobody cannot run " << TAVELIN_TRAIN;
    for (const std::string& file : {train_images, train_labels}) {
        chmod((dir + train_images).c_str(), 0644);
        chmod((dir + train_labels).c_str(), 0644);
        chmod((dir + file).c_str(), 0);
        const std::string out = dir + "/stdout", err = dir + "/stderr";
        const int raw = std::system((as_user + TAVELIN_TRAIN + " --data " + dir + " --min-steps 20 >" + out +
                                     " 2>" + err).c_str());
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 1) << file;
        const std::string message = slurp(err);
        EXPECT_NE(message.find(dir + file + ": cannot read training"), std::string::npos) << message;
        EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
    }
}

TEST_F(TrainTool, HeadersThatLieTrainOnTheCompleteRecords) {
    // Image count 0: nothing to train on.
    write_file(dir + train_images, idx_images(0, 20, pattern_pixel));
    write_file(dir + train_labels, idx_labels(20, labels_mod_ten(20)));
    ToolRun r = run("--data " + dir + " --min-steps 20");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir + train_images + ": header gives an image count of 0"), std::string::npos) << r.err;

    // Image count 0xFFFFFFFF over 20 images.
    write_file(dir + train_images, idx_images(0xFFFFFFFFu, 20, pattern_pixel));
    r = run("--data " + dir + " --min-steps 20");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("header promises 4294967295 images"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("training on 20 samples"), std::string::npos) << r.err;

    // The last record cut short.
    Bytes cut = idx_images(20, 20, pattern_pixel);
    cut.resize(cut.size() - 100);
    write_file(dir + train_images, cut);
    r = run("--data " + dir + " --min-steps 20");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("19 complete images"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("training on 19 samples"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("training: 38 steps"), std::string::npos) << r.out;  // two whole passes

    // Fewer labels than images.
    write_file(dir + train_images, idx_images(20, 20, pattern_pixel));
    write_file(dir + train_labels, idx_labels(20, labels_mod_ten(7)));
    r = run("--data " + dir + " --min-steps 20");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(dir + train_labels + " 7 labels; using the first 7"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("training on 7 samples"), std::string::npos) << r.err;
}

TEST_F(TrainTool, OddShapesAndLabelsAreUsedWithAWarning) {
    write_file(dir + train_images, idx_images(20, 20, pattern_pixel, 14, 56));
    std::vector<uint8_t> wild = labels_mod_ten(20);
    wild[3] = 10;
    wild[4] = 255;
    write_file(dir + train_labels, idx_labels(20, wild));
    std::vector<uint8_t> test_wild = labels_mod_ten(10);
    test_wild[0] = 200;
    write_file(dir + test_images, idx_images(10, 10, pattern_pixel, 0, 0xFFFFFFFFu));
    write_file(dir + test_labels, idx_labels(10, test_wild));
    const ToolRun r = run("--data " + dir + " --min-steps 20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(dir + train_images + ": header gives images of 14 rows and 56 columns"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(dir + test_images + ": header gives images of 0 rows and 4294967295 columns"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(dir + train_labels + ": 2 labels above 9"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("training on 20 samples"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("test: 10 images"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("labels above 9: 1"), std::string::npos) << r.out;
}

TEST_F(TrainTool, TestSetWhoseSizeDiffersFromItsLabels) {
    write_training_set(dir, 20);
    // More labels than images: the image count governs, without a word.
    write_file(dir + test_images, idx_images(10, 10, pattern_pixel));
    write_file(dir + test_labels, idx_labels(30, labels_mod_ten(30)));
    ToolRun r = run("--data " + dir + " --min-steps 20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("test: 10 images"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("promises"), std::string::npos) << r.err;

    // An image count above what the image file holds.
    write_file(dir + test_images, idx_images(50, 10, pattern_pixel));
    write_file(dir + test_labels, idx_labels(50, labels_mod_ten(50)));
    r = run("--data " + dir + " --min-steps 20");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(dir + test_images + ": header promises 50 images, but the file holds 10"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("test: 10 images"), std::string::npos) << r.out;

    // No labels at all.
    std::remove((dir + test_labels).c_str());
    r = run("--data " + dir + " --min-steps 20");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir + test_labels + ": cannot read test labels"), std::string::npos) << r.err;
}

// An evaluation of no images once printed "accuracy: 0.00% (0 of 0)" and
// exited 0, as if it were a result.
TEST_F(TrainTool, TestSetWithoutUsableImagesIsADataError) {
    write_training_set(dir, 20);
    const Bytes no_records[] = {idx_images(0, 10, pattern_pixel), idx_images(10, 0, pattern_pixel)};
    for (const Bytes& images : no_records) {
        write_file(dir + test_images, images);
        write_file(dir + test_labels, idx_labels(10, labels_mod_ten(10)));
        const ToolRun r = run("--data " + dir + " --min-steps 20");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("tavelin-train: no test images with labels in " + dir), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("accuracy"), std::string::npos) << r.out;
    }
    write_file(dir + test_images, idx_images(10, 10, pattern_pixel));
    write_file(dir + test_labels, idx_labels(10, {}));  // a header and no label
    ToolRun r = run("--data " + dir + " --min-steps 20");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no test images with labels"), std::string::npos) << r.err;
    write_file(dir + test_labels, {});
    r = run("--data " + dir + " --min-steps 20");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir + test_labels + ": too short for a label file header (0 bytes)"), std::string::npos)
        << r.err;
}

}  // namespace
