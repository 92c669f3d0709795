// The IDX loader on files the tests write: honest, truncated and lying
// headers, odd labels, empty, missing and unreadable files. A malformed
// file must never make the loader read outside its buffers (run under the
// sanitizer build to see that).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_files.h"
#include "child_process.h"
#include "training/samples.h"

using namespace tavelin;
using namespace tavelin::test_util;

namespace {

class Loader : public ::testing::Test {
protected:
    std::string dir = make_temp_dir();
    std::string images = dir + "/images";
    std::string labels = dir + "/labels";
    void TearDown() override { remove_tree(dir); }

    std::vector<Sample> load() { return load_samples(images.c_str(), labels.c_str()); }
    void write(const Bytes& image_bytes, const Bytes& label_bytes) {
        write_file(images, image_bytes);
        write_file(labels, label_bytes);
    }
};

uint8_t gradient_pixel(int32_t k, int32_t r, int32_t c) {
    if (r == 0 && c == 0) return 255;
    if (r == 0 && c == 1) return 128;
    if (r == 27 && c == 27) return uint8_t(k);
    return uint8_t(r * 9 + c % 7);
}

TEST_F(Loader, ReadsImagesScaledAndOneHotTargetsInFileOrder) {
    write(idx_images(3, 3, gradient_pixel), idx_labels(3, {7, 0, 9}));
    const std::vector<Sample> samples = load();
    ASSERT_EQ(samples.size(), 3u);
    for (int32_t k = 0; k < 3; k++) {
        const Sample& s = samples[size_t(k)];
        EXPECT_EQ(s.image.size_x, 28);
        EXPECT_EQ(s.image.size_y, 28);
        EXPECT_EQ(s.image.size_z, 1);
        EXPECT_EQ(s.image(0, 0, 0), 1.0f);
        EXPECT_EQ(bits_of(s.image(1, 0, 0)), 0x3f008081u);  // 128 / 255 in float
        EXPECT_EQ(s.image(27, 27, 0), float(k) / 255.0f);
        // Column c, row r: element (c, r).
        EXPECT_EQ(s.image(3, 5, 0), float(5 * 9 + 3) / 255.0f);
        EXPECT_EQ(s.target.size_x, 10);
    }
    const uint8_t expected_labels[] = {7, 0, 9};
    for (int32_t k = 0; k < 3; k++)
        for (int32_t j = 0; j < 10; j++)
            EXPECT_EQ(samples[size_t(k)].target[j], j == expected_labels[k] ? 1.0f : 0.0f);
}

TEST_F(Loader, CountZeroGivesNoSamples) {
    write(idx_images(0, 2, pattern_pixel), idx_labels(2, {1, 2}));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load().empty());
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(images + ": header gives an image count of 0"), std::string::npos) << message;
}

TEST_F(Loader, CountIsBigEndian) {
    const uint8_t header[4] = {0x00, 0x00, 0xEA, 0x60};
    EXPECT_EQ(read_be32(header), 60000u);
    write(idx_images(0x00000102, 258, pattern_pixel), idx_labels(258, std::vector<uint8_t>(258, 3)));
    EXPECT_EQ(load().size(), 258u);
}

TEST_F(Loader, RowAndColumnFieldsAreIgnored) {
    write(idx_images(2, 2, pattern_pixel, 14, 56), idx_labels(2, {4, 5}));
    testing::internal::CaptureStderr();
    const std::vector<Sample> samples = load();
    const std::string warning = testing::internal::GetCapturedStderr();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].image(0, 1, 0), float(pattern_pixel(1, 1, 0)) / 255.0f);
    EXPECT_NE(warning.find(images + ": header gives images of 14 rows and 56 columns"), std::string::npos)
        << warning;

    write(idx_images(1, 1, pattern_pixel, 0, 0xFFFFFFFFu), idx_labels(1, {4}));
    EXPECT_EQ(load().size(), 1u);
}

