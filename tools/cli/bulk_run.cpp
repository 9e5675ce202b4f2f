// Bulk runs: the shard hash, report lines in JSON, and appending to a shared report file.
#include "tools/cli/bulk_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "common/fnv1a.h"
#include "common/json_line.h"

namespace brevis::cli {

namespace {

constexpr int kMaxShards = 1000000;

// `text` as a whole number of type T, or a decimal number when T is floating; nullopt unless all
// of it is that.
template <class T>
std::optional<T> NumberIn(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

Shard ParseShard(std::string_view text) {
  const std::size_t slash = text.find('/');
  const auto index = NumberIn<int>(text.substr(0, slash));
  const auto count =
      slash == std::string_view::npos ? std::nullopt : NumberIn<int>(text.substr(slash + 1));
  if (!index || !count) {
    throw std::invalid_argument("takes K/N, share K of N, such as 2/8; not '" + std::string(text) +
                                "'.");
  }
  if (*count < 1 || *count > kMaxShards) {
    throw std::invalid_argument(std::string(text) + ": N must be 1 to " +
                                std::to_string(kMaxShards) + ".");
  }
  if (*index < 1 || *index > *count) {
    throw std::invalid_argument(std::string(text) + ": K must be 1 to " + std::to_string(*count) +
                                ".");
  }
  return {*index, *count};
}

int ShareOf(std::string_view key, int count) {
  uint64_t hash = Fnv1a64(key);
  // FNV-1a spreads its last bytes poorly over the low bits, and numbers of one year differ only
  // there; the finaliser mixes every bit into every other.
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCD;
  hash ^= hash >> 33;
  hash *= 0xC4CEB9FE1A85EC53;
  hash ^= hash >> 33;
  return static_cast<int>(hash % static_cast<uint64_t>(count)) + 1;
}

std::string ReportLine(const ReportEntry& entry) {
  JsonLineWriter line;
  line.Add("number", entry.Number);
  line.Add("kind", entry.Kind);
  line.Add("outcome", entry.Outcome);
  line.Add("pages", entry.Pages);
  line.Add("bytes", entry.Bytes);
  line.Add("seconds", entry.Seconds, 3);
  line.Add("pdf", entry.Pdf);
  line.Add("cause", entry.Cause);
  line.Add("detail", entry.Detail);
  line.Add("time", entry.Time);
  line.Add("host", entry.Host);
  line.Add("pid", entry.Pid);
  return line.Line();
}

std::optional<ReportEntry> ReadReportLine(std::string_view line) {
  const auto members = ReadJsonLine(line);
  if (!members) return std::nullopt;
  bool complete = true;
  const auto member = [&](const char* key, JsonValue::Kind kind) -> const std::string* {
    const auto found = members->find(key);
    if (found != members->end() && found->second.Type == kind) return &found->second.Text;
    complete = false;
    return nullptr;
  };
  const auto text = [&](const char* key, std::string& out) {
    if (const std::string* value = member(key, JsonValue::Kind::kString)) out = *value;
  };
  const auto number = [&](const char* key, auto& out) {
    const std::string* digits = member(key, JsonValue::Kind::kNumber);
    if (digits == nullptr) return;
    const auto value = NumberIn<std::remove_reference_t<decltype(out)>>(*digits);
    if (value) out = *value;
    complete = complete && value.has_value();
  };
  ReportEntry entry;
  text("number", entry.Number);
  text("kind", entry.Kind);
  text("outcome", entry.Outcome);
  number("pages", entry.Pages);
  number("bytes", entry.Bytes);
  number("seconds", entry.Seconds);
  text("pdf", entry.Pdf);
  text("cause", entry.Cause);
  text("detail", entry.Detail);
  text("time", entry.Time);
  text("host", entry.Host);
  number("pid", entry.Pid);
  if (!complete || !ReportTimeSeconds(entry.Time)) return std::nullopt;
  if (entry.Outcome != "done" && entry.Outcome != "skipped" && entry.Outcome != "failed") {
    return std::nullopt;
  }
  return entry;
}

std::optional<double> ReportTimeSeconds(std::string_view time) {
  // "YYYY-MM-DDThh:mm:ss.mmmZ"
  std::tm parts{};
  int millis = 0;
  char end = 0;
  const std::string text(time);
  if (text.size() != 24 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &parts.tm_year, &parts.tm_mon,
                  &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &millis,
                  &end) != 8 ||
      end != 'Z') {
    return std::nullopt;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  const std::time_t seconds = ::timegm(&parts);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<double>(seconds) + millis / 1000.0;
}

std::string ReportTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(millis % 1000));
  return text;
}

ReportFile::ReportFile(std::string path) : path_(std::move(path)) {
  // Also for reading, to see the file's last byte: another descriptor on the file would have to be
  // closed, and closing any descriptor of a file lets go of the process's fcntl locks on it.
  fd_ = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) Fail(errno);
}

ReportFile::~ReportFile() {
  if (fd_ >= 0) ::close(fd_);
}

void ReportFile::Fail(int error) const {
  throw std::runtime_error("Cannot write the report " + path_ + ": " + std::strerror(error) + ".");
}

void ReportFile::Append(std::string_view line) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  while (::fcntl(fd_, F_SETLKW, &whole) != 0) {
    if (errno != EINTR) Fail(errno);
  }
  int error = 0;
  // A writer killed within its line left it without its line feed: this line starts anew, so
  // that only that line is lost.
  std::string text;
  struct stat info {};
  char last = '\n';
  if (::fstat(fd_, &info) == 0 && info.st_size > 0 &&
      ::pread(fd_, &last, 1, info.st_size - 1) != 1) {
    last = '\n';
  }
  if (last != '\n') text += '\n';
  text += line;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = wrote < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (error == 0 && ::fdatasync(fd_) != 0) error = errno;
  whole.l_type = F_UNLCK;
  ::fcntl(fd_, F_SETLK, &whole);
  if (error != 0) Fail(error);
}

}  // namespace brevis::cli
