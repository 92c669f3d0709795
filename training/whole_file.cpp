#include "training/whole_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "training/samples.h"

namespace tavelin {

namespace fs = std::filesystem;

namespace {

// Linux gives up after 40 links; so does this.
constexpr int most_links = 40;

// The partial file for the signal handler: a fixed buffer filled before the
// file is created, so the handler only calls unlink on it.
char partial_for_signals[4096];
volatile std::sig_atomic_t partial_exists = 0;

#ifndef _WIN32
constexpr int removing_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void remove_partial_and_stop(int signal_number) {
    if (partial_exists) unlink(partial_for_signals);
    // Then end as the signal would have: the caller sees it in the status.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Installs the handler for the signals the process does not ignore (a
// command started with nohup keeps ignoring SIGHUP); off restores them.
void remove_partial_on_signals(bool on) {
    static struct sigaction previous[4];
    static bool installed[4];
    for (int i = 0; i < 4; i++) {
        if (!on) {
            if (installed[i]) sigaction(removing_signals[i], &previous[i], nullptr);
            installed[i] = false;
            continue;
        }
        struct sigaction now {};
        now.sa_handler = remove_partial_and_stop;
        sigemptyset(&now.sa_mask);
        sigaction(removing_signals[i], nullptr, &previous[i]);
        installed[i] = previous[i].sa_handler != SIG_IGN;
        if (installed[i]) sigaction(removing_signals[i], &now, nullptr);
    }
}

void block_removing_signals(bool block, sigset_t* old) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : removing_signals) sigaddset(&set, s);
    if (block) sigprocmask(SIG_BLOCK, &set, old);
    else sigprocmask(SIG_SETMASK, old, nullptr);
}

// Whether `st` is the file one of descriptors 0, 1 and 2 writes to: the
// report would be overwritten or mixed with the predictions.
const char* standard_stream_of(const struct stat& st) {
    const char* names[] = {"the standard input", "the standard output, where the report goes",
                           "the standard error, where the messages go"};
    for (int fd = 0; fd < 3; fd++) {
        struct stat open;
        if (fstat(fd, &open) == 0 && open.st_dev == st.st_dev && open.st_ino == st.st_ino) return names[fd];
    }
    return nullptr;
}
#endif

// Where `path` leads when it names no existing file: the last link's target,
// which a shell's `>` creates. False for a loop.
bool follow_links(fs::path& path) {
    std::error_code error;
    for (int hops = 0; fs::is_symlink(fs::symlink_status(path, error)); hops++) {
        if (hops == most_links) return false;
        const fs::path to = fs::read_symlink(path, error);
        if (error) return true;
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    return true;
}

int open_new(const std::string& path) {
#ifdef _WIN32
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

}  // namespace

int prepare_whole_file(const std::string& path, WholeFile& out, std::string& why) {
    auto refuse = [&](int status, const std::string& reason) {
        why = reason;
        return status;
    };
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    fs::path target = path;
    if (status.type() == fs::file_type::regular) {
        target = fs::canonical(path, error);
        if (error) return refuse(2, error.message());
    } else if (status.type() != fs::file_type::not_found) {
        if (error) return refuse(2, error.message());  // a loop of links, a folder that cannot be searched
        const char* kind = special_file_kind(status.type());
        return refuse(2, std::string("it is ") + (kind ? kind : "a special file"));
    } else if (!follow_links(target)) {
        return refuse(2, "it is a loop of symbolic links");
    }
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    if (!fs::is_directory(folder, error)) return refuse(1, "the folder " + folder.string() + " does not exist");
#ifndef _WIN32
    struct stat file_stat, folder_stat;
    const bool exists = stat(target.c_str(), &file_stat) == 0;
    if (exists)
        if (const char* stream = standard_stream_of(file_stat))
            return refuse(2, std::string("it is ") + stream);
    // A new file is made in the folder and renamed there.
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return refuse(1, "cannot create a file in " + folder.string() + ": " + std::strerror(errno));
    // In a sticky folder (/tmp) only the owner of a file, or of the folder,
    // may rename over it.
    if (exists && stat(folder.c_str(), &folder_stat) == 0 && (folder_stat.st_mode & S_ISVTX) && geteuid() != 0 &&
        file_stat.st_uid != geteuid() && folder_stat.st_uid != geteuid())
        return refuse(1, "it belongs to another user in the sticky folder " + folder.string() +
                                 ", so it cannot be replaced");
#endif
    out.target = target.string();
    out.partial.clear();
    return 0;
}

std::string write_whole_file(WholeFile& file, const std::string& text) {
    int fd = -1;
    std::string why;
#ifndef _WIN32
    sigset_t old_mask;
    remove_partial_on_signals(true);
    // The handler must know the name from the moment the file exists.
    block_removing_signals(true, &old_mask);
#endif
    for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
        file.partial = file.target + ".partial-" + std::to_string(getpid()) +
                       (attempt ? "-" + std::to_string(attempt) : "");
        fd = open_new(file.partial);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        why = std::strerror(errno);
        file.partial.clear();
    } else if (file.partial.size() < sizeof partial_for_signals) {
        std::memcpy(partial_for_signals, file.partial.c_str(), file.partial.size() + 1);
        partial_exists = 1;
    }
#ifndef _WIN32
    block_removing_signals(false, &old_mask);
#endif
    if (fd >= 0) {
        std::error_code error;
        // A file that is replaced keeps its permissions.
        const fs::file_status earlier = fs::status(file.target, error);
        if (!error && earlier.type() == fs::file_type::regular)
            fs::permissions(file.partial, earlier.permissions(), error);
        FILE* stream = fdopen(fd, "wb");
        if (stream == nullptr) close(fd);
        const bool written = stream && std::fwrite(text.data(), 1, text.size(), stream) == text.size();
        const int write_errno = errno;
        const bool closed = stream && std::fclose(stream) == 0;
        if (!written || !closed) why = std::strerror(written ? errno : write_errno);
        else {
            fs::rename(file.partial, file.target, error);
            if (error) why = error.message();
        }
        if (!why.empty()) std::remove(file.partial.c_str());
        partial_exists = 0;
        file.partial.clear();
    }
#ifndef _WIN32
    remove_partial_on_signals(false);
#endif
    return why;
}

}  // namespace tavelin
