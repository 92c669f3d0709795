// Text in the page: each line drawn by the browser's canvas (fillText) in
// the page's sans-serif font and read back as ink, so that it lands in the
// window's picture like every other drawing. The lines drawn are also
// kept for the page's text for screen readers.
#include <map>
#include <string>
#include <tuple>

#include "platform/web_native.h"

namespace tavelin::platform {

namespace {

std::string drawn_text;

}  // namespace

bool render_text_line(const std::string& line, int32_t pixel_size, bool bold, TextLine* out) {
    if (!line.empty()) drawn_text += (drawn_text.empty() ? "" : "\n") + line;
    // A window repainted every frame draws mostly the same words again;
    // reading ink back from the browser is what costs, so each line is
    // drawn once. A few hundred lines are kept, not every one ever drawn.
    static std::map<std::tuple<std::string, int32_t, bool>, TextLine> drawn;
    constexpr size_t lines_kept = 512;
    const auto key = std::make_tuple(line, pixel_size, bold);
    const auto known = drawn.find(key);
    if (known != drawn.end()) {
        *out = known->second;
        return true;
    }
    tavelin_text_line(line.c_str(), pixel_size, bold ? 1 : 0, &out->width, &out->height, &out->line_height);
    out->coverage.assign(size_t(out->width) * size_t(out->height), 0);
    if (out->width > 0 && out->height > 0) tavelin_text_coverage(out->coverage.data());
    if (drawn.size() >= lines_kept) drawn.clear();
    drawn.emplace(key, *out);
    return true;
}

std::string take_drawn_text() {
    std::string text;
    text.swap(drawn_text);
    return text;
}

}  // namespace tavelin::platform
