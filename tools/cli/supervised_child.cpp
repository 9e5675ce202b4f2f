// SuperviseChild: the parent waits for signals and the child's end with sigwait; the child dies
// with its parent through PR_SET_PDEATHSIG.
#include "tools/cli/supervised_child.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

namespace brevis::cli {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool Ignored(int signal_number) {
  struct sigaction current {};
  return ::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// Ends the parent as `signal_number` would have ended it untouched, so that a shell sees the
// command killed by Ctrl-C or SIGTERM; other signals give the status 128 + the signal.
[[noreturn]] void EndBy(int signal_number) {
  for (const int stop : kStopSignals) {
    if (stop != signal_number) continue;
    ::signal(signal_number, SIG_DFL);
    sigset_t only;
    ::sigemptyset(&only);
    ::sigaddset(&only, signal_number);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal_number);
  }
  ::_exit(128 + signal_number);
}

[[noreturn]] void StopAndCleanUp(pid_t child, int signal_number,
                                 const std::function<void(pid_t)>& clean_up) {
  try {
    clean_up(child);
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
  }
  EndBy(signal_number);
}

}  // namespace

void SuperviseChild(const std::function<void(pid_t child)>& clean_up) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);

  sigset_t watched;
  ::sigemptyset(&watched);
  ::sigaddset(&watched, SIGCHLD);
  for (const int stop : kStopSignals) {
    // nohup and background jobs of a shell ignore some of them; so does the work then.
    if (!Ignored(stop)) ::sigaddset(&watched, stop);
  }
  // Blocked before the fork, so that none arrives unseen before the parent waits for it. An
  // ignored SIGCHLD would reap the child unseen.
  sigset_t previous;
  ::sigprocmask(SIG_BLOCK, &watched, &previous);
  ::signal(SIGCHLD, SIG_DFL);

  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    throw std::runtime_error(std::string("Cannot start the work: ") + std::strerror(error));
  }
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have died before the line above.
    if (::getppid() != parent) ::raise(SIGKILL);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    return;
  }

  int status = 0;
  for (;;) {
    int signal_number = 0;
    if (::sigwait(&watched, &signal_number) != 0) continue;
    if (signal_number == SIGCHLD) {
      if (::waitpid(child, &status, WNOHANG) == child) break;
      continue;
    }
    ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    StopAndCleanUp(child, signal_number, clean_up);
  }
  if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
  StopAndCleanUp(child, WTERMSIG(status), clean_up);
}

}  // namespace brevis::cli
