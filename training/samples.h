// Reading the training set: two IDX files, images and labels, turned into
// one Sample per image in file order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/tensor.h"

namespace tavelin {

// The four files of a data folder.
inline const char* const training_images_name = "train-images.idx3-ubyte";
inline const char* const training_labels_name = "train-labels.idx1-ubyte";
inline const char* const test_images_name = "t10k-images.idx3-ubyte";
inline const char* const test_labels_name = "t10k-labels.idx1-ubyte";

// The training files in data/ below the working directory.
inline const std::string default_image_path = std::string("data/") + training_images_name;
inline const std::string default_label_path = std::string("data/") + training_labels_name;

constexpr int32_t image_side = 28;
constexpr int32_t image_bytes = image_side * image_side;  // one record
constexpr int32_t image_header_bytes = 16;
constexpr int32_t label_header_bytes = 8;
constexpr int32_t digit_count = 10;
constexpr uint32_t image_magic = 2051;  // the first four bytes of an image file
constexpr uint32_t label_magic = 2049;  // and of a label file

struct Sample {
    Tensor image;   // 28 x 28 x 1, pixel / 255
    Tensor target;  // 10 x 1 x 1, one-hot (all zero for a label above 9)
};

// A whole file, followed by one extra zero byte.
using FileBuffer = std::unique_ptr<uint8_t[]>;

// What a path of this type is, for a message ("a named pipe", "a
// device", ...), when it is not a plain file; null for a plain file and
// for a type not known (a missing file: opening it gives the reason).
const char* special_file_kind(std::filesystem::file_type type);

// Reads `path` whole in binary mode, to its end whatever length the system
// states. On success stores the length in *out_length (when given). On
// failure returns null, leaves *out_length alone and, when `why` is given,
// says what went wrong. Only a regular file is opened: a directory, a named
// pipe or a device is refused before it can block. A file longer than the
// largest signed 32-bit length, or one that does not fit in memory, counts
// as unreadable.
FileBuffer read_file_whole(const char* path, int32_t* out_length, std::string* why = nullptr);

// A data file's bytes: read_file_whole's, unpacked first when the file is
// gzipped (whatever its name), with the same limit on the unpacked length.
// Damaged gzip data is a failure whose reason says so.
FileBuffer read_data_file(const char* path, int32_t* out_length, std::string* why = nullptr);

// Big-endian unsigned 32-bit number at p.
uint32_t read_be32(const uint8_t* p);

// How many whole 784-byte image records an image file of `length` bytes
// holds past its header.
int64_t complete_image_records(int64_t length);

// An image file and a label file read whole, with the number of records
// that are complete in both (never more than the image header promises).
struct LabeledImages {
    FileBuffer images;
    FileBuffer labels;
    int32_t count = 0;
    const uint8_t* image(int32_t k) const { return images.get() + image_header_bytes + k * image_bytes; }
    uint8_t label(int32_t k) const { return labels[size_t(label_header_bytes + k)]; }
};

// Reads both files. A file that cannot be read (see read_data_file), or a
// file too short for its header, gives false with a message on standard
// error that names the file (`what` says which set it is, e.g.
// "training"). A header that promises more records than the files hold
// gives a warning and the complete ones. A count of 0, rows or columns
// other than 28 (the records are read as 28 x 28 all the same), a wrong
// magic number and a label count that disagrees with the labels present
// give a warning too, and change nothing that is read.
bool read_labeled_images(const char* image_path, const char* label_path, const char* what,
                         LabeledImages& out);

// 784 bytes, row-major, into a 28 x 28 x 1 tensor of byte / 255 (a true
// division in float, not a multiplication by the reciprocal).
void image_from_bytes(const uint8_t* pixels, Tensor& image);

// One Sample per image. A file that cannot be read, or a set too large for
// the memory there is, gives an empty list and a message on standard error
// naming it; when a header promises more
// records than the files hold, only the records complete in both are
// taken, with a warning. Labels above 9 give all-zero targets, with a
// warning. Nothing is read outside the buffers.
std::vector<Sample> load_samples(const char* image_path = default_image_path.c_str(),
                                 const char* label_path = default_label_path.c_str());

}  // namespace tavelin
