#include "training/samples.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tavelin {

FileBuffer read_file_whole(const char* path, int32_t* out_length, std::string* why) {
    auto fail = [why](std::string reason) {
        if (why) *why = std::move(reason);
        return FileBuffer();
    };
    // Some systems open a directory for reading and then report an absurd
    // length for it; say what it is instead.
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return fail("it is a directory, not a file");
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return fail(std::strerror(errno));
    // The length must be known and fit a signed 32-bit count; anything else
    // (a directory, a pipe, a file of 2 GiB or more) is unreadable here.
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return fail("cannot determine its length");
    }
    if (length > long(INT32_MAX) - 1) {
        std::fclose(file);
        return fail("too large to read (" + std::to_string(length) + " bytes)");
    }
    FileBuffer buffer(new uint8_t[size_t(length) + 1]);
    const size_t got = std::fread(buffer.get(), 1, size_t(length), file);
    const bool failed = got != size_t(length) || std::ferror(file);
    std::fclose(file);
    if (failed) return fail("read " + std::to_string(got) + " of " + std::to_string(length) + " bytes");
    buffer[size_t(length)] = 0;
    if (out_length) *out_length = int32_t(length);
    return buffer;
}

uint32_t read_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

int64_t complete_image_records(int64_t length) {
    return length < image_header_bytes ? 0 : (length - image_header_bytes) / image_bytes;
}

bool read_labeled_images(const char* image_path, const char* label_path, const char* what,
                         LabeledImages& out) {
    int32_t image_length = 0;
    int32_t label_length = 0;
    std::string why;
    out = LabeledImages();
    out.images = read_file_whole(image_path, &image_length, &why);
    if (!out.images) {
        std::fprintf(stderr, "%s: cannot read %s images: %s\n", image_path, what, why.c_str());
        return false;
    }
    out.labels = read_file_whole(label_path, &label_length, &why);
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
    samples.reserve(size_t(files.count));
    int32_t labels_above_nine = 0;
    for (int32_t k = 0; k < files.count; k++) {
        Sample sample{Tensor(image_side, image_side, 1), Tensor(digit_count, 1, 1)};
        image_from_bytes(files.image(k), sample.image);
        const uint8_t label = files.label(k);
        for (int32_t j = 0; j < digit_count; j++) sample.target(j, 0, 0) = label == j ? 1.0f : 0.0f;
        if (label >= digit_count) labels_above_nine++;
        samples.push_back(std::move(sample));
    }
    if (labels_above_nine > 0)
        std::fprintf(stderr, "%s: %d %s above 9; those images are trained towards no digit at all\n",
                     label_path, labels_above_nine, labels_above_nine == 1 ? "label" : "labels");
    return samples;
}

}  // namespace tavelin
