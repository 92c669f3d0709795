#include "drawn_digits.h"

#include <algorithm>
#include <cmath>

namespace tavelin::test_util {

namespace {

// Shapes in a unit box: u from 0 (left) to 1 (right), v from 0 (top) to 1
// (bottom), in the order a hand draws them.
struct Shape {
    std::vector<Polyline> strokes;
    float aspect;  // width / height
};

Polyline ellipse() {
    Polyline p;
    // Started at the top and drawn anticlockwise, as most people write 0.
    for (int i = 0; i <= 24; i++) {
        const float t = float(i) * 6.2831853f / 24.0f;
        p.push_back({0.5f - 0.5f * std::sin(t), 0.5f - 0.5f * std::cos(t)});
    }
    return p;
}

Shape shape_of(int32_t digit) {
    switch (digit) {
        case 0: return {{ellipse()}, 0.65f};
        case 1: return {{{{0.6f, 0.0f}, {0.4f, 1.0f}}}, 0.2f};
        case 2:
            return {{{{0.05f, 0.3f}, {0.15f, 0.1f}, {0.4f, 0.0f}, {0.7f, 0.02f}, {0.9f, 0.15f}, {0.92f, 0.35f},
                      {0.75f, 0.55f}, {0.4f, 0.78f}, {0.0f, 1.0f}, {1.0f, 1.0f}}},
                    0.65f};
        case 3:
            return {{{{0.05f, 0.1f}, {0.35f, 0.0f}, {0.75f, 0.05f}, {0.9f, 0.2f}, {0.8f, 0.38f}, {0.45f, 0.48f},
                      {0.85f, 0.58f}, {0.95f, 0.78f}, {0.75f, 0.95f}, {0.4f, 1.0f}, {0.05f, 0.9f}}},
                    0.6f};
        case 4: return {{{{0.65f, 0.0f}, {0.0f, 0.65f}, {1.0f, 0.65f}}, {{0.65f, 0.0f}, {0.65f, 1.0f}}}, 0.7f};
        case 5:
            return {{{{0.15f, 0.0f}, {0.1f, 0.45f}, {0.5f, 0.38f}, {0.85f, 0.5f}, {0.95f, 0.72f}, {0.8f, 0.92f},
                      {0.45f, 1.0f}, {0.05f, 0.9f}},
                     {{0.15f, 0.0f}, {0.9f, 0.0f}}},
                    0.6f};
        case 6:
            return {{{{0.8f, 0.02f}, {0.45f, 0.15f}, {0.15f, 0.45f}, {0.05f, 0.75f}, {0.2f, 0.95f}, {0.5f, 1.0f},
                      {0.85f, 0.88f}, {0.9f, 0.65f}, {0.6f, 0.5f}, {0.3f, 0.55f}, {0.1f, 0.75f}}},
                    0.6f};
        case 7: return {{{{0.0f, 0.0f}, {1.0f, 0.0f}, {0.35f, 1.0f}}}, 0.6f};
        case 8:
            return {{{{0.85f, 0.12f}, {0.5f, 0.0f}, {0.15f, 0.12f}, {0.2f, 0.35f}, {0.5f, 0.48f}, {0.85f, 0.65f},
                      {0.9f, 0.88f}, {0.5f, 1.0f}, {0.1f, 0.88f}, {0.15f, 0.65f}, {0.5f, 0.48f}, {0.8f, 0.3f},
                      {0.85f, 0.12f}}},
                    0.55f};
        default:  // 9
            return {{{{0.9f, 0.15f}, {0.6f, 0.0f}, {0.2f, 0.05f}, {0.05f, 0.25f}, {0.2f, 0.45f}, {0.55f, 0.48f},
                      {0.9f, 0.3f}, {0.9f, 0.15f}, {0.85f, 0.6f}, {0.7f, 1.0f}}},
                    0.6f};
    }
}

// Other common ways of writing some digits.
struct Variant {
    int32_t digit;
    const char* way;
    Shape shape;
};
const Variant variants[] = {
    {1, "1 with flag and base", {{{{0.3f, 0.2f}, {0.6f, 0.0f}, {0.6f, 1.0f}}, {{0.2f, 1.0f}, {1.0f, 1.0f}}}, 0.55f}},
    {4, "open 4", {{{{0.1f, 0.0f}, {0.05f, 0.6f}, {0.95f, 0.6f}}, {{0.75f, 0.15f}, {0.75f, 1.0f}}}, 0.7f}},
    {7, "7 with crossbar", {{{{0.0f, 0.0f}, {1.0f, 0.0f}, {0.35f, 1.0f}}, {{0.3f, 0.5f}, {0.9f, 0.5f}}}, 0.6f}},
    {9,
     "straight-tailed 9",
     {{{{0.9f, 0.15f}, {0.6f, 0.0f}, {0.2f, 0.05f}, {0.05f, 0.25f}, {0.2f, 0.45f}, {0.55f, 0.48f}, {0.9f, 0.3f},
        {0.9f, 0.15f}, {0.9f, 1.0f}}},
      0.6f}},
};

// Where and how a shape is put on the canvas.
struct Placement {
    const char* way;
    float centre_x, centre_y, height;
    float slant;         // how far the top leans right, in heights
    bool second_pass;    // drawn twice, the second pass a little lower right
    int32_t spacing;
};
const Placement placements[] = {
    {"centred", 14.0f, 14.0f, 18.0f, 0.0f, false, 4},
    {"small", 14.0f, 14.0f, 9.0f, 0.0f, false, 4},
    {"large", 14.0f, 14.0f, 25.0f, 0.0f, false, 4},
    {"left", 8.0f, 14.0f, 14.0f, 0.0f, false, 4},
    {"right", 20.0f, 14.0f, 14.0f, 0.0f, false, 4},
    {"high", 14.0f, 8.5f, 14.0f, 0.0f, false, 4},
    {"low", 14.0f, 19.5f, 14.0f, 0.0f, false, 4},
    {"thick", 14.0f, 14.0f, 18.0f, 0.0f, true, 4},
    {"slanted", 14.0f, 14.0f, 18.0f, 0.25f, false, 4},
    {"quick", 14.0f, 14.0f, 18.0f, 0.0f, false, 40},
};

// A hand does not hit the shape's corners exactly: each corner is off by up
// to 0.4 cells, the same way on every run.
float wobble(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return (float(state >> 8) / float(1u << 24) - 0.5f) * 0.8f;
}

std::vector<Polyline> place(const Shape& shape, const Placement& p, uint32_t seed) {
    const float width = p.height * shape.aspect;
    std::vector<Polyline> out;
    for (int pass = 0; pass < (p.second_pass ? 2 : 1); pass++)
        for (const Polyline& stroke : shape.strokes) {
            Polyline s;
            for (const CanvasPoint& q : stroke) {
                const float x = p.centre_x + (q.x - 0.5f) * width + p.slant * (0.5f - q.y) * p.height + 0.7f * pass;
                const float y = p.centre_y + (q.y - 0.5f) * p.height + 0.7f * pass;
                s.push_back({x + wobble(seed), y + wobble(seed)});
            }
            out.push_back(s);
        }
    return out;
}

}  // namespace

std::vector<DrawnDigit> drawn_digits() {
    std::vector<DrawnDigit> all;
    uint32_t seed = 1;
    for (const Placement& p : placements)
        for (int32_t digit = 0; digit < 10; digit++)
            all.push_back({digit, p.way, place(shape_of(digit), p, seed++), p.spacing});
    for (const Variant& v : variants) all.push_back({v.digit, v.way, place(v.shape, placements[0], seed++), 4});
    return all;
}

std::vector<ClientPoint> mouse_positions(const Polyline& stroke, int32_t spacing, int32_t width, int32_t height) {
    auto client = [&](CanvasPoint q) {
        const float x = std::clamp(q.x * float(width) / 28.0f, 0.0f, float(width - 1));
        const float y = std::clamp(q.y * float(height) / 28.0f, 0.0f, float(height - 1));
        return CanvasPoint{x, y};
    };
    auto rounded = [](CanvasPoint q) { return ClientPoint{int32_t(std::lround(q.x)), int32_t(std::lround(q.y))}; };
    std::vector<ClientPoint> out;
    if (stroke.empty()) return out;
    out.push_back(rounded(client(stroke[0])));
    // Distance still to go along the path before the next report.
    float to_next = float(spacing);
    for (size_t i = 1; i < stroke.size(); i++) {
        const CanvasPoint a = client(stroke[i - 1]), b = client(stroke[i]);
        const float length = std::hypot(b.x - a.x, b.y - a.y);
        float at = to_next;
        for (; at <= length; at += float(spacing))
            out.push_back(rounded({a.x + (b.x - a.x) * at / length, a.y + (b.y - a.y) * at / length}));
        to_next = at - length;
    }
    out.push_back(rounded(client(stroke.back())));
    return out;
}

}  // namespace tavelin::test_util
