// Descriptors 0, 1 and 2 made sure of before a program opens anything: a
// program started with one of them closed (`prog >&-`) would otherwise hand
// that number to the next file or connection it opens, and its own output
// would go there.
#pragma once

namespace tavelin {

// Which of standard input, output and error were closed at start.
struct ClosedStreams {
    bool input = false;
    bool output = false;
    bool error = false;
};

// Points every closed one of descriptors 0, 1 and 2 at /dev/null and says
// which were closed. Call first thing in main, before anything is opened.
// Does nothing on Windows, where a program has no such inherited numbers.
ClosedStreams open_standard_streams();

}  // namespace tavelin
