#include "app/explorer_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tavelin {

namespace {

// Colours as {blue, green, red}.
constexpr Color ground{244, 246, 246};
constexpr Color white{255, 255, 255};
constexpr Color frame{176, 176, 176};
constexpr Color track{226, 226, 226};
constexpr Color bar{196, 130, 80};       // a quiet blue
constexpr Color winner{40, 130, 235};    // orange: the digit recognised
constexpr Color progress{96, 160, 60};   // green
constexpr Color curve_ink{40, 70, 200};  // red
constexpr Color positive{40, 40, 200};   // filter weights above 0: red
constexpr Color negative{200, 100, 40};  // below 0: blue
constexpr Color map_ink{90, 30, 20};     // a dark blue for strong activations
constexpr Color ink_text{30, 30, 30};
constexpr Color quiet_text{100, 100, 100};

// The client area's pixels; every write is clipped to it.
struct Picture {
    Pixel* pixels;
    int32_t width, height;

    void fill(RECT r, Color c) {
        r.left = std::max<LONG>(r.left, 0);
        r.top = std::max<LONG>(r.top, 0);
        r.right = std::min<LONG>(r.right, width);
        r.bottom = std::min<LONG>(r.bottom, height);
        for (LONG y = r.top; y < r.bottom; y++)
            for (LONG x = r.left; x < r.right; x++) pixels[size_t(y) * size_t(width) + size_t(x)] = {c.blue, c.green, c.red, 255};
    }
    // A frame of width `line` just outside `r`, and `inside` within it.
    void framed(const RECT& r, int32_t line, Color inside) {
        fill(RECT{r.left - line, r.top - line, r.right + line, r.bottom + line}, frame);
        fill(r, inside);
    }
    // Cell (x, y) of a side x side grid stretched over `r` gets `c`.
    void cell(const RECT& r, int32_t side, int32_t x, int32_t y, Color c) {
        const int64_t w = r.right - r.left, h = r.bottom - r.top;
        fill(RECT{LONG(r.left + w * x / side), LONG(r.top + h * y / side), LONG(r.left + w * (x + 1) / side),
                  LONG(r.top + h * (y + 1) / side)},
             c);
    }
};

// `amount` of the way from white to `to`, amount in 0..1 (NaN counts as 0).
Color toward(Color to, float amount) {
    const float a = amount > 0.0f ? std::min(amount, 1.0f) : 0.0f;
    auto mix = [a](uint8_t c) { return uint8_t(std::lround(255.0f + (float(c) - 255.0f) * a)); };
    return Color{mix(to.blue), mix(to.green), mix(to.red)};
}

float largest_magnitude(const float* values, size_t count) {
    float m = 0.0f;
    for (size_t i = 0; i < count; i++)
        if (std::fabs(values[i]) > m) m = std::fabs(values[i]);  // NaN never compares greater
    return m;
}

// side x side values per tile, white at 0; with a `below` colour, a
// diverging scale (0 in the middle) else a single one. The filters share
// one scale, so that a weak filter looks weak; each map has its own, so
// that the pattern of a weak map shows too.
void draw_tiles(Picture& p, const RECT* tiles, const float* values, int32_t side, int32_t line, Color above,
                const Color* below) {
    const size_t per_tile = size_t(side) * size_t(side);
    const bool shared = below != nullptr;
    float scale = largest_magnitude(values, per_tile * filter_count);
    for (int32_t k = 0; k < filter_count; k++) {
        if (!shared) scale = largest_magnitude(values + per_tile * size_t(k), per_tile);
        p.framed(tiles[k], line, white);
        if (!(scale > 0.0f)) continue;
        for (int32_t y = 0; y < side; y++)
            for (int32_t x = 0; x < side; x++) {
                const float v = values[per_tile * size_t(k) + size_t(x + side * y)] / scale;
                p.cell(tiles[k], side, x, y, below != nullptr && v < 0.0f ? toward(*below, -v) : toward(above, v));
            }
    }
}

void draw_curve(Picture& p, const ExplorerLayout& l, const TrainingRun& run) {
    p.framed(l.curve, l.line, white);
    const size_t points = run.progress.size();
    const int64_t lines_planned = run.steps_planned / 1000;
    if (points == 0 || lines_planned <= 0) return;
    const float top = largest_magnitude(run.progress.data(), points);
    if (!(top > 0.0f)) return;
    const float w = float(l.curve.right - l.curve.left - 1), h = float(l.curve.bottom - l.curve.top - 1);
    auto at = [&](size_t i, float* x, float* y) {
        *x = float(l.curve.left) + w * float(i + 1) / float(lines_planned);
        const float v = std::isfinite(run.progress[i]) ? std::max(run.progress[i], 0.0f) : 0.0f;
        *y = float(l.curve.bottom - 1) - h * 0.9f * v / top;
    };
    // Straight pieces from point to point (the first from the left edge at
    // the first value), drawn column by column.
    float x0 = float(l.curve.left), y0 = 0, x1 = 0, y1 = 0;
    at(0, &x1, &y0);
    for (size_t i = 0; i < points; i++) {
        at(i, &x1, &y1);
        for (LONG x = LONG(x0); x <= LONG(x1); x++) {
            const float t = x1 > x0 ? (float(x) - x0) / (x1 - x0) : 1.0f;
            const LONG y = LONG(std::lround(y0 + (y1 - y0) * std::clamp(t, 0.0f, 1.0f)));
            p.fill(RECT{x, y - l.line, x + l.line, y + l.line}, curve_ink);
        }
        x0 = x1;
        y0 = y1;
    }
}

std::string percent(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", double(std::isfinite(v) ? v : 0.0f));
    return text;
}

}  // namespace

