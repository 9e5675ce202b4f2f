// FileAnswer: how brevisfetch-mirror answers a GET or HEAD of a page file, as a file server does
// (RFC 9110): validators, conditional requests (304) and single byte ranges (206, 416).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace brevis {

// What the answer depends on: the file's size and modification time.
struct FileFacts {
  uint64_t size = 0;
  std::time_t mtime = 0;  // seconds
  long mtimeNsec = 0;     // the rest, so that a file rewritten within a second gets a new ETag
};

// The request's header fields that decide the answer; absent ones are nullopt.
struct FileConditions {
  bool head = false;  // HEAD: no ranges
  std::optional<std::string> ifNoneMatch;
  std::optional<std::string> ifModifiedSince;
  std::optional<std::string> range;
  std::optional<std::string> ifRange;
};

struct FileAnswer {
  int status = 200;     // 200, 206 (the range below), 304 (no body) or 416 (no range)
  uint64_t offset = 0;  // first byte of the body
  uint64_t length = 0;  // body length
  std::string etag;     // strong validator, with its quotes
  std::string lastModified;
  std::string contentRange;  // "bytes 0-99/3000" for 206, "bytes */3000" for 416, else empty
};

// The answer to a request with `conditions` for a file with `facts`. If-None-Match is weighed
// before If-Modified-Since, which counts only without it; a Range of one satisfiable range is
// a 206 unless If-Range names another version; several ranges, or a Range that cannot be read,
// are ignored (the whole file), as RFC 9110 allows; a Range of none that is satisfiable is 416.
// Dates are read as ParseInternetDate reads them (common/http_date.h); Last-Modified is written
// in the preferred form, "Sun, 06 Nov 1994 08:49:37 GMT".
FileAnswer AnswerFile(const FileFacts& facts, const FileConditions& conditions);

}  // namespace brevis
