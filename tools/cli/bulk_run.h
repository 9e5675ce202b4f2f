// What bulk runs of "fetch" share with "report": the split of a list into shares for the tasks
// of a job array, and the report, one JSON line per patent, that every task appends to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brevis::cli {

// Share Index (1 to Count) of Count.
struct Shard {
  int Index = 1;
  int Count = 1;
};

// "K/N" with 1 <= K <= N <= 1000000; throws std::invalid_argument naming what is wrong ("5/4:
// K must be 1 to 4."), for the option's name to go before.
Shard ParseShard(std::string_view text);

// The share (1 to `count`) that `key` falls in: a 64-bit FNV-1a hash of its bytes, mixed by
// MurmurHash3's finaliser, modulo `count`. Tasks on other machines and later versions must split
// a list the same way, so this never changes.
int ShareOf(std::string_view key, int count);

// How a patent's run ended, as a report line tells it.
struct ReportEntry {
  std::string Number;   // "CN" and the normalised number; the text as given when not valid
  std::string Kind;     // "fmzl" (invention) or "syxx" (utility model); empty when not valid
  std::string Outcome;  // "done", "skipped" or "failed"
  int64_t Pages = 0;    // the PDF's pages (done, skipped)
  int64_t Bytes = 0;    // the PDF's size (done, skipped)
  double Seconds = 0;   // from the start of the patent's turn to its end
  std::string Pdf;      // the PDF's path (done, skipped)
  std::string Cause;    // failed: a short kind of failure to group by, "pages given up"...
  std::string Detail;   // failed: what went wrong, as the command told it
  std::string Time;     // the end, UTC: "2026-12-11T05:50:01.123Z"
  std::string Host;     // the machine's name
  int64_t Pid = 0;      // the process that wrote the line
};

// The entry as one JSON line, with its line feed.
std::string ReportLine(const ReportEntry& entry);

// The entry of a report line; nullopt when the line is not one (bad JSON, a member missing or of
// the wrong type, an unknown outcome, a time that cannot be read).
std::optional<ReportEntry> ReadReportLine(std::string_view line);

// The time of a report's "time" member in seconds since 1970; nullopt when it is not one.
std::optional<double> ReportTimeSeconds(std::string_view time);

// The time now, as a report line writes it.
std::string ReportTimeNow();

// A report file that several processes, on this machine or on others sharing the file system,
// append to at once: each line goes in with one write at the file's end, under an fcntl lock on
// the whole file (which NFS passes on to its server), and is flushed to the disk before the lock
// is let go, so lines never interleave and none is lost when a task is killed afterwards.
class ReportFile final {
 public:
  // Opens `path` for appending, making it when missing; throws std::runtime_error ("Cannot
  // write the report <path>: <reason>.") when it cannot.
  explicit ReportFile(std::string path);
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Appends `line` (ending with a line feed); throws std::runtime_error as the constructor.
  void Append(std::string_view line);

 private:
  [[noreturn]] void Fail(int error) const;

  const std::string path_;
  int fd_ = -1;
};

}  // namespace brevis::cli
