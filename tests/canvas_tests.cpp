// The drawing canvas: clearing, inking and shading cells under the mouse,
// the bytes handed to recognition, and training images shown by Tab.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/canvas.h"
#include "core/random.h"
#include "rand_control.h"
#include "test_files.h"

namespace tavelin {
namespace {

struct Rgb {
    int blue, green, red;
    bool operator==(const Rgb& o) const { return blue == o.blue && green == o.green && red == o.red; }
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.blue << ", " << c.green << ", " << c.red << ")";
}

Rgb at(int32_t x, int32_t y) {
    const Pixel& p = canvas[x + canvas_side * y];
    return Rgb{p.blue, p.green, p.red};
}

const Rgb white{255, 255, 255};
const Rgb ink{9, 0, 0};
const Rgb black{0, 0, 0};
Rgb grey(int v) { return Rgb{v, v, v}; }

// Every pixel not listed in `expected` is still white, and every fourth
// byte is still 255.
void expect_canvas(const std::vector<std::pair<std::pair<int, int>, Rgb>>& expected) {
    for (int32_t y = 0; y < canvas_side; y++)
        for (int32_t x = 0; x < canvas_side; x++) {
            Rgb want = white;
            for (const auto& e : expected)
                if (e.first.first == x && e.first.second == y) want = e.second;
            EXPECT_EQ(at(x, y), want) << "pixel (" << x << ", " << y << ")";
            EXPECT_EQ(canvas[x + canvas_side * y].unused, 255) << "pixel (" << x << ", " << y << ")";
        }
}

class Canvas : public ::testing::Test {
protected:
    void SetUp() override {
        clear_canvas();
        canvas_width = canvas_side;
        canvas_height = canvas_side;
    }
    // Each cell 10 x 10 pixels.
    static constexpr uint32_t client = 280;
};

TEST_F(Canvas, ClearingMakesEveryByteWhite) {
    std::memset(canvas, 0, sizeof canvas);
    clear_canvas();
    const auto* bytes = reinterpret_cast<const uint8_t*>(canvas);
    ASSERT_EQ(sizeof canvas, 3136u);
    for (size_t i = 0; i < sizeof canvas; i++) ASSERT_EQ(bytes[i], 255) << "byte " << i;
}

TEST_F(Canvas, DrawingInksTheCellUnderTheMouseAndShadesTheRingAroundIt) {
    draw_at(145, 105, client, client);
    expect_canvas({{{14, 10}, ink},
                   {{13, 9}, grey(191)}, {{14, 9}, grey(191)}, {{15, 9}, grey(191)},
                   {{13, 10}, grey(191)}, {{15, 10}, grey(191)},
                   {{13, 11}, grey(191)}, {{14, 11}, grey(191)}, {{15, 11}, grey(191)}});
}

TEST_F(Canvas, DrawingAgainReinksTheCentreAndDarkensTheRingDownToBlack) {
    const int ring[] = {191, 127, 63, 0, 0};
    for (int step = 0; step < 5; step++) {
        draw_at(145, 105, client, client);
        EXPECT_EQ(at(14, 10), ink) << "after step " << step + 1;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++) {
                if (dx == 0 && dy == 0) continue;
                EXPECT_EQ(at(14 + dx, 10 + dy), grey(ring[step]))
                    << "neighbour (" << dx << ", " << dy << ") after step " << step + 1;
            }
    }
}

TEST_F(Canvas, MouseXScalesByWidthAndMouseYByHeight) {
    // A tall client area: 200 wide, 400 high.
    draw_at(100, 100, 200, 400);
    EXPECT_EQ(at(14, 7), ink);
}

TEST_F(Canvas, InTheFirstColumnTheLeftStepsFallOnTheColumnItself) {
    // fx = 0.5: fx - 1 truncates to 0, not -1.
    draw_at(5, 105, client, client);
    expect_canvas({{{0, 10}, black},
                   {{0, 9}, grey(127)}, {{0, 11}, grey(127)},
                   {{1, 9}, grey(191)}, {{1, 10}, grey(191)}, {{1, 11}, grey(191)}});
}

TEST_F(Canvas, InTheTopRowTheUpperStepsFallOnTheRowItself) {
    draw_at(145, 5, client, client);
    expect_canvas({{{14, 0}, black},
                   {{13, 0}, grey(127)}, {{15, 0}, grey(127)},
                   {{13, 1}, grey(191)}, {{14, 1}, grey(191)}, {{15, 1}, grey(191)}});
}

TEST_F(Canvas, AtTheCornersTheRingIsCutOff) {
    draw_at(0, 0, client, client);
    expect_canvas({{{0, 0}, ink}, {{1, 0}, grey(191)}, {{0, 1}, grey(191)}, {{1, 1}, grey(191)}});

    clear_canvas();
    draw_at(279, 279, client, client);
    expect_canvas({{{27, 27}, ink}, {{26, 27}, grey(191)}, {{27, 26}, grey(191)}, {{26, 26}, grey(191)}});
}

TEST_F(Canvas, AZeroClientSizeChangesNothing) {
    draw_at(145, 105, 0, client);  // fx infinite
    draw_at(145, 105, client, 0);  // fy infinite
    draw_at(0, 0, 0, 0);           // both not a number
    draw_at(0, 105, 0, client);    // fx not a number
    expect_canvas({});
}

TEST_F(Canvas, PositionsBeyondTheIntegerRangeChangeNothing) {
    // 2^31 - 1 columns: fx is about 1.4e14, not convertible to a 32-bit int.
    canvas_width = 2147483647;
    canvas_height = 2147483647;
    draw_at(65535, 65535, 1, 1);
    canvas_width = -2147483647 - 1;
    canvas_height = -2147483647 - 1;
    draw_at(65535, 65535, 1, 1);
    expect_canvas({});
}

TEST_F(Canvas, PositionsPastTheClientAreaChangeNothing) {
    // The mouse can only be reported inside the client area, but a stale
    // size after a resize must not draw out of bounds either.
    draw_at(65535, 105, client, client);
    draw_at(145, 300, client, client);
    expect_canvas({});
}

TEST_F(Canvas, PlottingOutsideTheCanvasChangesNothing) {
    plot_point(28, 0, ink_color);
    plot_point(-1, 3, ink_color);
    plot_point(0, 28, ink_color);
    plot_point(3, -1, ink_color);
    plot_point(-2147483647 - 1, 0, ink_color);
    expect_canvas({});
    plot_point(27, 27, Color{1, 2, 3});
    EXPECT_EQ(at(27, 27), (Rgb{1, 2, 3}));
}

TEST_F(Canvas, ShadingTakesTheAmountOffEachColourAndStopsAtZero) {
    const Color amount = shade_amount;
    plot_point(1, 1, ink_color);
    shade_point(1, 1, amount);
    EXPECT_EQ(at(1, 1), black);

    shade_point(1, 1, amount);
    EXPECT_EQ(at(1, 1), black);

    plot_point(2, 2, Color{100, 30, 64});
    shade_point(2, 2, amount);
    EXPECT_EQ(at(2, 2), (Rgb{36, 0, 0}));

    // Black is left alone even by an amount that would wrap around.
    plot_point(3, 3, Color{0, 0, 0});
    shade_point(3, 3, Color{255, 255, 255});
    EXPECT_EQ(at(3, 3), black);

    shade_point(28, 3, amount);
    shade_point(3, -1, amount);
    EXPECT_EQ(canvas[3 + 28 * 3].unused, 255);
}

TEST_F(Canvas, BytesForRecognitionAreTheComplementOfBlue) {
    uint8_t bytes[784];
    std::memset(bytes, 0xAA, sizeof bytes);
    canvas_to_bytes(bytes);
    for (int i = 0; i < 784; i++) ASSERT_EQ(bytes[i], 0) << "byte " << i;

    draw_at(145, 105, client, client);
    canvas_to_bytes(bytes);
    for (int y = 0; y < 28; y++)
        for (int x = 0; x < 28; x++) {
            const int i = x + 28 * y;
            int want = 0;
            if (x == 14 && y == 10) {
                want = 246;
            } else if (std::abs(x - 14) <= 1 && std::abs(y - 10) <= 1) {
                want = 64;
            }
            EXPECT_EQ(bytes[i], want) << "byte " << i;
        }
    EXPECT_EQ(bytes[294], 246);

    // Green and red are not read.
    plot_point(0, 0, Color{255, 0, 0});
    plot_point(1, 0, Color{0, 255, 255});
    canvas_to_bytes(bytes);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 255);
}

