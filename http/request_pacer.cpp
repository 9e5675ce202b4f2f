// RequestPacer: slot reservations and the hold-off, under one lock.
#include "http/request_pacer.h"

#include <algorithm>
#include <utility>

#include "http/net/io_handler.h"

namespace brevis {

namespace {

RequestPacer::Clock::duration IntervalFor(double max_rate) {
  using Seconds = std::chrono::duration<double>;
  constexpr Seconds kLongest = std::chrono::hours(1);
  if (!(max_rate > 0)) return RequestPacer::Clock::duration::zero();
  // Compared in floating point first, so that a tiny rate cannot overflow the clock's ticks.
  const Seconds interval(1.0 / max_rate);
  return std::chrono::duration_cast<RequestPacer::Clock::duration>(std::min(interval, kLongest));
}

}  // namespace

RequestPacer::RequestPacer(double max_rate, PacerTiming timing)
    : interval_(IntervalFor(max_rate)), timing_(std::move(timing)) {}

RequestPacer::Clock::time_point RequestPacer::ReserveLocked(Clock::time_point earliest) {
  const Clock::time_point slot = std::max(earliest, nextSlot_);
  nextSlot_ = slot + interval_;
  return slot;
}

bool RequestPacer::Acquire(const std::atomic<bool>* cancel) {
  constexpr std::chrono::milliseconds kPoll(IOHandler::kCancelPollMs);
  std::unique_lock<std::mutex> lock(lock_);
  Clock::time_point slot = ReserveLocked(std::max(timing_.Now(), holdUntil_));
  while (true) {
    // A hold-off set while this call waited: a fresh slot after it, so that the waiting threads
    // do not all go at once when it ends. The slot given up stays unused.
    if (holdUntil_ > slot) slot = ReserveLocked(holdUntil_);
    const Clock::time_point now = timing_.Now();
    if (now >= slot) return true;
    if (cancel != nullptr && cancel->load()) return false;
    const Clock::time_point until = cancel != nullptr ? std::min(slot, now + kPoll) : slot;
    lock.unlock();
    timing_.SleepUntil(until);
    lock.lock();
  }
}

void RequestPacer::HoldOff(Clock::duration duration) {
  if (duration <= Clock::duration::zero()) return;
  const Clock::time_point until = timing_.Now() + std::min<Clock::duration>(duration, kMaxHoldOff);
  std::lock_guard<std::mutex> guard(lock_);
  holdUntil_ = std::max(holdUntil_, until);
}

RequestPacer::Clock::time_point RequestPacer::HeldUntil() const {
  std::lock_guard<std::mutex> guard(lock_);
  return holdUntil_;
}

}  // namespace brevis
