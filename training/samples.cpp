#include "training/samples.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "training/gunzip.h"

namespace tavelin {

namespace {

// The largest file read: its length must fit a signed 32-bit count with
// the extra zero byte.
constexpr size_t largest_file = size_t(INT32_MAX) - 1;

}  // namespace

const char* special_file_kind(std::filesystem::file_type type) {
    using std::filesystem::file_type;
    switch (type) {
        case file_type::directory: return "a directory";
        case file_type::fifo: return "a named pipe";
        case file_type::character:
        case file_type::block: return "a device";
        case file_type::socket: return "a socket";
        case file_type::regular:
        case file_type::not_found:
        case file_type::none: return nullptr;
        default: return "a special file";
    }
}

FileBuffer read_file_whole(const char* path, int32_t* out_length, std::string* why) {
    auto fail = [why](std::string reason) {
        if (why) *why = std::move(reason);
        return FileBuffer();
    };
    // The kind is looked at before anything is opened: opening a named pipe
    // waits for a writer that may never come, and a device such as
    // /dev/zero never ends.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!error)
        if (const char* kind = special_file_kind(status.type())) return fail(std::string("it is ") + kind + ", not a file");
    const uintmax_t stated = error ? 0 : std::filesystem::file_size(path, error);
    if (!error && stated > largest_file)
        return fail("too large to read (" + std::to_string(stated) + " bytes)");

    std::FILE* file = std::fopen(path, "rb");
    if (!file) return fail(std::strerror(errno));
    // Read to the end rather than trust the stated length: files under
    // /proc state 0 and hold more, and a file may grow while it is read.
    size_t capacity = error ? 0 : size_t(stated);
    size_t length = 0;
    FileBuffer buffer;
    std::string failure;
    try {
        buffer.reset(new uint8_t[capacity + 1]);
        for (;;) {
            if (length < capacity) {
                const size_t got = std::fread(buffer.get() + length, 1, capacity - length, file);
                length += got;
                if (got == 0) break;
                continue;
            }
            // Full: grow only when there is more to come.
            const int next = std::fgetc(file);
            if (next == EOF) break;
            if (capacity >= largest_file) {
                failure = "too large to read (more than " + std::to_string(largest_file) + " bytes)";
                break;
            }
            const size_t grown = std::min(largest_file, std::max<size_t>(2 * capacity, 65536));
            FileBuffer bigger(new uint8_t[grown + 1]);
            std::memcpy(bigger.get(), buffer.get(), length);
            buffer = std::move(bigger);
            capacity = grown;
            buffer[length++] = uint8_t(next);
        }
    } catch (const std::bad_alloc&) {
        failure = "not enough memory to read it (" + std::to_string(std::max(capacity, length) + 1) + " bytes)";
    }
    if (failure.empty() && std::ferror(file)) failure = "read failed after " + std::to_string(length) + " bytes";
    std::fclose(file);
    if (!failure.empty()) return fail(failure);
    buffer[length] = 0;
    if (out_length) *out_length = int32_t(length);
    return buffer;
}

FileBuffer read_data_file(const char* path, int32_t* out_length, std::string* why) {
    int32_t length = 0;
    FileBuffer file = read_file_whole(path, &length, why);
    if (file && looks_gzipped(file.get(), size_t(length))) {
        size_t unpacked = 0;
        file = gunzip(file.get(), size_t(length), largest_file, &unpacked, why);
        length = int32_t(unpacked);
    }
    if (file && out_length) *out_length = length;
    return file;
}

uint32_t read_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

int64_t complete_image_records(int64_t length) {
    return length < image_header_bytes ? 0 : (length - image_header_bytes) / image_bytes;
}

namespace {

// A wrong magic number is only warned of: the records are read the same
// way whatever it says, so files that worked keep working. The other
// kind's number means the two files were given the wrong way round.
void warn_if_not_of_kind(const char* path, uint32_t magic, uint32_t expected, const char* kind,
                         uint32_t other, const char* other_kind) {
    if (magic == expected) return;
    if (magic == other)
        std::fprintf(stderr, "%s: magic number %u marks %s file, not %s file (%u); reading it as %s file\n", path,
                     magic, other_kind, kind, expected, kind);
    else
        std::fprintf(stderr, "%s: magic number %u (0x%08X) is not that of %s file (%u); reading it as one\n",
                     path, magic, magic, kind, expected);
}

}  // namespace

bool read_labeled_images(const char* image_path, const char* label_path, const char* what,
                         LabeledImages& out) {
    int32_t image_length = 0;
    int32_t label_length = 0;
    std::string why;
    out = LabeledImages();
    out.images = read_data_file(image_path, &image_length, &why);
    if (!out.images) {
        std::fprintf(stderr, "%s: cannot read %s images: %s\n", image_path, what, why.c_str());
        return false;
    }
    out.labels = read_data_file(label_path, &label_length, &why);
    if (!out.labels) {
        std::fprintf(stderr, "%s: cannot read %s labels: %s\n", label_path, what, why.c_str());
        return false;
    }
    if (image_length < image_header_bytes) {
        std::fprintf(stderr, "%s: too short for an image file header (%d bytes)\n", image_path,
                     image_length);
        return false;
    }
    if (label_length < label_header_bytes) {
        std::fprintf(stderr, "%s: too short for a label file header (%d bytes)\n", label_path,
                     label_length);
        return false;
    }

    warn_if_not_of_kind(image_path, read_be32(out.images.get()), image_magic, "an image", label_magic,
                        "a label");
    warn_if_not_of_kind(label_path, read_be32(out.labels.get()), label_magic, "a label", image_magic,
                        "an image");
    // Only the image header's count is used (below); a label count that
    // disagrees with the labels present is still worth a word.
    const int64_t labels_stated = read_be32(out.labels.get() + 4);
    if (labels_stated != label_length - label_header_bytes)
        std::fprintf(stderr, "%s: header gives a label count of %lld, but the file holds %lld labels\n",
                     label_path, (long long)labels_stated, (long long)(label_length - label_header_bytes));

    // The image header's count governs, but never past what both files hold.
    const int64_t promised = read_be32(out.images.get() + 4);
    const int64_t image_records = complete_image_records(image_length);
    const int64_t label_records = label_length - label_header_bytes;
    int64_t count = promised;
    if (count > image_records || count > label_records) {
        count = std::min(image_records, label_records);
        std::fprintf(stderr,
                     "%s: header promises %lld images, but the file holds %lld complete images and "
                     "%s %lld labels; using the first %lld\n",
                     image_path, (long long)promised, (long long)image_records, label_path,
                     (long long)label_records, (long long)count);
    }
    if (promised == 0)
        std::fprintf(stderr, "%s: header gives an image count of 0: no %s images\n", image_path, what);
    // Every record is read as 28 x 28 whatever the header says; a header
    // that says otherwise is worth a word.
    const uint32_t rows = read_be32(out.images.get() + 8);
    const uint32_t columns = read_be32(out.images.get() + 12);
    if (rows != uint32_t(image_side) || columns != uint32_t(image_side))
        std::fprintf(stderr, "%s: header gives images of %u rows and %u columns; reading them as 28 x 28\n",
                     image_path, rows, columns);
    out.count = int32_t(count);
    return true;
}

void image_from_bytes(const uint8_t* pixels, Tensor& image) {
    for (int32_t r = 0; r < image_side; r++)
        for (int32_t c = 0; c < image_side; c++)
            image(c, r, 0) = float(pixels[image_side * r + c]) / 255.0f;
}

std::vector<Sample> load_samples(const char* image_path, const char* label_path) {
    std::vector<Sample> samples;
    LabeledImages files;
    if (!read_labeled_images(image_path, label_path, "training", files)) return samples;
    int32_t labels_above_nine = 0;
    try {
        samples.reserve(size_t(files.count));
        for (int32_t k = 0; k < files.count; k++) {
            Sample sample{Tensor(image_side, image_side, 1), Tensor(digit_count, 1, 1)};
            image_from_bytes(files.image(k), sample.image);
            const uint8_t label = files.label(k);
            for (int32_t j = 0; j < digit_count; j++) sample.target(j, 0, 0) = label == j ? 1.0f : 0.0f;
            if (label >= digit_count) labels_above_nine++;
            samples.push_back(std::move(sample));
        }
    } catch (const std::bad_alloc&) {
        // A set this large is unusable here, not a reason to abort.
        std::vector<Sample>().swap(samples);
        const double megabytes = double(files.count) * (image_bytes + digit_count) * sizeof(float) / 1e6;
        std::fprintf(stderr, "%s: not enough memory for %d training samples (at least %.0f MB)\n", image_path,
                     files.count, megabytes);
        return samples;
    }
    if (labels_above_nine > 0)
        std::fprintf(stderr, "%s: %d %s above 9; those images are trained towards no digit at all\n",
                     label_path, labels_above_nine, labels_above_nine == 1 ? "label" : "labels");
    return samples;
}

}  // namespace tavelin
