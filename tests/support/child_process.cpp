#include "child_process.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace tavelin::test_util {

namespace {

// Gives up root for good: no supplementary groups, nobody's group, nobody.
bool drop_root() {
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) return false;
    return setgroups(0, nullptr) == 0 && setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0;
}

}  // namespace

ChildRun run_in_child(const std::function<int()>& body, bool as_nobody) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        close(pipe_fds[0]);
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[1]);
        if (as_nobody && geteuid() == 0 && !drop_root()) _exit(125);
        alarm(120);
        const int status = body();
        std::fflush(nullptr);
        _exit(status);  // no test-framework teardown in the child
    }
    close(pipe_fds[1]);
    ChildRun run;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) run.err.append(buffer, size_t(n));
    close(pipe_fds[0]);
    int raw = 0;
    waitpid(pid, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

std::string unprivileged_command_prefix() {
    return geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
}

void open_directory_to_all(const std::string& dir) { chmod(dir.c_str(), 0755); }

}  // namespace tavelin::test_util
