// HostileMode: names of the misbehaviours.
#include "tools/hostile/hostile_mode.h"

#include <utility>

namespace brevis {
namespace {

constexpr std::pair<HostileMode, std::string_view> kNames[] = {
    {HostileMode::kGood, "good"},
    {HostileMode::kGarbageStatus, "garbage-status"},
    {HostileMode::kEndlessHeaders, "endless-headers"},
    {HostileMode::kEndlessChunks, "endless-chunks"},
    {HostileMode::kEndlessBody, "endless-body"},
    {HostileMode::kEndlessContinue, "endless-continue"},
    {HostileMode::kCutShort, "cut-short"},
    {HostileMode::kTrickle, "trickle"},
    {HostileMode::kSilent, "silent"},
    {HostileMode::kNotTiff, "not-tiff"},
    {HostileMode::kRetryAfter, "retry-after"},
};

}  // namespace

std::string_view ModeName(HostileMode mode) {
  for (const auto& [m, name] : kNames) {
    if (m == mode) return name;
  }
  return "?";
}

std::optional<HostileMode> ParseMode(std::string_view name) {
  for (const auto& [m, n] : kNames) {
    if (n == name) return m;
  }
  return std::nullopt;
}

const std::vector<HostileMode>& AllModes() {
  static const std::vector<HostileMode> modes = [] {
    std::vector<HostileMode> out;
    for (const auto& entry : kNames) out.push_back(entry.first);
    return out;
  }();
  return modes;
}

}  // namespace brevis
