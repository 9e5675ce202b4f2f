// LogSafe and the stop-signal waiter of the stand-in servers.
#include "stand_in/serving.h"

#include <pthread.h>

#include <cstdio>
#include <thread>

namespace brevis {

std::string LogSafe(std::string_view text) {
  if (text.empty()) return "-";
  std::string safe;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      safe += escaped;
    } else {
      safe += c;
    }
  }
  return safe;
}

sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

void ServeUntilStopSignal(const sigset_t& signals, const std::function<void()>& run,
                          const std::function<void()>& stop) {
  std::thread waiter([&stop, signals] {
    int signal = 0;
    sigwait(&signals, &signal);
    stop();
  });
  try {
    run();
  } catch (...) {
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    throw;
  }
  // run also returns when serving fails; wake the waiter in case no signal came.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
}

}  // namespace brevis
