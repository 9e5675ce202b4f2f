// PDF file check: the trailer, the cross-reference table and the page tree's count.
#include "pdf/pdf_file_check.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "common/ascii_text.h"

namespace brevis {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == '\0';
}

// Reads a decimal number at `at` (after blanks), moving past it; nullopt when there is none.
std::optional<uint64_t> ReadNumber(std::string_view text, std::size_t& at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  const std::size_t start = at;
  uint64_t value = 0;
  while (at < text.size() && ascii::IsDigit(text[at]) && at - start < 19) {
    value = value * 10 + static_cast<uint64_t>(text[at] - '0');
    ++at;
  }
  if (at == start) return std::nullopt;
  return value;
}

bool ReadWord(std::string_view text, std::size_t& at, std::string_view word) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (text.substr(at, word.size()) != word) return false;
  at += word.size();
  return true;
}

// The object number of the reference that follows `key` ("/Root 1 0 R") in `dict`.
std::optional<uint64_t> Reference(std::string_view dict, std::string_view key) {
  std::size_t at = dict.find(key);
  while (at != std::string_view::npos) {
    std::size_t after = at + key.size();
    // "/Pages" must not match "/PagesX".
    if (after < dict.size() && !IsBlank(dict[after])) {
      at = dict.find(key, after);
      continue;
    }
    const auto number = ReadNumber(dict, after);
    if (number && ReadNumber(dict, after) && ReadWord(dict, after, "R")) return number;
    return std::nullopt;
  }
  return std::nullopt;
}

struct Entry {
  uint64_t Number = 0;
  uint64_t Offset = 0;
};

PdfFileCheck NotWhole(std::string problem) {
  PdfFileCheck check;
  check.Problem = std::move(problem);
  return check;
}

}  // namespace

PdfFileCheck CheckPdf(std::string_view bytes) {
  if (!bytes.starts_with("%PDF-")) return NotWhole("no %PDF- header");
  std::size_t end = bytes.size();
  while (end > 0 && IsBlank(bytes[end - 1])) --end;
  if (!bytes.substr(0, end).ends_with("%%EOF")) return NotWhole("no %%EOF at its end");
  const std::size_t tail_start = end > 1024 ? end - 1024 : 0;
  const std::size_t startxref = bytes.substr(0, end).rfind("startxref");
  if (startxref == std::string_view::npos || startxref < tail_start) {
    return NotWhole("no startxref before %%EOF");
  }
  std::size_t at = startxref + 9;
  const auto table = ReadNumber(bytes, at);
  if (!table || !ReadWord(bytes, at, "%%EOF")) return NotWhole("no table offset after startxref");

  // The table: subsections "first count" of 20-byte entries, then the trailer.
  at = *table;
  if (at >= bytes.size() || !ReadWord(bytes, at, "xref")) {
    return NotWhole("no cross-reference table where startxref points");
  }
  std::vector<Entry> entries;
  for (;;) {
    std::size_t next = at;
    if (ReadWord(bytes, next, "trailer")) {
      at = next;
      break;
    }
    const auto first = ReadNumber(bytes, at);
    const auto count = ReadNumber(bytes, at);
    if (!first || !count) return NotWhole("a damaged cross-reference table");
    while (at < bytes.size() && IsBlank(bytes[at])) ++at;
    if (*count > (bytes.size() - at) / 20) return NotWhole("a cross-reference table cut short");
    for (uint64_t i = 0; i < *count; ++i, at += 20) {
      const std::string_view line = bytes.substr(at, 20);
      std::size_t field = 0;
      const auto offset = ReadNumber(line, field);
      const auto generation = ReadNumber(line, field);
      if (!offset || !generation || field + 2 > line.size()) {
        return NotWhole("a damaged cross-reference table");
      }
      const char kind = line[field + 1];
      if (kind == 'n') entries.push_back({*first + i, *offset});
      if (kind != 'n' && kind != 'f') return NotWhole("a damaged cross-reference table");
    }
  }
  const std::string_view trailer = bytes.substr(at, startxref - std::min(at, startxref));

  // Each object starts where the table says and ends where the next one (or the table) starts.
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.Offset < b.Offset; });
  std::vector<std::string_view> objects;  // by position in `entries`
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    const uint64_t limit = i + 1 < entries.size() ? entries[i + 1].Offset : *table;
    std::size_t pos = entry.Offset;
    const std::string problem = "object " + std::to_string(entry.Number);
    if (limit > bytes.size() || pos >= limit) return NotWhole(problem + " lies outside the file");
    if (ReadNumber(bytes, pos) != entry.Number || !ReadNumber(bytes, pos) ||
        !ReadWord(bytes, pos, "obj")) {
      return NotWhole(problem + " is not where the table says");
    }
    std::string_view body = bytes.substr(pos, limit - pos);
    while (!body.empty() && IsBlank(body.back())) body.remove_suffix(1);
    if (!body.ends_with("endobj")) return NotWhole(problem + " is cut short");
    objects.push_back(body);
  }
  const auto object = [&](uint64_t number) -> std::optional<std::string_view> {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].Number == number) return objects[i];
    }
    return std::nullopt;
  };

  const auto root = Reference(trailer, "/Root");
  const auto catalog = root ? object(*root) : std::nullopt;
  const auto pages_ref = catalog ? Reference(*catalog, "/Pages") : std::nullopt;
  const auto pages = pages_ref ? object(*pages_ref) : std::nullopt;
  if (!pages) return NotWhole("no page tree");
  std::size_t count_at = pages->find("/Count");
  if (count_at == std::string_view::npos) return NotWhole("no page count");
  count_at += 6;
  const auto count = ReadNumber(*pages, count_at);
  if (!count || *count == 0 || *count > 1000000) return NotWhole("no page count");

  PdfFileCheck check;
  check.Whole = true;
  check.Pages = static_cast<int>(*count);
  return check;
}

PdfFileCheck CheckPdfFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return NotWhole(std::strerror(errno));
  struct stat info {};
  PdfFileCheck check;
  if (::fstat(fd, &info) != 0) {
    check = NotWhole(std::strerror(errno));
  } else if (info.st_size == 0) {
    check = NotWhole("empty");
  } else {
    const auto size = static_cast<std::size_t>(info.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
      check = NotWhole(std::strerror(errno));
    } else {
      check = CheckPdf(std::string_view(static_cast<const char*>(map), size));
      ::munmap(map, size);
    }
  }
  ::close(fd);
  return check;
}

}  // namespace brevis
