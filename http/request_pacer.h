// RequestPacer: the pace of a process's HTTP requests, shared by every client of the process: at
// most a given number of requests a second across all threads, and none while a hold-off that a
// server asked for (Retry-After) lasts.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace brevis {

// Where the pacer reads the time and how it waits; tests put a clock of their own here.
// SleepUntil may return early (the pacer looks again) but should not return much later.
struct PacerTiming {
  std::function<std::chrono::steady_clock::time_point()> Now = [] {
    return std::chrono::steady_clock::now();
  };
  std::function<void(std::chrono::steady_clock::time_point)> SleepUntil =
      [](std::chrono::steady_clock::time_point until) { std::this_thread::sleep_until(until); };
};

class RequestPacer final {
 public:
  using Clock = std::chrono::steady_clock;
  // The longest hold-off HoldOff sets, whatever it is asked for: a server that announces hours
  // (or a hostile one that announces years) delays the run by ten minutes at most each time.
  static constexpr std::chrono::minutes kMaxHoldOff{10};

  // At most `max_rate` requests a second; 0 or less (or not a number): no limit. Slots are never
  // more than an hour apart, however small the rate.
  explicit RequestPacer(double max_rate, PacerTiming timing = {});
  RequestPacer(const RequestPacer&) = delete;
  RequestPacer& operator=(const RequestPacer&) = delete;

  // Blocks until a request may go: no earlier than 1/rate after the slot the previous Acquire of
  // any thread took (a burst of one), and not before the hold-off has passed, also one set while
  // this call waits. True then. False, without waiting any longer, once *cancel (owned by the
  // caller, set from any thread; may be null) is true: it is looked at every
  // IOHandler::kCancelPollMs. Callable from any thread.
  bool Acquire(const std::atomic<bool>* cancel = nullptr);
  // Holds every Acquire of every thread until now + `duration` (at most kMaxHoldOff). An existing
  // hold-off that lasts longer stays; a duration of 0 or less does nothing. Callable from any
  // thread.
  void HoldOff(Clock::duration duration);
  // The moment the hold-off ends; in the past when there is none.
  Clock::time_point HeldUntil() const;

 private:
  // With lock_ held: takes the first free slot at or after `earliest`.
  Clock::time_point ReserveLocked(Clock::time_point earliest);

  const Clock::duration interval_;  // between two slots; zero without a limit
  const PacerTiming timing_;
  mutable std::mutex lock_;        // guards nextSlot_ and holdUntil_
  Clock::time_point nextSlot_{};   // the earliest moment the next slot may take
  Clock::time_point holdUntil_{};  // no request goes before it
};

}  // namespace brevis
