// Internet date-times as HTTP headers and cookies write them: reading the common forms and
// writing the cookie form.
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
// Nothing when the text is not such a date.
std::optional<SysSeconds> ParseInternetDate(std::u16string_view text);

// "%s, %.2d-%s-%.2d %s GMT": short day name, day, short month name, year, hh:mm:ss, in
// universal time.
std::u16string FormatCookieDate(SysSeconds time);

}  // namespace brevis
