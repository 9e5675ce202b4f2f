// HostileMode: the ways brevisfetch-hostile answers a request, from a proper answer to every
// kind of misbehaviour a client must survive.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevis {

enum class HostileMode {
  kGood,             // a proper answer
  kGarbageStatus,    // a status line of control bytes, NUL included
  kEndlessHeaders,   // header lines without end
  kEndlessChunks,    // a chunked body without a last chunk, 64 KiB a chunk
  kEndlessBody,      // a body without length that never ends
  kEndlessContinue,  // "100 Continue" answers without end
  kCutShort,         // half the announced body, then the connection closes
  kTrickle,          // a proper answer, one byte at a time, slowly
  kSilent,           // reads the request and says nothing
  kNotTiff,          // a proper answer whose body is an HTML page
  kRetryAfter,       // like a rate limiter: 429 with Retry-After for a while, then proper answers
};

// The mode's name on the command line ("good", "garbage-status", ...).
std::string_view ModeName(HostileMode mode);
// The mode with that name, or nothing.
std::optional<HostileMode> ParseMode(std::string_view name);
// Every mode, in declaration order.
const std::vector<HostileMode>& AllModes();

}  // namespace brevis
