// SuperviseChild: runs a command's work in a child process, so that an interrupted command can
// stop the work at once and remove the temporary files it leaves behind.
#pragma once

#include <sys/types.h>

#include <functional>

namespace brevis::cli {

// Forks, and returns only in the child, which goes on with the command's work. The parent waits
// for the child and ends with its exit status. When SIGINT, SIGTERM or SIGHUP reaches the
// parent (one the caller ignores is left to the child), the parent kills the child with SIGKILL,
// calls `clean_up(child_pid)` and ends by that signal; a child killed by any signal is cleaned
// up the same way. The child is killed when the parent dies, also by SIGKILL. Call it before
// any thread is started; standard output and error are flushed first. Throws
// std::runtime_error when the child cannot be started.
void SuperviseChild(const std::function<void(pid_t child)>& clean_up);

}  // namespace brevis::cli
