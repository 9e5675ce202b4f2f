// RetryPolicy: the doubling pause between tries of a page.
#include "download/retry_policy.h"

namespace brevis {

std::chrono::milliseconds RetryPolicy::PauseAfter(int failed_tries) const {
  std::chrono::milliseconds pause = FirstPause;
  // Doubling stops at MaxPause, so the loop never overflows however many tries there were.
  for (int i = 1; i < failed_tries && pause < MaxPause; ++i) pause *= 2;
  return pause < MaxPause ? pause : MaxPause;
}

}  // namespace brevis
