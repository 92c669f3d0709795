// A network trained on real handwritten digits reads digits drawn with the
// mouse: 104 drawings replayed through the window procedure as a hand makes
// them (left button down, moves, up), then Enter. Needs the real digits in
// data/ (scripts/get-data); without them it fails.
//
// With TAVELIN_PICTURES=DIR set, it also writes the painted client area
// after each Enter to DIR, as PPM files (scripts/battery-pictures).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/canvas.h"
#include "app/window.h"
#include "core/random.h"
#include "drawn_digits.h"
#include "headless.h"
#include "program_window.h"
#include "training/network.h"
#include "training/recognize.h"

#ifndef TAVELIN_DATA_DIR
#error "TAVELIN_DATA_DIR must name the folder scripts/get-data fills"
#endif

namespace tavelin {
namespace {

LPARAM position(test_util::ClientPoint p) { return LPARAM((uint32_t(p.y) << 16) | uint32_t(p.x)); }

// The hand between strokes hovers to the next one, the button up.
void replay(HWND hwnd, const test_util::DrawnDigit& d) {
    for (const test_util::Polyline& stroke : d.strokes) {
        const auto points = test_util::mouse_positions(stroke, d.spacing, int32_t(client_width), int32_t(client_height));
        window_proc(hwnd, WM_MOUSEMOVE, 0, position(points.front()));
        window_proc(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, position(points.front()));
        for (size_t i = 1; i < points.size(); i++) window_proc(hwnd, WM_MOUSEMOVE, MK_LBUTTON, position(points[i]));
        window_proc(hwnd, WM_LBUTTONUP, 0, position(points.back()));
    }
}

void write_picture(HWND hwnd, const std::string& path) {
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
    const platform::PixelBuffer p = headless::client_pixels(hwnd);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
    for (size_t i = 0; i + 3 < p.bgrx.size(); i += 4) {
        const uint8_t rgb[3] = {p.bgrx[i + 2], p.bgrx[i + 1], p.bgrx[i]};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
}

struct Tally {
    int as_drawn = 0, normalised = 0, total = 0;
};

TEST(DrawnDigits, AreReadAfterFittingThemIntoTheShapeOfTheTrainingDigits) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    TrainingConfig config;
    config.image_path = TAVELIN_DATA_DIR "/train-images.idx3-ubyte";
    config.label_path = TAVELIN_DATA_DIR "/train-labels.idx1-ubyte";
    struct stat st;
    ASSERT_TRUE(stat(config.image_path.c_str(), &st) == 0 && stat(config.label_path.c_str(), &st) == 0)
        << "no real handwritten digits in " TAVELIN_DATA_DIR ": scripts/get-data puts them there";
    const char* pictures = std::getenv("TAVELIN_PICTURES");

    // A second network, trained the same way from the same start, reads the
    // canvas as Enter read it before drawings were fitted: --as-drawn must
    // give its answers.
    testing::internal::CaptureStdout();
    Network reference;
    set_rand_state(rand_initial_state);
    train_network(reference, config);
    set_rand_state(rand_initial_state);
    window_training_config = config;
    HWND hwnd = test_util::open_program_window();
    ASSERT_NE(hwnd, nullptr);
    window_proc(hwnd, WM_TIMER, 1, 0);
    const std::string progress = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(network_ready);
    ASSERT_FALSE(training_data_missing) << progress;

    std::map<std::string, Tally> by_way;
    Tally all;
    std::string wrong;
    const std::vector<test_util::DrawnDigit> drawings = test_util::drawn_digits();
    for (size_t k = 0; k < drawings.size(); k++) {
        const test_util::DrawnDigit& d = drawings[k];
        window_proc(hwnd, WM_KEYDOWN, VK_SPACE, 0);
        replay(hwnd, d);
        int32_t read[2];
        for (bool as_drawn : {true, false}) {
            recognize_as_drawn = as_drawn;
            window_proc(hwnd, WM_KEYDOWN, VK_RETURN, 0);
            read[as_drawn] = recognized_digit;
            if (pictures) {
                std::string name = d.way;
                for (char& c : name)
                    if (c == ' ') c = '-';
                char path[512];
                std::snprintf(path, sizeof path, "%s/%03zu-%d-%s-%s.ppm", pictures, k, int(d.digit), name.c_str(),
                              as_drawn ? "as-drawn" : "normalised");
                write_picture(hwnd, path);
            }
        }
        uint8_t bytes[28 * 28];
        canvas_to_bytes(bytes);
        EXPECT_EQ(read[true], recognize(reference, bytes)) << d.digit << " " << d.way;

        Tally& t = by_way[d.way.find(' ') == std::string::npos ? d.way : "other shapes"];
        for (Tally* tally : {&t, &all}) {
            tally->total++;
            tally->as_drawn += read[true] == d.digit;
            tally->normalised += read[false] == d.digit;
        }
        if (read[false] != d.digit)
            wrong += "  " + std::to_string(d.digit) + " " + d.way + ": read as " + std::to_string(read[false]) + "\n";
    }
    recognize_as_drawn = false;

    std::printf("%-14s %9s %11s\n", "way", "as drawn", "normalised");
    for (const auto& [way, t] : by_way)
        std::printf("%-14s %4d of %2d %5d of %2d\n", way.c_str(), t.as_drawn, t.total, t.normalised, t.total);
    std::printf("%-14s %4d of %2d %5d of %2d (%.1f%% and %.1f%%)\n", "all", all.as_drawn, all.total, all.normalised,
                all.total, 100.0 * all.as_drawn / all.total, 100.0 * all.normalised / all.total);
    EXPECT_GE(all.total, 80);
    EXPECT_GE(100 * all.normalised, 95 * all.total) << "read wrongly after fitting:\n" << wrong;
}

}  // namespace
}  // namespace tavelin
