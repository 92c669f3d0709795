#include "test_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <zlib.h>

namespace tavelin::test_util {

std::string make_temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavelin-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void remove_tree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

static void put_be32(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v >> 24));
    b.push_back(uint8_t(v >> 16));
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

Bytes idx_images(uint32_t header_count, int32_t images, uint8_t (*pixel)(int32_t, int32_t, int32_t),
                 uint32_t rows, uint32_t columns) {
    Bytes b;
    put_be32(b, 0x00000803);
    put_be32(b, header_count);
    put_be32(b, rows);
    put_be32(b, columns);
    for (int32_t k = 0; k < images; k++)
        for (int32_t r = 0; r < 28; r++)
            for (int32_t c = 0; c < 28; c++) b.push_back(pixel(k, r, c));
    return b;
}

Bytes idx_labels(uint32_t header_count, const std::vector<uint8_t>& labels) {
    Bytes b;
    put_be32(b, 0x00000801);
    put_be32(b, header_count);
    b.insert(b.end(), labels.begin(), labels.end());
    return b;
}

uint8_t pattern_pixel(int32_t k, int32_t r, int32_t c) { return uint8_t((k * 37 + r * 3 + c) % 256); }

std::vector<uint8_t> labels_mod_ten(int32_t count) {
    std::vector<uint8_t> labels;
    for (int32_t k = 0; k < count; k++) labels.push_back(uint8_t(k % 10));
    return labels;
}

void write_training_set(const std::string& dir, int32_t count, const char* prefix) {
    const std::vector<uint8_t> labels = labels_mod_ten(count);
    const std::string p = dir + "/" + prefix;
    write_file(p + "-images.idx3-ubyte", idx_images(uint32_t(count), count, pattern_pixel));
    write_file(p + "-labels.idx1-ubyte", idx_labels(uint32_t(count), labels));
}

Bytes gzipped(const Bytes& bytes) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    Bytes out(deflateBound(&z, uLong(bytes.size())));
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = uInt(bytes.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

}  // namespace tavelin::test_util