void compose_explorer(const ExplorerState& s, const Pixel* canvas, int32_t width, int32_t height, Pixel* out) {
    Picture p{out, std::max(width, 0), std::max(height, 0)};
    const ExplorerLayout l = explorer_layout(p.width, p.height);
    p.fill(RECT{0, 0, p.width, p.height}, ground);

    p.framed(l.canvas, l.line, white);
    for (int32_t y = 0; y < image_side; y++)
        for (int32_t x = 0; x < image_side; x++) {
            const Pixel& c = canvas[x + image_side * y];
            p.cell(l.canvas, image_side, x, y, Color{c.blue, c.green, c.red});
        }

    p.framed(l.seen, l.line, white);
    for (int32_t d = 0; d < digit_count; d++) p.fill(l.bar_track[d], track);
    if (s.has_answer) {
        for (int32_t y = 0; y < image_side; y++)
            for (int32_t x = 0; x < image_side; x++) {
                const uint8_t v = uint8_t(255 - s.seen[size_t(x + image_side * y)]);
                p.cell(l.seen, image_side, x, y, Color{v, v, v});
            }
        for (int32_t d = 0; d < digit_count; d++) {
            RECT r = l.bar_track[d];
            const float share = std::isfinite(s.scores[size_t(d)]) ? std::clamp(s.scores[size_t(d)] / 100.0f, 0.0f, 1.0f) : 0.0f;
            r.right = r.left + LONG(std::lround(float(r.right - r.left) * share));
            p.fill(r, d == s.digit ? winner : bar);
        }
    }

    if (s.has_filters) {
        draw_tiles(p, l.filters, s.filters.data(), filter_side, l.line, positive, &negative);
    } else {
        for (const RECT& r : l.filters) p.framed(r, l.line, white);
    }
    if (s.has_answer) {
        draw_tiles(p, l.rectified, s.rectified.data(), rectified_side, l.line, map_ink, nullptr);
        draw_tiles(p, l.pooled, s.pooled.data(), pooled_side, l.line, map_ink, nullptr);
    } else {
        for (const RECT& r : l.rectified) p.framed(r, l.line, white);
        for (const RECT& r : l.pooled) p.framed(r, l.line, white);
    }

    p.fill(l.progress_bar, track);
    if (s.run.steps_planned > 0) {
        RECT done = l.progress_bar;
        done.right = done.left + LONG(int64_t(done.right - done.left) * s.run.steps / s.run.steps_planned);
        p.fill(done, progress);
    }
    draw_curve(p, l, s.run);
}

std::vector<ExplorerText> explorer_texts(const ExplorerState& s, const ExplorerLayout& l, const std::string& status) {
    std::vector<ExplorerText> texts;
    auto add = [&](const RECT& r, int32_t font, bool bold, Color color, std::string text) {
        texts.push_back(ExplorerText{r, font, bold, color, std::move(text)});
    };
    // Without training data the status line holds the whole message, on
    // the canvas, which is of no use then.
    RECT status_rect = l.status;
    if (s.no_data) {
        const LONG inset = 10 * l.line;
        status_rect = RECT{l.canvas.left + inset, l.canvas.top + inset, l.canvas.right - inset, l.canvas.bottom - inset};
    }
    add(status_rect, l.status_font, true, ink_text, status);
    if (!s.no_data) add(l.hint, l.hint_font, false, quiet_text, s.hint);

    add(l.seen_caption, l.caption_font, false, quiet_text, "The network sees");
    add(l.scores_caption, l.caption_font, false, quiet_text, "Scores");
    for (int32_t d = 0; d < digit_count; d++) {
        add(l.bar_label[d], l.bar_font, d == s.digit && s.has_answer, ink_text, std::to_string(d));
        if (s.has_answer) add(l.bar_value[d], l.bar_font, d == s.digit, ink_text, percent(s.scores[size_t(d)]));
    }
    add(l.filters_caption, l.caption_font, false, quiet_text, "Filters, 5 x 5 (red +, blue -)");
    add(l.rectified_caption, l.caption_font, false, quiet_text, "Maps after the rectifier, 24 x 24");
    add(l.pooled_caption, l.caption_font, false, quiet_text, "After max-pooling, 12 x 12");

    const TrainingRun& run = s.run;
    const int64_t pass = run.samples != nullptr ? int64_t(run.samples->size()) : 0;
    if (pass > 0) {
        const int64_t passes = run.steps_planned / pass;
        char line[96];
        if (training_done(run))
            std::snprintf(line, sizeof line, "Trained: %d steps, %lld passes", int(run.steps), (long long)passes);
        else
            std::snprintf(line, sizeof line, "Training step %d of %lld, pass %lld of %lld", int(run.steps),
                          (long long)run.steps_planned, (long long)std::min(run.steps / pass + 1, passes),
                          (long long)passes);
        add(l.progress_caption, l.caption_font, false, quiet_text, line);
    }
    if (!run.progress.empty()) {
        char line[48];
        std::snprintf(line, sizeof line, "mean error %.2f", double(run.progress.back()));
        add(l.curve_label, l.bar_font, false, quiet_text, line);
    }
    return texts;
}

}  // namespace tavelin
