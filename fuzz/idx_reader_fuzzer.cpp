// The IDX training-set reader on an arbitrary pair of files.
//
// Input: two bytes (little-endian) that say where to split, four bytes of
// generator state for the Tab command, then the bytes of the image file
// followed by those of the label file. Both files are written to data/
// and read the ways the program reads them: load_samples for training,
// read_labeled_images for a test set, and show_random_sample (Tab) for the
// canvas; a file that starts as gzip does is read unpacked. Any header,
// count and length is allowed; the reader must never read outside its
// buffers and must take exactly the records that both files hold
// completely and the image header promises.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "core/random.h"
#include "fuzz_support.h"
#include "training/gunzip.h"
#include "training/samples.h"
#ifdef TAVELIN_FUZZ_CANVAS
#include "app/canvas.h"
#endif

using namespace tavelin;
using namespace tavelin::fuzz;

namespace {

std::string work_dir;

void check_samples(const uint8_t* images, const uint8_t* labels, const std::vector<Sample>& samples) {
    for (size_t k = 0; k < samples.size(); k++) {
        const Sample& s = samples[k];
        FUZZ_CHECK(s.image.size_x == 28 && s.image.size_y == 28 && s.image.size_z == 1);
        FUZZ_CHECK(s.target.size_x == 10 && s.target.size_y == 1 && s.target.size_z == 1);
        const uint8_t* record = images + image_header_bytes + k * image_bytes;
        // The corners and one inner pixel of every record: row-major,
        // column x at element x.
        FUZZ_CHECK(s.image(0, 0, 0) == float(record[0]) / 255.0f);
        FUZZ_CHECK(s.image(27, 0, 0) == float(record[27]) / 255.0f);
        FUZZ_CHECK(s.image(5, 3, 0) == float(record[3 * 28 + 5]) / 255.0f);
        FUZZ_CHECK(s.image(27, 27, 0) == float(record[783]) / 255.0f);
        const uint8_t label = labels[label_header_bytes + k];
        for (int32_t j = 0; j < 10; j++) FUZZ_CHECK(s.target[j] == (label == j ? 1.0f : 0.0f));
    }
}

#ifdef TAVELIN_FUZZ_CANVAS
// Tab: the image numbered by the next draw (counting from 1, wrapping
// round the file's complete records), or nothing when there is none.
void check_tab(const uint8_t* images, size_t image_length, uint32_t rand_seed) {
    for (Pixel& p : canvas) p = Pixel{1, 2, 3, 4};
    set_rand_state(rand_seed);
    const int32_t drawn = tavelin::rand() % 60000;
    set_rand_state(rand_seed);
    show_random_sample();
    const int64_t records = complete_image_records(int64_t(image_length));
    for (int32_t i = 0; i < 784; i++) {
        const Pixel p = canvas[i];
        if (records == 0) {
            FUZZ_CHECK(p.blue == 1 && p.green == 2 && p.red == 3 && p.unused == 4);
            continue;
        }
        int64_t record = (int64_t(drawn) - 1) % records;
        if (record < 0) record += records;
        const uint8_t v = uint8_t(255 - images[image_header_bytes + record * image_bytes + i]);
        FUZZ_CHECK(p.blue == v && p.green == v && p.red == v && p.unused == 4);
    }
}
#endif

// A file as the reader sees it: unpacked when it starts as gzip does, no
// bytes at all when that fails (it is then unreadable).
std::unique_ptr<uint8_t[]> as_read(const uint8_t*& bytes, size_t& length) {
    if (!looks_gzipped(bytes, length)) return nullptr;
    std::unique_ptr<uint8_t[]> unpacked = gunzip(bytes, length, size_t(INT32_MAX) - 1, &length, nullptr);
    bytes = unpacked.get();
    if (!unpacked) length = 0;
    return unpacked;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    work_dir = make_work_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return -1;  // not kept in the corpus
    const size_t body = size - 6;
    size_t image_length = std::min<size_t>(size_t(data[0] | data[1] << 8), body);
    uint32_t rand_seed;
    std::memcpy(&rand_seed, data + 2, 4);
    const InWorkDir in_work_dir(work_dir);
    write_bytes(default_image_path.c_str(), data + 6, image_length);
    write_bytes(default_label_path.c_str(), data + 6 + image_length, body - image_length);
    const uint8_t* images = data + 6;
    const uint8_t* labels = images + image_length;
    size_t label_length = body - image_length;
    const auto unpacked_images = as_read(images, image_length), unpacked_labels = as_read(labels, label_length);

    LabeledImages files;
    const bool readable = read_labeled_images(default_image_path.c_str(), default_label_path.c_str(), "test", files);
    // Only a file too short for its header is refused outright.
    FUZZ_CHECK(readable == (images && labels && image_length >= size_t(image_header_bytes) &&
                            label_length >= size_t(label_header_bytes)));
    if (readable) {
        const int64_t promised = read_be32(images + 4);
        const int64_t image_records = complete_image_records(int64_t(image_length));
        const int64_t label_records = int64_t(label_length) - label_header_bytes;
        FUZZ_CHECK(files.count == std::min({promised, image_records, label_records}));
        for (int32_t k = 0; k < files.count; k++) {
            FUZZ_CHECK(std::memcmp(files.image(k), images + image_header_bytes + k * image_bytes, 784) == 0);
            FUZZ_CHECK(files.label(k) == labels[label_header_bytes + k]);
        }
    }

    const std::vector<Sample> samples = load_samples();
    FUZZ_CHECK(int64_t(samples.size()) == (readable ? files.count : 0));
    check_samples(images, labels, samples);

#ifdef TAVELIN_FUZZ_CANVAS
    check_tab(images, image_length, rand_seed);
#endif
    return 0;
}
