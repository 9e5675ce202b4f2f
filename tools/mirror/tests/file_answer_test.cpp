// FileAnswer: the status, the part of the file and the validators of a page file's answer for
// every kind of conditional and range request, against a file of 1000 bytes.
#include "tools/mirror/file_answer.h"

#include <gtest/gtest.h>

#include <string>

#include "common/http_date.h"

namespace brevis {
namespace {

constexpr std::time_t kModified = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT

FileFacts Facts() {
  FileFacts facts;
  facts.size = 1000;
  facts.mtime = kModified;
  facts.mtimeNsec = 5;
  return facts;
}

// The form of Last-Modified, as the answers write it.
std::string HttpDate(std::time_t time) {
  return FormatHttpDate(SysSeconds{std::chrono::seconds{time}});
}

TEST(FileAnswerTest, ConditionsAndRanges) {
  const std::string etag = AnswerFile(Facts(), {}).etag;
  const std::string date = HttpDate(kModified);
  const std::string earlier = HttpDate(kModified - 1);
  struct Case {
    const char* name;
    FileConditions conditions;
    int status;
    uint64_t offset;
    uint64_t length;
    const char* contentRange;
  };
  const Case kCases[] = {
      {"plain", {}, 200, 0, 1000, ""},
      // If-None-Match, by the weak comparison, and before If-Modified-Since.
      {"etag matches", {false, etag, {}, {}, {}}, 304, 0, 0, ""},
      {"weak etag matches", {false, "\"x\", W/" + etag, {}, {}, {}}, 304, 0, 0, ""},
      {"any etag", {false, "*", {}, {}, {}}, 304, 0, 0, ""},
      {"other etag", {false, "\"x\"", date, {}, {}}, 200, 0, 1000, ""},
      {"unchanged since", {false, {}, date, {}, {}}, 304, 0, 0, ""},
      {"changed since", {false, {}, earlier, {}, {}}, 200, 0, 1000, ""},
      {"unreadable date", {false, {}, "yesterday", {}, {}}, 200, 0, 1000, ""},
      // One range.
      {"first bytes", {false, {}, {}, "bytes=0-99", {}}, 206, 0, 100, "bytes 0-99/1000"},
      {"middle", {false, {}, {}, "bytes=500-599", {}}, 206, 500, 100, "bytes 500-599/1000"},
      {"open end", {false, {}, {}, "bytes=900-", {}}, 206, 900, 100, "bytes 900-999/1000"},
      {"past the end", {false, {}, {}, "bytes=990-2000", {}}, 206, 990, 10, "bytes 990-999/1000"},
      {"suffix", {false, {}, {}, "bytes=-10", {}}, 206, 990, 10, "bytes 990-999/1000"},
      {"long suffix", {false, {}, {}, "bytes=-5000", {}}, 206, 0, 1000, "bytes 0-999/1000"},
      {"unit case", {false, {}, {}, "Bytes = 1-1", {}}, 206, 1, 1, "bytes 1-1/1000"},
      // Nothing satisfiable: 416.
      {"starts at the end", {false, {}, {}, "bytes=1000-", {}}, 416, 0, 0, "bytes */1000"},
      {"empty suffix", {false, {}, {}, "bytes=-0", {}}, 416, 0, 0, "bytes */1000"},
      {"none of two", {false, {}, {}, "bytes=1000-1001, 2000-", {}}, 416, 0, 0, "bytes */1000"},
      // Ranges ignored: the whole file.
      {"two ranges", {false, {}, {}, "bytes=0-1,5-6", {}}, 200, 0, 1000, ""},
      {"other unit", {false, {}, {}, "items=0-1", {}}, 200, 0, 1000, ""},
      {"backwards", {false, {}, {}, "bytes=5-1", {}}, 200, 0, 1000, ""},
      {"not numbers", {false, {}, {}, "bytes=a-b", {}}, 200, 0, 1000, ""},
      {"HEAD", {true, {}, {}, "bytes=0-1", {}}, 200, 0, 1000, ""},
      // If-Range: the range only for this very version.
      {"if-range etag", {false, {}, {}, "bytes=0-1", etag}, 206, 0, 2, "bytes 0-1/1000"},
      {"if-range weak etag", {false, {}, {}, "bytes=0-1", "W/" + etag}, 200, 0, 1000, ""},
      {"if-range other etag", {false, {}, {}, "bytes=0-1", "\"x\""}, 200, 0, 1000, ""},
      {"if-range date", {false, {}, {}, "bytes=0-1", date}, 206, 0, 2, "bytes 0-1/1000"},
      {"if-range other date", {false, {}, {}, "bytes=0-1", earlier}, 200, 0, 1000, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const FileAnswer answer = AnswerFile(Facts(), c.conditions);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.offset, c.offset);
    EXPECT_EQ(answer.length, c.length);
    EXPECT_EQ(answer.contentRange, c.contentRange);
    EXPECT_EQ(answer.etag, etag);
    EXPECT_EQ(answer.lastModified, date);
  }
}

TEST(FileAnswerTest, EveryVersionOfAFileHasItsOwnETag) {
  FileFacts rewritten = Facts();
  rewritten.mtimeNsec = 6;
  FileFacts grown = Facts();
  grown.size = 1001;
  const std::string etag = AnswerFile(Facts(), {}).etag;
  EXPECT_NE(AnswerFile(rewritten, {}).etag, etag);
  EXPECT_NE(AnswerFile(grown, {}).etag, etag);
  EXPECT_EQ(AnswerFile(rewritten, {false, etag, {}, {}, {}}).status, 200);
}

}  // namespace
}  // namespace brevis
