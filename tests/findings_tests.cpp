// Regression tests for what the fuzz targets (fuzz/) and the sanitizer
// build (scripts/sanitize) found in the window layer, one per finding,
// each reduced to the smallest case that showed it. They fail only under
// the sanitizer build, where the undefined behaviour or the leak they pin
// down is reported; elsewhere they still check the visible result.
#include <gtest/gtest.h>

#include "platform/layer_state.h"

namespace tavelin {
namespace {

// window_fuzzer: a window minimised to 0 x 0 and given a height again
// before a width (here 0 x 500, then 300 x 400) copied its old rows out of
// an empty picture: &bgrx[0] of an empty vector, a reference through a
// null pointer.
TEST(Findings, GrowingAPictureOfZeroWidthCopiesNothing) {
    platform::PixelBuffer b;
    platform::resize_keeping_picture(b, 0, 500);
    EXPECT_TRUE(b.bgrx.empty());
    platform::resize_keeping_picture(b, 300, 400);
    ASSERT_EQ(b.bgrx.size(), size_t(300 * 400 * 4));
    EXPECT_EQ(b.bgrx[0], 0xFF);  // new room is white
    platform::resize_keeping_picture(b, 300, 0);
    platform::resize_keeping_picture(b, 0, 0);
    EXPECT_TRUE(b.bgrx.empty());
}

// Every window test under the sanitizer build: looking the font up through
// fontconfig's process-wide configuration (FcInit, then FcConfigSubstitute
// and FcFontMatch on the default configuration) and never releasing it
// lost 288 bytes for good, a leak reported at exit. FcFini once the font's
// file is known releases it.
TEST(Findings, LookingUpTheFontLosesNothing) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 100, 20);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    RECT where{0, 0, 100, 20};
    EXPECT_GT(DrawTextA(dc, "7", -1, &where, 0), 0);  // the font was found
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
}

}  // namespace
}  // namespace tavelin
