// Running a piece of a test in a child process of its own, optionally as
// an unprivileged user. Root reads every file whatever its mode, so a test
// of an unreadable file has to give up root first when the suite runs as
// root (as CI does). A child also starts from the process-wide state the
// test program had before (the window program trains only once per process).
#pragma once

#include <functional>
#include <string>

namespace tavelin::test_util {

struct ChildRun {
    int status = -1;  // the child's exit status; -1 when it did not exit normally
    std::string err;  // what it wrote to standard error
};

// Runs `body` in a child process and returns its exit status (body's
// result) and standard error. With `as_nobody`, the child runs as user
// "nobody" when the tests run as root. A child still running after two
// minutes (waiting on a named pipe, say) is killed: status -1.
ChildRun run_in_child(const std::function<int()>& body, bool as_nobody = false);
inline ChildRun run_unprivileged(const std::function<int()>& body) { return run_in_child(body, true); }

// A shell command prefix that runs a program as "nobody" when the tests
// run as root (empty otherwise).
std::string unprivileged_command_prefix();

// chmod 0755 on `dir`, so that "nobody" can reach the files in it.
void open_directory_to_all(const std::string& dir);

}  // namespace tavelin::test_util
