#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tavelin::fuzz {

namespace {

std::string work_dir;

void remove_work_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(work_dir, ignored);
}

[[noreturn]] void give_up(const std::string& what) {
    std::perror(what.c_str());
    std::exit(1);
}

}  // namespace

std::string make_work_dir() {
    std::string dir = (std::filesystem::temp_directory_path() / "tavelin-fuzz-XXXXXX").string();
    if (!mkdtemp(dir.data()) || mkdir((dir + "/data").c_str(), 0755) != 0)
        give_up("cannot make the fuzzer's working directory");
    work_dir = dir;
    std::atexit(remove_work_dir);
    return dir;
}

InWorkDir::InWorkDir(const std::string& dir) : previous_(open(".", O_RDONLY | O_DIRECTORY)) {
    if (previous_ < 0 || chdir(dir.c_str()) != 0) give_up("cannot enter " + dir);
}

InWorkDir::~InWorkDir() {
    if (fchdir(previous_) != 0) give_up("cannot return to the starting directory");
    close(previous_);
}

void write_bytes(const std::string& path, const uint8_t* bytes, size_t length) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) give_up(path);
    if (length && std::fwrite(bytes, 1, length, f) != length) give_up(path);
    std::fclose(f);
}

}  // namespace tavelin::fuzz
