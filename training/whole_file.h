// An output file that is replaced only whole: written under a name of its
// own beside the target and renamed over it once complete, so that a run
// that fails, or is stopped by a signal, leaves an earlier file as it was
// and no half-written one.
//
// Everything that can be known in advance is checked in advance (before a
// long computation): where symbolic links lead, what the target is, whether
// its folder lets the rename happen.
#pragma once

#include <string>

namespace tavelin {

struct WholeFile {
    std::string target;   // the file put in place: symbolic links followed
    std::string partial;  // where it is written first (empty until written)
};

// Decides whether `path` can be replaced whole as a shell's `>` would write
// it: through symbolic links (a dangling one creates what it names). Fills
// `out` and returns 0 when it can. Else puts the reason in `why` and
// returns 2 when the path names what cannot be written so ("it is a named
// pipe", "it is the standard output", a loop of links), 1 when its folder
// does not let a file be replaced there. Nothing is created.
int prepare_whole_file(const std::string& path, WholeFile& out, std::string& why);

// Writes `text` to a new file beside the target and renames it over the
// target. The new file exists only inside this call: it is removed on
// failure and by SIGINT, SIGTERM, SIGHUP and SIGPIPE. Returns "" or why it
// failed.
std::string write_whole_file(WholeFile& file, const std::string& text);

}  // namespace tavelin
