// CliProcess: brevisfetch-cli run by an end-to-end test in a process of its own, against a
// server given by its base address. The including test defines BREVISFETCH_CLI, the program's path.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace brevis::test {

// What a finished run of brevisfetch-cli gave: its exit status and both outputs.
struct CliRun {
  int status = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

// Runs the program args[0] with `args` in place of this process (a child just forked).
[[noreturn]] inline void Exec(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

// A run of brevisfetch-cli started in a process group of its own, so that the processes it
// starts can be waited for too; the test process adopts them when their parent dies.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::string& base,
             const std::filesystem::path& out, const std::filesystem::path& err) {
    // Emptied before the start, so that nothing of an earlier run is read as this one's.
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      ::dup2(out_fd, STDOUT_FILENO);
      ::dup2(err_fd, STDERR_FILENO);
      ::setenv("BREVISFETCH_SERVER", base.c_str(), 1);
      ::setenv("BREVISFETCH_PATENT_OFFICE", base.c_str(), 1);
      std::vector<std::string> all = {BREVISFETCH_CLI};
      all.insert(all.end(), args.begin(), args.end());
      Exec(all);
    }
    ::close(out_fd);
    ::close(err_fd);
    // Also from here, so that the group exists before anything is sent to it.
    ::setpgid(pid_, pid_);
    start_ = std::chrono::steady_clock::now();
  }
  ~CliProcess() {
    if (!reaped_) Signal(SIGKILL);
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Makes the test process adopt the orphans of the processes it starts.
  static void AdoptOrphans() { ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }

  std::chrono::duration<double> Elapsed() const {
    return std::chrono::steady_clock::now() - start_;
  }

  // Polls every half millisecond until `ready` holds or the program has ended; true when `ready`
  // held while it still ran.
  bool WaitUntil(const std::function<bool()>& ready, std::chrono::duration<double> limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (ready()) return true;
      if (Ended()) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
  }
  // Waits at most `limit` for the program's end; true when it ended.
  bool WaitForEnd(std::chrono::duration<double> limit) {
    return !WaitUntil([] { return false; }, limit) && Ended();
  }
  // Sends `signal_number` to the program alone, then waits for it and for every process it
  // started. The program's wait status.
  int Signal(int signal_number) {
    if (!reaped_) ::kill(pid_, signal_number);
    return Wait();
  }
  // Waits for the program's end and for every process it started. The program's wait status.
  int Wait() {
    Reap();
    return status_;
  }
  int Status() const { return status_; }
  pid_t Pid() const { return pid_; }
  // Peak resident set size of the program and the processes it waited for, once it has ended.
  long PeakKiB() const { return usage_.ru_maxrss; }
  bool Ended() {
    if (!reaped_ && ::wait4(pid_, &status_, WNOHANG, &usage_) == pid_) reaped_ = true;
    if (reaped_) ReapGroup();
    return reaped_;
  }

 private:
  void Reap() {
    while (!reaped_) {
      if (::wait4(pid_, &status_, 0, &usage_) == pid_ || errno != EINTR) reaped_ = true;
    }
    ReapGroup();
  }
  // Its children outlive it only until its death reaches them; they are adopted by now.
  void ReapGroup() {
    while (::waitpid(-pid_, nullptr, 0) > 0 || errno == EINTR) {
    }
  }

  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  rusage usage_{};
  std::chrono::steady_clock::time_point start_;
};

}  // namespace brevis::test
