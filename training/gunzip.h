// Unpacking gzip files, as MNIST is downloaded: the one place that knows
// how. gunzip.cpp does it with zlib; a build without zlib compiles
// gunzip_unavailable.cpp instead, which refuses with a reason, and every
// plain file still reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tavelin {

// Whether `data` starts as every gzip file does (1f 8b). An IDX file
// starts with two zero bytes, so the two cannot be confused.
inline bool looks_gzipped(const uint8_t* data, size_t length) {
    return length >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// Unpacks the gzip data at `data` (one member, or several one after the
// other, as gzip itself reads them) into a new buffer of the unpacked bytes
// followed by one zero byte, and stores their count in *out_length. Data
// that would unpack to more than `largest` bytes is refused before any of
// it is kept, so a small file that unpacks to gigabytes costs no memory.
// On failure returns null and says why in *why (when given): damaged or
// cut-short data, too large, or no memory for the result.
std::unique_ptr<uint8_t[]> gunzip(const uint8_t* data, size_t length, size_t largest, size_t* out_length,
                                  std::string* why);

}  // namespace tavelin
