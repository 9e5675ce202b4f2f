// FaultPlan: the share of failures, the mix of fault kinds, and repeatability by seed whatever
// the order in which requests arrive.
#include "tools/mirror/fault_plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace brevis {
namespace {

std::string Target(int page) {
  return "/pages/200710038426/" + std::to_string(100000 + page) + ".tif";
}

TEST(FaultPlanTest, ShareOfFailuresAndKindsStayWithinBounds) {
  struct Case {
    double rate;
    uint64_t seed;
  };
  constexpr Case kCases[] = {{0.05, 1}, {0.3, 2}, {0.3, 3}, {0.7, 4}};
  constexpr int kPages = 100;
  constexpr int kAttempts = 30;
  constexpr double kN = kPages * kAttempts;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.rate);
    FaultPlan plan(c.rate, c.seed);
    std::map<Fault, int> counts;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      for (int page = 0; page < kPages; ++page) ++counts[plan.Next(Target(page))];
    }
    const int failed = static_cast<int>(kN) - counts[Fault::kNone];
    // Five standard deviations of the binomial count: a false alarm is practically impossible,
    // a plan that ignores the rate is caught.
    const double sigma = std::sqrt(kN * c.rate * (1 - c.rate));
    EXPECT_NEAR(failed, kN * c.rate, 5 * sigma);
    for (Fault kind : {Fault::kServerError, Fault::kDrop, Fault::kCutShort}) {
      SCOPED_TRACE(FaultName(kind));
      const double third = failed / 3.0;
      EXPECT_NEAR(counts[kind], third, 5 * std::sqrt(failed * (1.0 / 3) * (2.0 / 3)));
    }
  }
}

TEST(FaultPlanTest, RatesZeroAndOneAreExact) {
  FaultPlan never(0.0, 9);
  FaultPlan always(1.0, 9);
  for (int i = 0; i < 500; ++i) {
    EXPECT_EQ(never.Next(Target(i % 7)), Fault::kNone);
    EXPECT_NE(always.Next(Target(i % 7)), Fault::kNone);
  }
}

TEST(FaultPlanTest, SameSeedSameFaultsInAnyOrder) {
  constexpr int kPages = 40;
  constexpr int kAttempts = 5;
  // Forward, page by page.
  FaultPlan forward(0.4, 77);
  std::map<std::pair<int, int>, Fault> first;
  for (int page = 0; page < kPages; ++page) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      first[{page, attempt}] = forward.Next(Target(page));
    }
  }
  // Backward and interleaved, as concurrent workers would ask.
  FaultPlan backward(0.4, 77);
  std::map<std::pair<int, int>, Fault> second;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    for (int page = kPages - 1; page >= 0; --page) {
      second[{page, attempt}] = backward.Next(Target(page));
    }
  }
  EXPECT_EQ(first, second);

  FaultPlan other(0.4, 78);
  std::map<std::pair<int, int>, Fault> third;
  for (int page = 0; page < kPages; ++page) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      third[{page, attempt}] = other.Next(Target(page));
    }
  }
  EXPECT_NE(first, third);
}

TEST(FaultPlanTest, RefusesRatesOutsideZeroToOne) {
  for (double rate : {-0.01, 1.01, std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(rate);
    EXPECT_THROW(FaultPlan(rate, 1), std::invalid_argument);
  }
}

}  // namespace
}  // namespace brevis
