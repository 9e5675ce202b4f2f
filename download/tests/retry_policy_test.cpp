// Tests of RetryPolicy: the pause schedule between tries of a page.
#include "download/retry_policy.h"

#include <gtest/gtest.h>

namespace brevis {
namespace {

TEST(RetryPolicyTest, PauseDoublesFromHalfASecondUpToEight) {
  struct Case {
    int failedTries;
    long long pauseMs;
  };
  constexpr Case kCases[] = {{1, 500},  {2, 1000}, {3, 2000}, {4, 4000},
                             {5, 8000}, {6, 8000}, {7, 8000}, {1000000, 8000}};
  const RetryPolicy policy;
  EXPECT_EQ(policy.MaxTries, 8);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.failedTries);
    EXPECT_EQ(policy.PauseAfter(c.failedTries).count(), c.pauseMs);
  }
}

TEST(RetryPolicyTest, ScheduleFollowsInjectedBounds) {
  RetryPolicy policy;
  policy.FirstPause = std::chrono::milliseconds(3);
  policy.MaxPause = std::chrono::milliseconds(10);
  EXPECT_EQ(policy.PauseAfter(1).count(), 3);
  EXPECT_EQ(policy.PauseAfter(2).count(), 6);
  EXPECT_EQ(policy.PauseAfter(3).count(), 10);
}

}  // namespace
}  // namespace brevis
