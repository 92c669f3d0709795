// gunzip for a build without zlib (TAVELIN_ZLIB=OFF): gzipped files are
// named as such and refused; plain files read as ever.
#include "training/gunzip.h"

namespace tavelin {

std::unique_ptr<uint8_t[]> gunzip(const uint8_t*, size_t, size_t, size_t*, std::string* why) {
    if (why) *why = "it is gzipped, and this build reads only unpacked files: unpack it with gunzip";
    return nullptr;
}

}  // namespace tavelin
