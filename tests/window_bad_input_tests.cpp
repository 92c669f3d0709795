// The window program on damaged training files: the window rows of
// docs/bad-inputs.md. Each case runs the way a user meets it: a data/
// folder with one kind of damage, the window created, shown and painted,
// the first timer tick (training), then Tab, a stroke and Enter. Every case
// runs in a child process of its own, since the window trains only once
// per process; the child reports what the status line said at each step
// on standard error, next to the program's own messages.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/canvas.h"
#include "app/window.h"
#include "core/random.h"
#include "program_window.h"
#include "test_files.h"
#include "child_process.h"

namespace tavelin {
namespace {

using test_util::Bytes;
using test_util::labels_mod_ten;

constexpr int32_t images_in_set = 20;
const std::string image_file = "data/train-images.idx3-ubyte";
const std::string label_file = "data/train-labels.idx1-ubyte";

// The user's session, in the child. Reports each step on standard error:
//   status before training: ...
//   status after training: ...
//   tab: canvas changed | canvas unchanged
//   status after enter: ...
//   exit code: ...
int user_session() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    window_training_config.min_steps = 40;
    find_training_data();
    HWND hwnd = test_util::open_program_window();
    if (hwnd == nullptr) return 11;
    std::fprintf(stderr, "status before training: %s\n", format_status_text().c_str());

    window_proc(hwnd, WM_TIMER, 1, 0);
    UpdateWindow(hwnd);
    std::fprintf(stderr, "status after training: %s\n", format_status_text().c_str());

    Pixel before[canvas_side * canvas_side];
    std::memcpy(before, canvas, sizeof before);
    set_rand_state(rand_initial_state);  // the first draw is 41: image 40, or wrapped round
    window_proc(hwnd, WM_KEYDOWN, VK_TAB, 0);
    std::fprintf(stderr, "tab: %s\n", std::memcmp(before, canvas, sizeof before) ? "canvas changed" : "canvas unchanged");

    window_proc(hwnd, WM_MOUSEMOVE, MK_LBUTTON, LPARAM(100 | 125 << 16));
    window_proc(hwnd, WM_KEYDOWN, VK_RETURN, 0);
    window_proc(hwnd, WM_TIMER, 1, 0);
    UpdateWindow(hwnd);
    std::fprintf(stderr, "status after enter: %s\n", format_status_text().c_str());

    // Closing: the code WinMain would return.
    DefWindowProcA(hwnd, WM_CLOSE, 0, 0);
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) != 0) DispatchMessageA(&msg);
    std::fprintf(stderr, "exit code: %d\n", int(msg.wParam));
    std::fflush(stderr);
    return 0;
}

class WindowOnBadData : public ::testing::Test {
protected:
    std::string dir = test_util::make_temp_dir();
    void SetUp() override {
        ASSERT_EQ(mkdir((dir + "/data").c_str(), 0755), 0);
        test_util::write_training_set(dir + "/data", images_in_set);
    }
    void TearDown() override { test_util::remove_tree(dir); }

    std::string path(const std::string& file) const { return dir + "/" + file; }
    void write(const std::string& file, const Bytes& bytes) const { test_util::write_file(path(file), bytes); }

    // The session in a child, in `dir`; standard error of it all.
    std::string session(bool as_nobody = false) {
        const std::string where = dir;
        const test_util::ChildRun run = test_util::run_in_child(
            [where] {
                // An empty user's data folder: data/ is the only set.
                setenv("XDG_DATA_HOME", (where + "/user").c_str(), 1);
                return chdir(where.c_str()) == 0 ? user_session() : 12;
            },
            as_nobody);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("exit code: 0\n"), std::string::npos) << run.err;
        return run.err;
    }
};

void expect_has(const std::string& text, const std::string& part) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin:\n" << text;
}

// Training finds no usable sample: the status line says so, the network
// stays empty and Enter recognises nothing.
void expect_no_training(const std::string& err) {
    expect_has(err, "status before training: Loading Training data\n");
    expect_has(err, image_file + ": no training samples; the network stays untrained\n");
    expect_has(err, "/data nor in ");
    expect_has(err, "/user/tavelin/data nor in ");
    expect_has(err, ". tavelin-get-data fetches the full set into ");
    expect_has(err, "/user/tavelin/data; in the source tree");
    expect_has(err, "status after training: No training data in\n");
    expect_has(err, "status after enter: No training data in\n");
}

void expect_trained(const std::string& err) {
    expect_has(err, "status after training: results: -1 0.0 confidence\n");
    expect_has(err, "status after enter: results: ");
    EXPECT_EQ(err.find("no training samples"), std::string::npos) << err;
}

