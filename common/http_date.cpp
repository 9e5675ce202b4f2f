// Reading and writing internet date-times.
#include "common/http_date.h"

#include <array>
#include <cstdio>
#include <vector>

#include "common/ascii_text.h"
#include "common/text.h"

namespace brevis {

namespace {

constexpr std::array<std::u16string_view, 12> kMonths = {
    u"JAN", u"FEB", u"MAR", u"APR", u"MAY", u"JUN", u"JUL", u"AUG", u"SEP", u"OCT", u"NOV", u"DEC"};
constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int ToInt(std::u16string_view s) {
  int v = 0;
  for (char16_t c : s) v = v * 10 + (c - u'0');
  return v;
}

// Reads "h:mm[:ss]" into seconds of the day.
std::optional<int> ParseTime(std::u16string_view s) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = s.find(u':', start);
    const std::u16string_view part = s.substr(start, colon - start);
    if (count == 3 || !ascii::IsDigits(part) || part.size() > 2) return std::nullopt;
    parts[count++] = ToInt(part);
    if (colon == std::u16string_view::npos) break;
    start = colon + 1;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return std::nullopt;
  return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

}  // namespace

std::optional<SysSeconds> ParseInternetDate(std::u16string_view text) {
  // Split into words at blanks and commas; a "-" separates day, month and year unless it
  // starts a numeric zone after the time.
  std::vector<std::u16string_view> words;
  std::size_t i = 0;
  bool seen_time = false;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c == u' ' || c == u',' || c == u'\t' || (c == u'-' && !seen_time)) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && text[end] != u' ' && text[end] != u',' && text[end] != u'\t' &&
           !(text[end] == u'-' && !seen_time)) {
      ++end;
    }
    const std::u16string_view word = text.substr(i, end - i);
    if (word.find(u':') != std::u16string_view::npos) seen_time = true;
    words.push_back(word);
    i = end;
  }

  int day = -1, month = -1, year = -1, seconds = -1;
  int zone_offset = 0;
  for (std::u16string_view word : words) {
    if (seconds < 0 && word.find(u':') != std::u16string_view::npos) {
      const auto t = ParseTime(word);
      if (!t) return std::nullopt;
      seconds = *t;
    } else if (ascii::IsDigits(word)) {
      if (day < 0 && word.size() <= 2 && month >= 0 && year < 0 && ToInt(word) >= 1) {
        day = ToInt(word);
      } else if (day < 0 && word.size() <= 2 && month < 0) {
        day = ToInt(word);
      } else if (year < 0 && (word.size() == 2 || word.size() == 4)) {
        year = ToInt(word);
        if (word.size() == 2) year += year < 70 ? 2000 : 1900;
      } else {
        return std::nullopt;
      }
    } else if ((word[0] == u'+' || word[0] == u'-') && word.size() == 5 &&
               ascii::IsDigits(word.substr(1))) {
      const int hhmm = ToInt(word.substr(1));
      const int offset = (hhmm / 100) * 3600 + (hhmm % 100) * 60;
      zone_offset = word[0] == u'+' ? offset : -offset;
    } else if (word.size() >= 3 && month < 0) {
      const std::u16string upper = ascii::ToUpper(word.substr(0, 3));
      bool found = false;
      for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (upper == kMonths[m]) {
          month = static_cast<int>(m) + 1;
          found = true;
        }
      }
      // Anything else of letters is a day name or a zone name; both are ignored.
      if (!found && !ascii::EqualsIgnoreCase(word, u"GMT") &&
          !ascii::EqualsIgnoreCase(word, u"UTC")) {
        for (char16_t c : word) {
          if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) return std::nullopt;
        }
      }
    } else {
      for (char16_t c : word) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) return std::nullopt;
      }
    }
  }
  if (day < 1 || month < 1 || year < 0 || seconds < 0) return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year{year},
                                        std::chrono::month{static_cast<unsigned>(month)},
                                        std::chrono::day{static_cast<unsigned>(day)}};
  if (!ymd.ok()) return std::nullopt;
  return SysSeconds{std::chrono::sys_days{ymd}} + std::chrono::seconds{seconds - zone_offset};
}

std::optional<SysSeconds> ParseInternetDate(std::string_view text) {
  return ParseInternetDate(std::u16string_view(Latin1ToUtf16(text)));
}

namespace {

// `format` filled with the short day name, the day, the short month name, the year and the hour,
// minute and second of `time`, in that order.
std::string FormatDate(const char* format, SysSeconds time) {
  const auto days = std::chrono::floor<std::chrono::days>(time);
  const std::chrono::year_month_day ymd{days};
  const std::chrono::weekday wd{days};
  const auto of_day = (time - days).count();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, kDayNames[wd.c_encoding()],
                static_cast<int>(static_cast<unsigned>(ymd.day())),
                kMonthNames[static_cast<unsigned>(ymd.month()) - 1], static_cast<int>(ymd.year()),
                static_cast<int>(of_day / 3600), static_cast<int>(of_day / 60 % 60),
                static_cast<int>(of_day % 60));
  return buffer;
}

}  // namespace

std::u16string FormatCookieDate(SysSeconds time) {
  return Latin1ToUtf16(FormatDate("%s, %.2d-%s-%.2d %.2d:%.2d:%.2d GMT", time));
}

std::string FormatHttpDate(SysSeconds time) {
  return FormatDate("%s, %02d %s %04d %02d:%02d:%02d GMT", time);
}

}  // namespace brevis
