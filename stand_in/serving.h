// Pieces shared by the local stand-in servers (brevisfetch-mirror, brevisfetch-hostile): request
// text made safe for a log line, and serving until SIGINT or SIGTERM.
#pragma once

#include <signal.h>

#include <functional>
#include <string>
#include <string_view>

namespace brevis {

// `text` as it may stand in a log line: control bytes, quotes and backslashes as \xNN, so that a
// hostile request cannot forge lines or move the terminal's cursor; "-" for empty text.
std::string LogSafe(std::string_view text);

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it starts from then on,
// so that only ServeUntilStopSignal's waiter takes them. Call it before the server starts.
sigset_t BlockStopSignals();

// Runs `run` (the server's loop); meanwhile a thread of its own waits for one of `signals` and
// then calls `stop`. Returns when `run` does, also when no signal came.
void ServeUntilStopSignal(const sigset_t& signals, const std::function<void()>& run,
                          const std::function<void()>& stop);

}  // namespace brevis
