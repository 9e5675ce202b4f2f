// RetryPolicy: how often a worker tries a page and how long it waits between tries.
#pragma once

#include <chrono>

namespace brevis {

struct RetryPolicy {
  // A page is tried at most this many times; then it is given up.
  int MaxTries = 8;
  // The pause before the second try; each further pause doubles, up to MaxPause.
  std::chrono::milliseconds FirstPause{500};
  std::chrono::milliseconds MaxPause{8000};

  // The pause after `failed_tries` failed tries (1 or more): FirstPause * 2^(failed_tries - 1),
  // at most MaxPause.
  std::chrono::milliseconds PauseAfter(int failed_tries) const;
};

}  // namespace brevis
