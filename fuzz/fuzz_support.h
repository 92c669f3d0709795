// What the fuzz targets share: a fixed verdict for broken invariants, and
// a private working directory with the data/ folder the program reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tavelin::fuzz {

// A broken invariant is a finding like a crash: libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

// A fresh directory under the system's temporary directory with an empty
// data/ folder in it, removed when the process exits normally.
std::string make_work_dir();

// The program looks its training files up in data/ below the working
// directory, so the targets work inside their own directory, but only
// while an input runs: libFuzzer reads and writes its corpus and crash
// files with paths relative to the directory it was started in.
class InWorkDir {
public:
    explicit InWorkDir(const std::string& dir);
    ~InWorkDir();
    InWorkDir(const InWorkDir&) = delete;
    InWorkDir& operator=(const InWorkDir&) = delete;

private:
    int previous_;
};

// Writes `length` bytes to `path`, replacing it.
void write_bytes(const std::string& path, const uint8_t* bytes, size_t length);

}  // namespace tavelin::fuzz
