// CallQueue: calls handed to one thread, for faces without an event loop of their own (the
// command line and the tests), which act as the window's thread by running the queue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace brevis {

class CallQueue {
 public:
  // Callable from any thread.
  void Post(std::function<void()> call);
  // Runs the calls posted so far, and those they post, until the queue is empty; returns how
  // many ran.
  std::size_t RunPending();
  // Runs calls as they arrive until `done()` holds (tested before waiting and after each call)
  // or `timeout` passes without it; returns done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  std::mutex lock_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> calls_;
};

}  // namespace brevis
