// CallQueue: a locked queue of calls and the loops that run it.
#include "core/call_queue.h"

#include <utility>

namespace brevis {

void CallQueue::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::move(call));
  }
  posted_.notify_all();
}

std::size_t CallQueue::RunPending() {
  std::size_t ran = 0;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (calls_.empty()) return ran;
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    // Run outside the lock: a call may post further calls.
    call();
    ++ran;
  }
}

bool CallQueue::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    std::function<void()> call;
    {
      std::unique_lock<std::mutex> lock(lock_);
      if (!posted_.wait_until(lock, deadline, [this] { return !calls_.empty(); })) return done();
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
  }
  return true;
}

}  // namespace brevis
