// Joining the mouse positions of one stroke: the window system reports the
// mouse only now and then, so a quick stroke would come out as a dotted
// line if only the reported positions were inked.
#pragma once

#include <cstdint>

namespace tavelin {

// Where the last drawing step of the stroke in progress was.
struct Stroke {
    bool active = false;
    uint16_t x = 0;
    uint16_t y = 0;
};

// The first position of a stroke: one drawing step there, on its own.
void begin_stroke(Stroke& stroke, uint16_t x, uint16_t y, uint32_t client_width, uint32_t client_height);
// The stroke goes on to (x, y): drawing steps along the segment from the
// last position, no further apart than one canvas cell, ending at (x, y).
// Begins the stroke when none is in progress.
void continue_stroke(Stroke& stroke, uint16_t x, uint16_t y, uint32_t client_width, uint32_t client_height);
void end_stroke(Stroke& stroke);

}  // namespace tavelin
