// RequestPacer on a clock of the test's own: the rate across threads, a hold-off that holds a
// thread already waiting, and a cancel that cuts a wait short, without waiting in real time.
#include "http/request_pacer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace brevis {
namespace {

using namespace std::chrono_literals;
using Clock = RequestPacer::Clock;

// A clock that moves only when told. With `jumps`, a sleeper moves it to its wake-up time at once;
// otherwise sleepers wait for Advance.
class TestClock {
 public:
  explicit TestClock(bool jumps) : jumps_(jumps) {}

  PacerTiming Timing() {
    return {[this] { return Now(); }, [this](Clock::time_point until) { SleepUntil(until); }};
  }
  Clock::time_point Now() {
    std::lock_guard<std::mutex> guard(lock_);
    return now_;
  }
  void Advance(Clock::duration by) {
    std::lock_guard<std::mutex> guard(lock_);
    now_ += by;
    changed_.notify_all();
  }
  // A thread of the test is done.
  void Finished() {
    std::lock_guard<std::mutex> guard(lock_);
    ++finished_;
    changed_.notify_all();
  }
  // Waits until `count` threads sleep past the present, or `finished` threads are done.
  void WaitForSleepersOrFinished(int count, int finished) {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [&] { return SleepersLocked() == count || finished_ == finished; });
  }
  int FinishedCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
  }

 private:
  void SleepUntil(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(lock_);
    if (jumps_) {
      now_ = std::max(now_, until);
      return;
    }
    const auto entry = wakeUps_.insert(until);
    changed_.notify_all();
    changed_.wait(lock, [&] { return now_ >= until; });
    wakeUps_.erase(entry);
  }
  int SleepersLocked() const {
    int count = 0;
    for (const Clock::time_point at : wakeUps_) count += at > now_;
    return count;
  }

  const bool jumps_;
  std::mutex lock_;
  std::condition_variable changed_;
  Clock::time_point now_ = Clock::time_point(1h);
  std::multiset<Clock::time_point> wakeUps_;
  int finished_ = 0;
};

TEST(RequestPacerTest, SpacesRequestsAcrossThreads) {
  struct Case {
    double rate;
    int threads;
    int perThread;
    Clock::duration atLeast;  // from the first request to the last
  };
  const Case kCases[] = {
      {10, 1, 12, 1100ms},
      {10, 5, 4, 1900ms},
      {0.5, 3, 2, 10s},
      // No limit: every request goes at once.
      {0, 4, 5, 0s},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.rate) + " a second, " + std::to_string(c.threads) + " threads");
    TestClock clock(true);
    RequestPacer pacer(c.rate, clock.Timing());
    const Clock::time_point start = clock.Now();
    std::vector<std::thread> threads;
    for (int t = 0; t < c.threads; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < c.perThread; ++i) EXPECT_TRUE(pacer.Acquire());
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_GE(clock.Now() - start, c.atLeast);
    if (c.rate == 0) {
      EXPECT_EQ(clock.Now(), start);
    }
  }
}

TEST(RequestPacerTest, HoldOffHoldsAThreadAlreadyWaiting) {
  TestClock clock(false);
  RequestPacer pacer(1, clock.Timing());
  ASSERT_TRUE(pacer.Acquire());
  const Clock::time_point start = clock.Now();
  Clock::time_point went{};
  // Its slot is a second away; the hold-off comes while it waits for it.
  std::thread waiter([&] {
    EXPECT_TRUE(pacer.Acquire());
    went = clock.Now();
    clock.Finished();
  });
  clock.WaitForSleepersOrFinished(1, 1);
  pacer.HoldOff(5s);
  // A shorter one, and a negative one, leave it as it is.
  pacer.HoldOff(2s);
  pacer.HoldOff(-1s);
  EXPECT_EQ(pacer.HeldUntil(), start + 5s);
  for (int second = 1; second < 5; ++second) {
    clock.Advance(1s);
    clock.WaitForSleepersOrFinished(1, 1);
    EXPECT_EQ(clock.FinishedCount(), 0) << "went after " << second << " s";
  }
  clock.Advance(1s);
  waiter.join();
  EXPECT_EQ(went, start + 5s);
  // A hostile announcement holds for the longest hold-off only.
  pacer.HoldOff(24h);
  EXPECT_EQ(pacer.HeldUntil(), clock.Now() + RequestPacer::kMaxHoldOff);
}

TEST(RequestPacerTest, CancelCutsAWaitShort) {
  TestClock clock(false);
  RequestPacer pacer(0, clock.Timing());
  pacer.HoldOff(1min);
  std::atomic<bool> cancel{false};
  std::atomic<bool> acquired{true};
  std::thread waiter([&] {
    acquired = pacer.Acquire(&cancel);
    clock.Finished();
  });
  clock.WaitForSleepersOrFinished(1, 1);
  cancel = true;
  // The next look at the flag, a poll interval on.
  clock.Advance(50ms);
  clock.WaitForSleepersOrFinished(1, 1);
  EXPECT_EQ(clock.FinishedCount(), 1);
  // Without the cut it would wait out the hold-off.
  clock.Advance(1min);
  waiter.join();
  EXPECT_FALSE(acquired);
}

}  // namespace
}  // namespace brevis
