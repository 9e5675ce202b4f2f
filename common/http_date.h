// Internet date-times as HTTP headers and cookies write them: reading the common forms (the
// client's Retry-After, Expires and Last-Modified, the mirror's If-Modified-Since and If-Range) and
// writing the cookie form and HTTP's preferred form.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brevis {

using SysSeconds = std::chrono::sys_seconds;

// Reads "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
// "Sun Nov  6 08:49:37 1994" and the cookie form "Sun, 06-Nov-1994 08:49:37 GMT", with an
// optional zone "GMT", "UTC", "UT", "Z" or "+hhmm"/"-hhmm". Two-digit years below 70 are 20xx.
// Blanks and tabs around the words are free, names are read without regard to case, a day name
// must be letters and is not checked against the date. Nothing when the text is not such a date
// or names no day of the calendar ("31 Feb").
std::optional<SysSeconds> ParseInternetDate(std::u16string_view text);
// The same for narrow text as a server reads it from a request; bytes beyond ASCII are no date.
std::optional<SysSeconds> ParseInternetDate(std::string_view text);

// "%s, %.2d-%s-%.2d %s GMT": short day name, day, short month name, year, hh:mm:ss, in
// universal time.
std::u16string FormatCookieDate(SysSeconds time);

// "Sun, 06 Nov 1994 08:49:37 GMT": HTTP's preferred form, four-digit year, in universal time.
std::string FormatHttpDate(SysSeconds time);

}  // namespace brevis
