#include "training/gunzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace tavelin {

namespace {

// Runs the whole stream through zlib, handing every piece it unpacks to
// `take`, which returns false to stop. Returns why the data is unusable,
// or "" when it was read to its end.
template <class Take>
std::string unpack(const uint8_t* data, size_t length, Take take) {
    z_stream z{};
    // 15 + 16: the largest window, gzip framing (header and CRC checked).
    if (inflateInit2(&z, 15 + 16) != Z_OK) return "not enough memory to unpack it";
    z.next_in = const_cast<Bytef*>(data);
    std::string failure;
    size_t left = length;
    uint8_t piece[1 << 16];
    for (;;) {
        // zlib counts in 32 bits; the files read are smaller, but be exact.
        if (z.avail_in == 0 && left > 0) {
            z.avail_in = uInt(std::min<size_t>(left, 1u << 30));
            left -= z.avail_in;
        }
        z.next_out = piece;
        z.avail_out = sizeof piece;
        const int status = inflate(&z, Z_NO_FLUSH);
        const size_t got = sizeof piece - z.avail_out;
        if (got > 0 && !take(piece, got)) break;
        if (status == Z_OK) continue;
        if (status == Z_STREAM_END) {
            if (z.avail_in == 0 && left == 0) break;
            // Another member follows: gzip appends them this way.
            inflateReset(&z);
            continue;
        }
        if (status == Z_MEM_ERROR) failure = "not enough memory to unpack it";
        else if (status == Z_BUF_ERROR) failure = "damaged gzip data: it ends early";
        else failure = std::string("damaged gzip data: ") + (z.msg ? z.msg : "cannot be unpacked");
        break;
    }
    inflateEnd(&z);
    return failure;
}

}  // namespace

std::unique_ptr<uint8_t[]> gunzip(const uint8_t* data, size_t length, size_t largest, size_t* out_length,
                                  std::string* why) {
    auto fail = [why](std::string reason) {
        if (why) *why = std::move(reason);
        return std::unique_ptr<uint8_t[]>();
    };
    // Counted first, kept after: the buffer is made once, of the exact
    // size, and only for data within the limit.
    size_t total = 0;
    bool too_large = false;
    std::string failure = unpack(data, length, [&](const uint8_t*, size_t got) {
        too_large = got > largest - total;
        total += got;
        return !too_large;
    });
    if (too_large) return fail("too large to read: it unpacks to more than " + std::to_string(largest) + " bytes");
    if (!failure.empty()) return fail(failure);
    std::unique_ptr<uint8_t[]> buffer;
    try {
        buffer.reset(new uint8_t[total + 1]);
    } catch (const std::bad_alloc&) {
        return fail("not enough memory to unpack it (" + std::to_string(total + 1) + " bytes)");
    }
    size_t filled = 0;
    failure = unpack(data, length, [&](const uint8_t* piece, size_t got) {
        if (got > total - filled) return false;
        std::memcpy(buffer.get() + filled, piece, got);
        filled += got;
        return true;
    });
    if (!failure.empty() || filled != total) return fail(failure.empty() ? "unpacked differently twice" : failure);
    buffer[total] = 0;
    if (out_length) *out_length = total;
    return buffer;
}

}  // namespace tavelin
