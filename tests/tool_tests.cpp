// tavelin-train as a user runs it: on small IDX files the tests write,
// with good, missing and malformed data and bad arguments.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_files.h"

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
        const std::string command = std::string(TAVELIN_TRAIN) + " " + args + " >" + out + " 2>" + err;
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
                             "--min-steps 99999999999", "--data", "--bogus", "stray"}) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args << ": " << r.err;
    }
    const ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--predictions"), std::string::npos);
}

TEST_F(TrainTool, UnwritablePredictionsFileIsReportedBeforeTraining) {
    write_training_set(dir, 20);
    const ToolRun r = run("--data " + dir + " --predictions " + dir + "/no/such/dir/p.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no/such/dir/p.csv"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("case"), std::string::npos);
}

}  // namespace