using test_util::set_next_rand;

TEST(RandomDraw, SetNextRandControlsTheNextValue) {
    for (int32_t v : {0, 1, 2, 3, 9, 32767}) {
        set_next_rand(v);
        EXPECT_EQ(tavelin::rand(), v);
    }
}

// A temporary working directory with data/train-images.idx3-ubyte.
class RandomSample : public Canvas {
protected:
    void SetUp() override {
        Canvas::SetUp();
        dir_ = test_util::make_temp_dir();
        ASSERT_EQ(::mkdir((dir_ + "/data").c_str(), 0755), 0);
        char cwd[4096];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        old_cwd_ = cwd;
        ASSERT_EQ(::chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(::chdir(old_cwd_.c_str()), 0);
        test_util::remove_tree(dir_);
    }
    // Image k is filled with pixel value image_value(k), except pixel (0, 0)
    // which is 0 and pixel (27, 27) which is 255.
    static uint8_t pixel(int32_t k, int32_t r, int32_t c) {
        if (r == 0 && c == 0) return 0;
        if (r == 27 && c == 27) return 255;
        return image_value(k);
    }
    static uint8_t image_value(int32_t k) { return uint8_t(10 + 20 * k); }
    void write_images(uint32_t header_count, int32_t images, size_t extra_bytes = 0) {
        test_util::Bytes b = test_util::idx_images(header_count, images, pixel);
        b.resize(b.size() + extra_bytes, 7);
        test_util::write_file("data/train-images.idx3-ubyte", b);
    }
    // Which image of the file the canvas shows, or -1.
    static int shown_image() {
        if (!(at(0, 0) == white) || !(at(27, 27) == black)) return -1;
        const int v = 255 - at(5, 5).blue;
        for (int k = 0; k < 12; k++)
            if (image_value(k) == v) return k;
        return -1;
    }

    std::string dir_, old_cwd_;
};

TEST_F(RandomSample, ADrawOfOneShowsTheFirstImage) {
    write_images(5, 5);
    set_next_rand(1);
    show_random_sample();
    EXPECT_EQ(shown_image(), 0);
    // Training byte 0 is white, 255 black, anything else its complement.
    EXPECT_EQ(at(0, 0), white);
    EXPECT_EQ(at(27, 27), black);
    EXPECT_EQ(at(13, 4), grey(255 - image_value(0)));
    EXPECT_EQ(canvas[0].unused, 255);
}

TEST_F(RandomSample, ADrawOfRShowsImageRMinusOne) {
    write_images(5, 5);
    set_next_rand(4);
    show_random_sample();
    EXPECT_EQ(shown_image(), 3);
}

TEST_F(RandomSample, ADrawOfZeroShowsTheLastImage) {
    write_images(5, 5);
    set_next_rand(0);
    show_random_sample();
    EXPECT_EQ(shown_image(), 4);
}

TEST_F(RandomSample, DrawsPastTheEndOfTheFileWrapAround) {
    write_images(5, 5);
    set_next_rand(6);  // record 5 does not exist: (6 - 1) mod 5 = 0
    show_random_sample();
    EXPECT_EQ(shown_image(), 0);

    set_next_rand(32767);  // (32766 mod 5) = 1
    show_random_sample();
    EXPECT_EQ(shown_image(), 1);
}

TEST_F(RandomSample, OnlyCompleteRecordsCountAndTheHeaderCountIsIgnored) {
    // The header promises 60000 images, the file holds 3 and part of a fourth.
    write_images(60000, 3, 500);
    set_next_rand(4);  // record 3 is incomplete: (4 - 1) mod 3 = 0
    show_random_sample();
    EXPECT_EQ(shown_image(), 0);

    set_next_rand(3);
    show_random_sample();
    EXPECT_EQ(shown_image(), 2);
}

TEST_F(RandomSample, EachTabTakesOneValueFromTheSharedSequence) {
    write_images(5, 5);
    set_next_rand(2);
    const uint32_t before = rand_state();
    show_random_sample();
    set_rand_state(before);
    tavelin::rand();
    const uint32_t after_one_draw = rand_state();
    set_rand_state(before);
    show_random_sample();
    EXPECT_EQ(rand_state(), after_one_draw);
}

TEST_F(RandomSample, AnUnreadableFileLeavesTheCanvasAsItIs) {
    draw_at(145, 105, client, client);
    std::vector<uint8_t> before(reinterpret_cast<uint8_t*>(canvas), reinterpret_cast<uint8_t*>(canvas) + 3136);
    set_next_rand(1);
    show_random_sample();  // no file at all
    EXPECT_EQ(std::memcmp(before.data(), canvas, before.size()), 0);

    write_images(0, 0);  // a header and no image
    show_random_sample();
    EXPECT_EQ(std::memcmp(before.data(), canvas, before.size()), 0);

    test_util::write_file("data/train-images.idx3-ubyte", {1, 2, 3});  // not even a header
    show_random_sample();
    EXPECT_EQ(std::memcmp(before.data(), canvas, before.size()), 0);
}

}  // namespace
}  // namespace tavelin
