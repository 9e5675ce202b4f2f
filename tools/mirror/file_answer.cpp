// FileAnswer: validators, preconditions and byte ranges of a page file's answer.
#include "tools/mirror/file_answer.h"

#include <cstdio>
#include <vector>

#include "common/ascii_text.h"
#include "common/http_date.h"

namespace brevis {

namespace {

std::string_view Trim(std::string_view text) { return ascii::TrimBlanks(text, ascii::kHttpBlanks); }

SysSeconds Seconds(std::time_t time) { return SysSeconds{std::chrono::seconds{time}}; }

// The elements of a comma-separated list, trimmed, empty ones left out.
std::vector<std::string_view> ListElements(std::string_view text) {
  std::vector<std::string_view> elements;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view element = Trim(text.substr(0, comma));
    if (!element.empty()) elements.push_back(element);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return elements;
}

// A decimal number of at most 18 digits, so that it cannot overflow.
std::optional<uint64_t> Number(std::string_view digits) {
  if (!ascii::IsDigits(digits) || digits.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) value = value * 10 + static_cast<uint64_t>(c - '0');
  return value;
}

// The opaque part of an entity tag (with its quotes), and whether it was weak.
struct EntityTag {
  std::string_view opaque;
  bool weak = false;
};

std::optional<EntityTag> ParseEntityTag(std::string_view text) {
  EntityTag tag;
  if (text.substr(0, 2) == "W/") {
    tag.weak = true;
    text.remove_prefix(2);
  }
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  tag.opaque = text;
  return tag;
}

// If-None-Match by the weak comparison: "*" or any listed tag with our opaque part.
bool NoneMatchHits(std::string_view field, const std::string& etag) {
  for (std::string_view element : ListElements(field)) {
    if (element == "*") return true;
    const std::optional<EntityTag> tag = ParseEntityTag(element);
    if (tag && tag->opaque == etag) return true;
  }
  return false;
}

// If-Range: an entity tag by the strong comparison, or the exact Last-Modified date.
bool IfRangeHolds(std::string_view field, const FileFacts& facts, const std::string& etag) {
  field = Trim(field);
  if (!field.empty() && (field.front() == '"' || field.substr(0, 2) == "W/")) {
    const std::optional<EntityTag> tag = ParseEntityTag(field);
    return tag && !tag->weak && tag->opaque == etag;
  }
  const std::optional<SysSeconds> date = ParseInternetDate(field);
  return date && *date == Seconds(facts.mtime);
}

struct ByteRange {
  uint64_t first = 0;
  uint64_t last = 0;
};

// The satisfiable ranges of a Range field for a file of `size` bytes and how many ranges it
// asked for; nullopt when it is no list of byte ranges at all.
struct RangeSet {
  std::vector<ByteRange> satisfiable;
  std::size_t asked = 0;
};

std::optional<RangeSet> ParseRange(std::string_view field, uint64_t size) {
  field = Trim(field);
  const std::size_t equals = field.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  std::string unit(Trim(field.substr(0, equals)));
  for (char& c : unit) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (unit != "bytes") return std::nullopt;
  RangeSet set;
  for (std::string_view item : ListElements(field.substr(equals + 1))) {
    const std::size_t dash = item.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::string_view firstText = Trim(item.substr(0, dash));
    const std::string_view lastText = Trim(item.substr(dash + 1));
    ++set.asked;
    if (firstText.empty()) {
      // The last N bytes; none is no range.
      const std::optional<uint64_t> suffix = Number(lastText);
      if (!suffix) return std::nullopt;
      if (*suffix > 0 && size > 0) {
        set.satisfiable.push_back({*suffix >= size ? 0 : size - *suffix, size - 1});
      }
      continue;
    }
    const std::optional<uint64_t> first = Number(firstText);
    if (!first) return std::nullopt;
    uint64_t last = size == 0 ? 0 : size - 1;
    if (!lastText.empty()) {
      const std::optional<uint64_t> given = Number(lastText);
      if (!given || *given < *first) return std::nullopt;
      if (*given < last) last = *given;
    }
    if (*first < size) set.satisfiable.push_back({*first, last});
  }
  if (set.asked == 0) return std::nullopt;
  return set;
}

}  // namespace

FileAnswer AnswerFile(const FileFacts& facts, const FileConditions& conditions) {
  FileAnswer answer;
  char etag[64];
  std::snprintf(
      etag, sizeof etag, "\"%llx-%lx-%llx\"", static_cast<unsigned long long>(facts.mtime),
      static_cast<unsigned long>(facts.mtimeNsec), static_cast<unsigned long long>(facts.size));
  answer.etag = etag;
  answer.lastModified = FormatHttpDate(Seconds(facts.mtime));
  answer.length = facts.size;

  // Preconditions for GET and HEAD: a client that holds this version gets a 304.
  bool notModified = false;
  if (conditions.ifNoneMatch) {
    notModified = NoneMatchHits(*conditions.ifNoneMatch, answer.etag);
  } else if (conditions.ifModifiedSince) {
    const std::optional<SysSeconds> since = ParseInternetDate(*conditions.ifModifiedSince);
    notModified = since && Seconds(facts.mtime) <= *since;
  }
  if (notModified) {
    answer.status = 304;
    answer.length = 0;
    return answer;
  }

  if (conditions.head || !conditions.range) return answer;
  if (conditions.ifRange && !IfRangeHolds(*conditions.ifRange, facts, answer.etag)) return answer;
  const std::optional<RangeSet> ranges = ParseRange(*conditions.range, facts.size);
  if (!ranges) return answer;
  if (ranges->satisfiable.empty()) {
    answer.status = 416;
    answer.length = 0;
    answer.contentRange = "bytes */" + std::to_string(facts.size);
    return answer;
  }
  if (ranges->asked > 1) return answer;
  const ByteRange range = ranges->satisfiable.front();
  answer.status = 206;
  answer.offset = range.first;
  answer.length = range.last - range.first + 1;
  answer.contentRange = "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                        "/" + std::to_string(facts.size);
  return answer;
}

}  // namespace brevis
