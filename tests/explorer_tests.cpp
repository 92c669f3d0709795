// The explorer's picture as a function of its state: known scores give
// known bar lengths, a weight's sign its colour, training's progress the
// progress bar, and no size writes outside the picture.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "app/explorer_picture.h"

using namespace tavelin;

namespace {

struct Case {
    const char* name;
    int32_t width, height;
    std::function<void(ExplorerState&)> set;
    // Checks on the picture, given pixel(x, y) and the layout.
    std::function<void(const std::function<Pixel(LONG, LONG)>&, const ExplorerLayout&)> check;
};

bool reddish(Pixel p) { return p.red > p.blue + 60; }
bool bluish(Pixel p) { return p.blue > p.red + 60; }
bool same(Pixel a, Pixel b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }
LONG middle(LONG a, LONG b) { return (a + b) / 2; }

TEST(ExplorerPicture, FollowsTheState) {
    const std::vector<Case> cases = {
        {"bars as long as the scores, the digit's marked", 720, 480,
         [](ExplorerState& s) {
             s.has_answer = true;
             s.scores[3] = 80.0f;
             s.scores[5] = 20.0f;
             s.digit = 3;
         },
         [](auto pixel, const ExplorerLayout& l) {
             for (int32_t d : {3, 5}) {
                 const RECT t = l.bar_track[d];
                 const LONG y = middle(t.top, t.bottom);
                 const LONG end = t.left + (t.right - t.left) * (d == 3 ? 80 : 20) / 100;
                 EXPECT_FALSE(same(pixel(end - 1, y), pixel(end + 1, y))) << d << ": the bar ends at " << end;
                 EXPECT_TRUE(same(pixel(end + 1, y), pixel(t.right - 1, y))) << d;
             }
             const LONG y3 = middle(l.bar_track[3].top, l.bar_track[3].bottom);
             const LONG y5 = middle(l.bar_track[5].top, l.bar_track[5].bottom);
             EXPECT_FALSE(same(pixel(l.bar_track[3].left, y3), pixel(l.bar_track[5].left, y5))) << "digit not marked";
             const LONG y0 = middle(l.bar_track[0].top, l.bar_track[0].bottom);
             EXPECT_TRUE(same(pixel(l.bar_track[0].left, y0), pixel(l.bar_track[0].right - 1, y0))) << "empty bar";
         }},
        {"no answer: every bar empty, the seen image blank", 720, 480, [](ExplorerState& s) { s.scores[3] = 90.0f; },
         [](auto pixel, const ExplorerLayout& l) {
             for (int32_t d = 0; d < digit_count; d++) {
                 const LONG y = middle(l.bar_track[d].top, l.bar_track[d].bottom);
                 EXPECT_TRUE(same(pixel(l.bar_track[d].left, y), pixel(l.bar_track[d].right - 1, y))) << d;
             }
             const Pixel seen = pixel(middle(l.seen.left, l.seen.right), middle(l.seen.top, l.seen.bottom));
             EXPECT_TRUE(seen.red == 255 && seen.green == 255 && seen.blue == 255);
         }},
        {"positive weights red, negative blue, zero white", 1440, 960,
         [](ExplorerState& s) {
             s.has_filters = true;
             for (int32_t i = 0; i < 25; i++) {
                 s.filters[size_t(i)] = 0.5f;
                 s.filters[size_t(25 + i)] = -0.25f;
             }
         },
         [](auto pixel, const ExplorerLayout& l) {
             auto centre = [&](const RECT& r) { return pixel(middle(r.left, r.right), middle(r.top, r.bottom)); };
             EXPECT_TRUE(reddish(centre(l.filters[0])));
             EXPECT_TRUE(bluish(centre(l.filters[1])));
             const Pixel zero = centre(l.filters[2]);
             EXPECT_TRUE(zero.red == 255 && zero.green == 255 && zero.blue == 255);
         }},
        {"the progress bar as far as the steps", 720, 480,
         [](ExplorerState& s) {
             s.run.steps_planned = 1000;
             s.run.steps = 250;
         },
         [](auto pixel, const ExplorerLayout& l) {
             const RECT b = l.progress_bar;
             const LONG y = middle(b.top, b.bottom), end = b.left + (b.right - b.left) / 4;
             EXPECT_FALSE(same(pixel(end - 1, y), pixel(end + 1, y)));
             EXPECT_TRUE(same(pixel(end + 1, y), pixel(b.right - 1, y)));
         }},
    };
    Pixel canvas[image_bytes];
    for (Pixel& p : canvas) p = Pixel{255, 255, 255, 255};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExplorerState state;
        c.set(state);
        std::vector<Pixel> picture(size_t(c.width) * size_t(c.height));
        compose_explorer(state, canvas, c.width, c.height, picture.data());
        c.check([&](LONG x, LONG y) { return picture[size_t(y) * size_t(c.width) + size_t(x)]; },
                explorer_layout(c.width, c.height));
    }
}

// Every size, from one pixel to the largest client area, in a buffer with
// guard pixels after it: a full state writes only its own pixels.
TEST(ExplorerPicture, StaysInsideThePicture) {
    ExplorerState state;
    state.has_answer = state.has_filters = true;
    state.scores.fill(100.0f);
    state.filters.fill(-1.0f);
    state.rectified.fill(2.0f);
    state.pooled.fill(3.0f);
    state.run.steps = state.run.steps_planned = 5000;
    state.run.progress = {50.0f, 40.0f, 1e30f, -1.0f, 10.0f};
    Pixel canvas[image_bytes] = {};
    const Pixel guard{1, 2, 3, 4};
    for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {8192, 1}, {1, 8192}, {719, 481}, {8192, 8192}}) {
        std::vector<Pixel> picture(size_t(w) * size_t(h) + 64, guard);
        compose_explorer(state, canvas, w, h, picture.data());
        for (size_t i = size_t(w) * size_t(h); i < picture.size(); i++)
            ASSERT_TRUE(same(picture[i], guard) && picture[i].unused == 4) << w << " x " << h;
    }
}

}  // namespace