TEST_F(Loader, LabelAboveNineGivesAllZeroTarget) {
    write(idx_images(3, 3, pattern_pixel), idx_labels(3, {10, 255, 9}));
    testing::internal::CaptureStderr();
    const std::vector<Sample> samples = load();
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find(labels + ": 2 labels above 9"), std::string::npos) << warning;
    ASSERT_EQ(samples.size(), 3u);
    for (int32_t j = 0; j < 10; j++) {
        EXPECT_EQ(samples[0].target[j], 0.0f);
        EXPECT_EQ(samples[1].target[j], 0.0f);
    }
    EXPECT_EQ(samples[2].target[9], 1.0f);

    write(idx_images(2, 2, pattern_pixel), idx_labels(2, {3, 11}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(load().size(), 2u);
    const std::string one = testing::internal::GetCapturedStderr();
    EXPECT_NE(one.find(labels + ": 1 label above 9;"), std::string::npos) << one;
}

TEST_F(Loader, LabelHeaderCountIsIgnored) {
    write(idx_images(2, 2, pattern_pixel), idx_labels(9999, {3, 8, 1, 1}));
    const std::vector<Sample> samples = load();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].target[8], 1.0f);
}

TEST_F(Loader, TruncatedImageFileKeepsOnlyCompleteRecords) {
    Bytes image_bytes = idx_images(5, 5, pattern_pixel);
    image_bytes.resize(image_bytes.size() - 100);  // the last record loses 100 bytes
    write(image_bytes, idx_labels(5, {0, 1, 2, 3, 4}));
    testing::internal::CaptureStderr();
    const std::vector<Sample> samples = load();
    const std::string warning = testing::internal::GetCapturedStderr();
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[3].target[3], 1.0f);
    EXPECT_NE(warning.find("promises 5"), std::string::npos) << warning;
    EXPECT_NE(warning.find("4 complete"), std::string::npos) << warning;
    EXPECT_NE(warning.find(images), std::string::npos) << warning;
}

TEST_F(Loader, LyingHeadersNeverReadPastTheFiles) {
    write(idx_images(0xFFFFFFFFu, 3, pattern_pixel), idx_labels(3, {1, 2, 3}));
    EXPECT_EQ(load().size(), 3u);

    write(idx_images(0x7FFFFFFFu, 0, pattern_pixel), idx_labels(0, {}));
    EXPECT_TRUE(load().empty());
}

TEST_F(Loader, ShortLabelFileLimitsTheSamples) {
    write(idx_images(6, 6, pattern_pixel), idx_labels(6, {5, 6}));
    testing::internal::CaptureStderr();
    const std::vector<Sample> samples = load();
    const std::string warning = testing::internal::GetCapturedStderr();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].target[6], 1.0f);
    EXPECT_NE(warning.find(labels), std::string::npos) << warning;
    EXPECT_NE(warning.find("2 labels"), std::string::npos) << warning;

    write(idx_images(6, 6, pattern_pixel), Bytes{0, 0, 8});  // not even a header
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load().empty());
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(labels + ": too short for a label file header (3 bytes)"), std::string::npos)
        << message;
}

TEST_F(Loader, MissingEmptyAndHeaderlessFilesGiveNoSamplesAndSaySo) {
    write_file(labels, idx_labels(1, {1}));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load().empty());  // images missing
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(images), std::string::npos) << message;

    write_file(images, Bytes{});
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load().empty());
    message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("too short"), std::string::npos) << message;

    write_file(images, Bytes{0, 0, 8, 3, 0, 0, 0});
    EXPECT_TRUE(load().empty());

    write_file(images, idx_images(1, 1, pattern_pixel));
    std::remove(labels.c_str());
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load().empty());
    message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(labels), std::string::npos) << message;
}

// Linux opens a directory for reading and gives it a length of LONG_MAX:
// the message once spoke of a file "too large to read".
TEST_F(Loader, DirectoryInPlaceOfAFile) {
    mkdir(images.c_str(), 0755);
    write_file(labels, idx_labels(1, {1}));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load().empty());
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(images + ": cannot read training images: it is a directory"), std::string::npos)
        << message;

    rmdir(images.c_str());
    write_file(images, idx_images(1, 1, pattern_pixel));
    std::remove(labels.c_str());
    mkdir(labels.c_str(), 0755);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(load().empty());
    message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(labels + ": cannot read training labels: it is a directory"), std::string::npos)
        << message;
}

TEST_F(Loader, ReadFileWholeAddsAZeroByte) {
    write_file(images, Bytes{1, 2, 3});
    int32_t length = -7;
    FileBuffer b = read_file_whole(images.c_str(), &length);
    ASSERT_TRUE(b);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(b[2], 3);
    EXPECT_EQ(b[3], 0);

    write_file(images, Bytes{});
    b = read_file_whole(images.c_str(), &length);
    ASSERT_TRUE(b);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(b[0], 0);

    EXPECT_TRUE(read_file_whole(images.c_str(), nullptr));  // the length is optional
}

