// FaultPlan: decides which page requests of a brevisfetch-mirror fail on purpose, and how, so
// that clients' retries can be tried against a flaky server.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace brevis {

enum class Fault {
  kNone,
  kServerError,  // status 500
  kDrop,         // the connection is closed without an answer
  kCutShort,     // the body stops halfway and the connection is closed
};

const char* FaultName(Fault fault);

class FaultPlan {
 public:
  // `rate` in [0, 1]: the share of requests that fail. Throws std::invalid_argument otherwise.
  FaultPlan(double rate, uint64_t seed);

  // The fault for the next request of `target`. The choice depends only on the seed, the target
  // and how many times the target was asked for before, so a run with the same seed meets the
  // same faults even when concurrent clients' requests arrive in another order. Thread-safe.
  Fault Next(const std::string& target);

 private:
  double rate_;
  uint64_t seed_;
  std::mutex lock_;
  std::map<std::string, uint64_t> asked_;
};

}  // namespace brevis
