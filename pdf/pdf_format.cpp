// Number, colour and string formatting for PDF output.
#include "pdf/pdf_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "pdf/pdf_error.h"

namespace brevis {
namespace {

constexpr char kNotFinite[] = "Number is not finite.";

// Decimal digits of a non-negative whole long double, exactly.
std::string WholeDigits(long double whole) {
  const int size = std::snprintf(nullptr, 0, "%.0Lf", whole);
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%.0Lf", whole);
  text.resize(static_cast<std::size_t>(size));
  return text;
}

// Rounds a digit string to `keep` significant digits, halves upward; the dropped digits become
// zeros so that the magnitude stays.
void RoundDigits(std::string& digits, std::size_t keep) {
  if (digits.size() <= keep) return;
  const bool up = digits[keep] >= '5';
  for (std::size_t k = keep; k < digits.size(); ++k) digits[k] = '0';
  if (!up) return;
  std::size_t k = keep;
  while (k > 0) {
    --k;
    if (digits[k] != '9') {
      ++digits[k];
      return;
    }
    digits[k] = '0';
  }
  digits.insert(digits.begin(), '1');
}

}  // namespace

std::string FormatPdfNumber(float value) {
  if (!std::isfinite(value)) throw PdfError(kNotFinite);
  // From 2^31 on every float is a whole number, and it no longer fits the 32-bit integer part.
  if (std::fabs(value) >= 2147483648.0f) {
    std::string text = value < 0 ? "-" : "";
    text += WholeDigits(std::fabs(static_cast<long double>(value)));
    return text;
  }
  const auto whole = static_cast<int32_t>(value);
  if (static_cast<float>(whole) == value) return std::to_string(whole);

  // The fraction is exact in float; scale it by ten, at float precision, until it is whole.
  float scaled = (value - static_cast<float>(whole)) * 10.0f;
  std::size_t count = 1;
  while (scaled != std::rint(scaled)) {
    scaled *= 10.0f;
    ++count;
  }
  std::string digits = std::to_string(std::llabs(std::llrint(scaled)));
  if (digits.size() < count) digits.insert(0, count - digits.size(), '0');
  const std::string head = (value < 0 && whole == 0) ? "-0" : std::to_string(whole);
  return head + "." + digits;
}

std::string EscapePdfString(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '(':
        out += "\\(";
        break;
      case ')':
        out += "\\)";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string FormatContentNumber(long double x) {
  if (!std::isfinite(x)) throw PdfError(kNotFinite);
  const long double hundredths = std::floor(x * 100.0L + 0.5L);
  std::string digits = WholeDigits(std::fabs(hundredths));
  RoundDigits(digits, 15);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  std::string fraction = digits.substr(digits.size() - 2);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  std::string text = hundredths < 0 && !zero ? "-" : "";
  text.append(digits, 0, digits.size() - 2);
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

std::string FormatColor(int32_t value) {
  const auto color = static_cast<uint32_t>(value <= 0 ? 0 : value);
  std::string text;
  for (int shift = 0; shift <= 16; shift += 8) {
    if (shift != 0) text += ' ';
    text += FormatContentNumber(static_cast<long double>((color >> shift) & 0xFFu) / 255.0L);
  }
  return text;
}

}  // namespace brevis
