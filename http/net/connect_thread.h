// A thread that runs one blocking connect of a socket binding, so that the caller can give up
// after a connect time-out.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "http/net/socket_handle.h"

namespace brevis {

// Starts connecting on construction. A failure is recorded, not thrown: ExceptionMessage() is its
// text and LastSocketError() its socket error number (0 when it was no socket error). A connect
// that was stopped, or whose socket was closed under it (WSAEBADF, WSAENOTSOCK), records nothing.
// The destructor stops the connect and waits for the thread.
class ConnectThread {
 public:
  explicit ConnectThread(SocketHandle& binding);
  ~ConnectThread();
  ConnectThread(const ConnectThread&) = delete;
  ConnectThread& operator=(const ConnectThread&) = delete;

  // Waits until the thread has finished or `milliseconds` have passed (negative: no limit);
  // true when it has finished.
  bool WaitFor(int milliseconds);
  // Asks the connect to give up at once.
  void Stop();
  // Waits for the thread to end.
  void Join();
  bool Terminated() const;

  // Valid once the thread has finished.
  const std::string& ExceptionMessage() const { return exceptionMessage_; }
  int LastSocketError() const { return lastSocketError_; }

 private:
  void Execute();

  SocketHandle& binding_;
  int cancelPipe_[2] = {-1, -1};
  std::string exceptionMessage_;
  int lastSocketError_ = 0;
  mutable std::mutex lock_;
  std::condition_variable finished_;
  bool terminated_ = false;
  bool stopRequested_ = false;
  std::thread thread_;
};

}  // namespace brevis