TEST_F(WindowOnBadData, MissingFiles) {
    std::remove(path(image_file).c_str());
    std::string err = session();
    expect_no_training(err);
    expect_has(err, image_file + ": cannot read training images: No such file or directory\n");
    expect_has(err, "cannot show a training image: " + image_file + ": No such file or directory\n");
    expect_has(err, "tab: canvas unchanged\n");

    write(image_file, test_util::idx_images(images_in_set, images_in_set, test_util::pattern_pixel));
    std::remove(path(label_file).c_str());
    err = session();
    expect_no_training(err);
    expect_has(err, label_file + ": cannot read training labels: No such file or directory\n");
    expect_has(err, "tab: canvas changed\n");  // Tab reads only the image file
}

TEST_F(WindowOnBadData, EmptyFiles) {
    write(image_file, {});
    std::string err = session();
    expect_no_training(err);
    expect_has(err, image_file + ": too short for an image file header (0 bytes)\n");
    expect_has(err, "cannot show a training image: " + image_file + " holds no complete image\n");
    expect_has(err, "tab: canvas unchanged\n");

    test_util::write_training_set(dir + "/data", images_in_set);
    write(label_file, {});
    err = session();
    expect_no_training(err);
    expect_has(err, label_file + ": too short for a label file header (0 bytes)\n");
    expect_has(err, "tab: canvas changed\n");
}

// None of these is opened: a named pipe without a writer would block the
// window for ever (the session's time limit catches that), a device never
// ends.
TEST_F(WindowOnBadData, DirectoryNamedPipeOrDeviceInPlaceOfAFile) {
    const std::pair<const char*, int (*)(const char*)> cases[] = {
        {"a directory", [](const char* p) { return mkdir(p, 0755); }},
        {"a named pipe", [](const char* p) { return mkfifo(p, 0644); }},
        {"a device", [](const char* p) { return symlink("/dev/zero", p); }},
    };
    for (const auto& [kind, make] : cases) {
        test_util::remove_tree(path(image_file));
        ASSERT_EQ(make(path(image_file).c_str()), 0) << kind;
        const std::string err = session();
        expect_no_training(err);
        const std::string why = std::string(": it is ") + kind + ", not a file\n";
        expect_has(err, image_file + ": cannot read training images" + why);
        expect_has(err, "cannot show a training image: " + image_file + why);
        expect_has(err, "tab: canvas unchanged\n");
    }
}

TEST_F(WindowOnBadData, FileWithoutReadPermission) {
    test_util::open_directory_to_all(dir);
    test_util::open_directory_to_all(dir + "/data");
    chmod(path(image_file).c_str(), 0);
    const std::string err = session(/*as_nobody=*/true);
    expect_no_training(err);
    expect_has(err, image_file + ": cannot read training images: Permission denied\n");
    expect_has(err, "cannot show a training image: " + image_file + ": Permission denied\n");
    expect_has(err, "tab: canvas unchanged\n");
}

TEST_F(WindowOnBadData, ImageCountOfZero) {
    write(image_file, test_util::idx_images(0, images_in_set, test_util::pattern_pixel));
    const std::string err = session();
    expect_no_training(err);
    expect_has(err, image_file + ": header gives an image count of 0: no training images\n");
    // Tab never reads the header's count: the records are there.
    expect_has(err, "tab: canvas changed\n");
}

TEST_F(WindowOnBadData, ImageCountOfAllOnes) {
    write(image_file, test_util::idx_images(0xFFFFFFFFu, images_in_set, test_util::pattern_pixel));
    const std::string err = session();
    expect_has(err, image_file + ": header promises 4294967295 images, but the file holds 20 complete images");
    expect_trained(err);
    expect_has(err, "tab: canvas changed\n");
}

TEST_F(WindowOnBadData, TruncatedLastRecord) {
    Bytes cut = test_util::idx_images(images_in_set, images_in_set, test_util::pattern_pixel);
    cut.resize(cut.size() - 100);
    write(image_file, cut);
    const std::string err = session();
    expect_has(err, "the file holds 19 complete images");
    expect_trained(err);
    expect_has(err, "tab: canvas changed\n");
}

TEST_F(WindowOnBadData, LabelsAboveNine) {
    std::vector<uint8_t> labels = labels_mod_ten(images_in_set);
    labels[0] = 10;
    labels[5] = 255;
    write(label_file, test_util::idx_labels(images_in_set, labels));
    const std::string err = session();
    expect_has(err, label_file + ": 2 labels above 9; those images are trained towards no digit at all\n");
    expect_trained(err);
}

TEST_F(WindowOnBadData, RowsAndColumnsOtherThan28) {
    write(image_file, test_util::idx_images(images_in_set, images_in_set, test_util::pattern_pixel, 32, 7));
    const std::string err = session();
    expect_has(err, image_file + ": header gives images of 32 rows and 7 columns; reading them as 28 x 28\n");
    expect_trained(err);
    expect_has(err, "tab: canvas changed\n");
}

TEST_F(WindowOnBadData, LabelFileShorterThanTheImageFile) {
    write(label_file, test_util::idx_labels(images_in_set, labels_mod_ten(7)));
    const std::string err = session();
    expect_has(err, label_file + " 7 labels; using the first 7\n");
    expect_trained(err);
}

}  // namespace
}  // namespace tavelin