TEST_F(Loader, ReadFileWholeFailureLeavesTheLengthAlone) {
    int32_t length = -7;
    std::string why;
    EXPECT_FALSE(read_file_whole((dir + "/missing").c_str(), &length, &why));
    EXPECT_EQ(length, -7);
    EXPECT_FALSE(why.empty());

    EXPECT_FALSE(read_file_whole(dir.c_str(), &length, &why));  // a directory
    EXPECT_EQ(length, -7);
    EXPECT_EQ(why, "it is a directory, not a file");
}

TEST_F(Loader, UnreadableFileIsReported) {
    write(idx_images(1, 1, pattern_pixel), idx_labels(1, {1}));
    open_directory_to_all(dir);
    for (const std::string* unreadable : {&images, &labels}) {
        chmod(images.c_str(), 0644);
        chmod(labels.c_str(), 0644);
        chmod(unreadable->c_str(), 0);
        // As "nobody" when the suite runs as root: root reads it anyway.
        const ChildRun run = run_unprivileged([this] { return int(load().size()); });
        EXPECT_EQ(run.status, 0) << *unreadable;  // no samples
        EXPECT_NE(run.err.find(*unreadable + ": cannot read training"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Permission denied"), std::string::npos) << run.err;
    }
}

// Only a plain file is opened: a named pipe would wait for a writer for
// ever and a device never ends. A file under /proc states a length of 0
// and holds more: it is read to its end. Each read runs in a child, so
// that one that waits fails the test instead of hanging the suite.
TEST_F(Loader, OnlyPlainFilesAreReadAndEachToItsEnd) {
    ASSERT_EQ(mkfifo(images.c_str(), 0644), 0);
    const std::pair<std::string, std::string> cases[] = {
        {images, "it is a named pipe, not a file|-1"},
        {"/dev/zero", "it is a device, not a file|-1"},
        {"/dev/urandom", "it is a device, not a file|-1"},
        {"/proc/self/status", "|read whole"},
    };
    for (const auto& [path, expected] : cases) {
        const ChildRun run = run_in_child([&path = path] {
            int32_t length = -1;
            std::string why;
            const FileBuffer b = read_file_whole(path.c_str(), &length, &why);
            const bool whole = b && length > 0 && std::string(reinterpret_cast<const char*>(b.get())).find("VmPeak") != std::string::npos;
            std::fprintf(stderr, "%s|%s", why.c_str(), whole ? "read whole" : std::to_string(length).c_str());
            return 0;
        });
        EXPECT_EQ(run.status, 0) << path;
        EXPECT_EQ(run.err, expected) << path;
    }
}

// Wrong magic numbers and a label count that disagrees with the labels
// present are named, with both numbers; what is read stays the same.
TEST_F(Loader, WrongMagicNumbersAndLabelCountsAreNamedAndChangeNothing) {
    struct Case {
        uint32_t image_magic, label_magic, label_count;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {2051, 2049, 3, {}},
        {0xDEADBEEF, 2049, 3, {images + ": magic number 3735928559 (0xDEADBEEF) is not that of an image file (2051)"}},
        {2049, 2051, 3,
         {images + ": magic number 2049 marks a label file, not an image file (2051)",
          labels + ": magic number 2051 marks an image file, not a label file (2049)"}},
        {2051, 2049, 9999, {labels + ": header gives a label count of 9999, but the file holds 3 labels"}},
        {2051, 2049, 1, {labels + ": header gives a label count of 1, but the file holds 3 labels"}},
    };
    for (const Case& c : cases) {
        Bytes image_bytes = idx_images(3, 3, pattern_pixel);
        Bytes label_bytes = idx_labels(c.label_count, {4, 5, 6});
        for (int i = 0; i < 4; i++) {
            image_bytes[size_t(i)] = uint8_t(c.image_magic >> (24 - 8 * i));
            label_bytes[size_t(i)] = uint8_t(c.label_magic >> (24 - 8 * i));
        }
        write(image_bytes, label_bytes);
        testing::internal::CaptureStderr();
        const std::vector<Sample> samples = load();
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(samples.size(), 3u) << err;
        EXPECT_EQ(samples[2].target[6], 1.0f);
        for (const std::string& warning : c.warnings) EXPECT_NE(err.find(warning), std::string::npos) << err;
        if (c.warnings.empty()) {
            EXPECT_EQ(err, "");
        }
    }
}

// A set larger than the memory there is gives a message and no samples,
// not an abort. The address sanitizer aborts on a failed allocation by
// design, so there is nothing to see in that build.
TEST_F(Loader, ASetTooLargeForMemoryIsADataErrorWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer aborts when an allocation fails";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer aborts when an allocation fails";
#endif
#endif
    // 157 MB of (sparse) records, about 650 MB as samples: the files fit
    // the limit below, the samples do not.
    constexpr uint32_t count = 200000;
    write(idx_images(count, 0, pattern_pixel), idx_labels(count, {}));
    ASSERT_EQ(truncate(images.c_str(), off_t(16) + off_t(count) * 784), 0);
    ASSERT_EQ(truncate(labels.c_str(), off_t(8) + count), 0);
    const ChildRun run = run_in_child([this] {
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(400) << 20);
        const rlimit address_space{limit, limit};
        if (pages == 0 || setrlimit(RLIMIT_AS, &address_space) != 0) return 3;
        return load().empty() ? 0 : 4;
    });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(images + ": not enough memory for 200000 training samples"), std::string::npos) << run.err;
}

