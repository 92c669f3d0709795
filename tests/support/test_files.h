// Small IDX files written by the tests themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavelin::test_util {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory.
std::string make_temp_dir();
void write_file(const std::string& path, const Bytes& bytes);
void remove_tree(const std::string& path);

// Image file: magic, `header_count`, rows, columns, then every image's 784
// bytes. Image k's pixel (r, c) is pixel(k, r, c).
Bytes idx_images(uint32_t header_count, int32_t images, uint8_t (*pixel)(int32_t k, int32_t r, int32_t c),
                 uint32_t rows = 28, uint32_t columns = 28);
Bytes idx_labels(uint32_t header_count, const std::vector<uint8_t>& labels);

// `bytes` as one gzip member, as gzip writes them.
Bytes gzipped(const Bytes& bytes);

// A recognisable pattern: image k is filled with byte (k * 37 + r * 3 + c) mod 256.
uint8_t pattern_pixel(int32_t k, int32_t r, int32_t c);

// Labels 0, 1, ..., 9, 0, 1, ... for `count` images.
std::vector<uint8_t> labels_mod_ten(int32_t count);

// Writes train-images/train-labels (or the t10k pair with prefix "t10k")
// into dir with `count` images of pattern_pixel and labels k % 10.
void write_training_set(const std::string& dir, int32_t count, const char* prefix = "train");

}  // namespace tavelin::test_util
