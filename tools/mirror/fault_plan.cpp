// Seeded fault decisions for page requests: a hash of seed, target and attempt number.
#include "tools/mirror/fault_plan.h"

#include <stdexcept>

#include "common/fnv1a.h"

namespace brevis {

namespace {

uint64_t Mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15ULL;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "none";
    case Fault::kServerError:
      return "500";
    case Fault::kDrop:
      return "drop";
    case Fault::kCutShort:
      return "cut";
  }
  return "?";
}

FaultPlan::FaultPlan(double rate, uint64_t seed) : rate_(rate), seed_(seed) {
  if (!(rate >= 0.0 && rate <= 1.0)) {
    throw std::invalid_argument("The fail rate must lie between 0 and 1.");
  }
}

Fault FaultPlan::Next(const std::string& target) {
  if (rate_ <= 0.0) return Fault::kNone;
  uint64_t attempt;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    attempt = asked_[target]++;
  }
  const uint64_t hash = Mix(Mix(seed_ ^ Fnv1a64(target)) + attempt);
  // The top 53 bits as a uniform number in [0, 1).
  const double draw = static_cast<double>(hash >> 11) * 0x1.0p-53;
  if (draw >= rate_) return Fault::kNone;
  switch (Mix(hash) % 3) {
    case 0:
      return Fault::kServerError;
    case 1:
      return Fault::kDrop;
    default:
      return Fault::kCutShort;
  }
}

}  // namespace brevis