// Gzipped files, whatever their name, give the loader the very bytes of
// the unpacked file; damaged gzip data, and a small file that would unpack
// past the limit of 2^31 - 2 bytes, are read errors that name the file.
TEST_F(Loader, GzippedFilesGiveTheirUnpackedBytes) {
    const Bytes plain = idx_images(5, 5, gradient_pixel);
    const Bytes packed = gzipped(plain);
    Bytes two_members = gzipped(Bytes(plain.begin(), plain.begin() + 100));  // as gzip appends
    const Bytes rest = gzipped(Bytes(plain.begin() + 100, plain.end()));
    two_members.insert(two_members.end(), rest.begin(), rest.end());
    Bytes changed = packed;
    changed[packed.size() / 2] ^= 0x55;
    const Bytes zeros = gzipped(Bytes(size_t(64) << 20, 0));
    Bytes bomb;  // 32 members of 64 MiB of zeros: 2^31 bytes, in about 2 MB
    for (int i = 0; i < 32; i++) bomb.insert(bomb.end(), zeros.begin(), zeros.end());
    const std::pair<Bytes, std::string> cases[] = {  // the file, and why it fails ("" when it reads)
        {packed, ""},
        {two_members, ""},
        {Bytes(packed.begin(), packed.end() - 12), "damaged gzip data: it ends early"},
        {changed, "damaged gzip data: "},
        {Bytes{0x1f, 0x8b}, "damaged gzip data: it ends early"},
        {bomb, "too large to read: it unpacks to more than " + std::to_string(INT32_MAX - 1) + " bytes"},
    };
    for (const auto& [file, failure] : cases) {
        write(file, gzipped(idx_labels(5, {3, 1, 4, 1, 5})));
        int32_t length = -1;
        std::string why;
        const FileBuffer b = read_data_file(images.c_str(), &length, &why);
        testing::internal::CaptureStderr();
        const size_t loaded = load().size();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(loaded, failure.empty() ? 5u : 0u) << err;
        EXPECT_EQ(why.rfind(failure, 0), 0u) << why;
        if (!failure.empty()) {
            EXPECT_EQ(err.rfind(images + ": cannot read training images: " + failure, 0), 0u) << err;
            continue;
        }
        ASSERT_EQ(length, int32_t(plain.size()));
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), b.get()));
        EXPECT_EQ(b[size_t(length)], 0);
    }
}

TEST(Records, CompleteImageRecords) {
    EXPECT_EQ(complete_image_records(0), 0);
    EXPECT_EQ(complete_image_records(15), 0);
    EXPECT_EQ(complete_image_records(16), 0);
    EXPECT_EQ(complete_image_records(16 + 783), 0);
    EXPECT_EQ(complete_image_records(16 + 784), 1);
    EXPECT_EQ(complete_image_records(16 + 784 * 9000 + 5), 9000);
}

}  // namespace
