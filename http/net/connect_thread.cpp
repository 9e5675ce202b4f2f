// Connect thread: the connect waits in poll() beside a pipe, so that Stop() ends it at once and
// the socket is never closed while the thread still uses it.
#include "http/net/connect_thread.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <exception>

#include "http/net/net_error.h"

namespace brevis {

ConnectThread::ConnectThread(SocketHandle& binding) : binding_(binding) {
  if (::pipe2(cancelPipe_, O_CLOEXEC) != 0) SocketStack::RaiseLastSocketError();
  try {
    thread_ = std::thread([this] { Execute(); });
  } catch (...) {
    ::close(cancelPipe_[0]);
    ::close(cancelPipe_[1]);
    throw;
  }
}

ConnectThread::~ConnectThread() {
  Stop();
  Join();
  ::close(cancelPipe_[0]);
  ::close(cancelPipe_[1]);
}

void ConnectThread::Execute() {
  std::string message;
  int error = 0;
  try {
    binding_.Connect(cancelPipe_[0]);
  } catch (const NetSocketError& e) {
    if (e.LastError() != WSAEBADF && e.LastError() != WSAENOTSOCK) {
      message = e.what();
      error = e.LastError();
    }
  } catch (const std::exception& e) {
    message = e.what();
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (!stopRequested_) {
    exceptionMessage_ = message;
    lastSocketError_ = error;
  }
  terminated_ = true;
  finished_.notify_all();
}

bool ConnectThread::WaitFor(int milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  if (milliseconds < 0) {
    finished_.wait(guard, [this] { return terminated_; });
    return true;
  }
  return finished_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                            [this] { return terminated_; });
}

void ConnectThread::Stop() {
  std::lock_guard<std::mutex> guard(lock_);
  if (stopRequested_ || terminated_) return;
  stopRequested_ = true;
  const char byte = 1;
  // The pipe is only a wake-up signal; if it is somehow full the thread is awake already.
  [[maybe_unused]] const ssize_t n = ::write(cancelPipe_[1], &byte, 1);
}

void ConnectThread::Join() {
  if (thread_.joinable()) thread_.join();
}

bool ConnectThread::Terminated() const {
  std::lock_guard<std::mutex> guard(lock_);
  return terminated_;
}

}  // namespace brevis
