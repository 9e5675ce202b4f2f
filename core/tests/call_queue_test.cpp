// Tests of CallQueue: calls from other threads run in order on the thread that runs the queue.
#include "core/call_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace brevis {
namespace {

TEST(CallQueueTest, RunsPostedCallsInOrderOnTheRunningThread) {
  CallQueue queue;
  std::vector<int> seen;
  const std::thread::id runner = std::this_thread::get_id();
  bool all_on_runner = true;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      queue.Post([&, i] {
        all_on_runner = all_on_runner && std::this_thread::get_id() == runner;
        seen.push_back(i);
      });
    }
  });
  EXPECT_TRUE(queue.RunUntil([&] { return seen.size() == 100; }, std::chrono::seconds(10)));
  poster.join();
  EXPECT_TRUE(all_on_runner);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);

  // A call that posts another: RunPending runs both.
  queue.Post([&] { queue.Post([&] { seen.push_back(-1); }); });
  EXPECT_EQ(queue.RunPending(), 2u);
  EXPECT_EQ(seen.back(), -1);
  // Nothing arrives: RunUntil gives up after its time.
  EXPECT_FALSE(queue.RunUntil([] { return false; }, std::chrono::milliseconds(5)));
}

}  // namespace
}  // namespace brevis
