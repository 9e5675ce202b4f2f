// Number, colour and string formatting of the PDF writer.
#include "pdf/pdf_format.h"

#include <gtest/gtest.h>

#include <limits>

#include "pdf/pdf_error.h"

namespace brevis {
namespace {

TEST(FormatPdfNumber, Table) {
  struct Case {
    float value;
    const char* text;
  };
  constexpr Case kCases[] = {
      // Whole numbers.
      {0.0f, "0"},
      {842.0f, "842"},
      {-842.0f, "-842"},
      {16777216.0f, "16777216"},
      // Fractions: every digit it takes to reach a whole number at float precision.
      {0.5f, "0.5"},
      {0.05f, "0.05"},
      {-2.5f, "-2.5"},
      {-0.5f, "-0.5"},
      {-0.05f, "-0.05"},
      {595.28f, "595.2800293"},
      {10.3f, "10.3000002"},
      {0.25f, "0.25"},
      {1.0f / 1024.0f, "0.0009765625"},
      // Beyond the 32-bit integer part every float is whole.
      {3e9f, "3000000000"},
      {-4294967296.0f, "-4294967296"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatPdfNumber(c.value), c.text);
  }
}

TEST(FormatPdfNumber, RefusesValuesPdfCannotCarry) {
  for (const float value :
       {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity()}) {
    EXPECT_THROW(
        {
          try {
            FormatPdfNumber(value);
          } catch (const PdfError& e) {
            EXPECT_STREQ(e.what(), "Number is not finite.");
            throw;
          }
        },
        PdfError);
  }
}

TEST(EscapePdfString, EightBytesEscapedOthersCopied) {
  EXPECT_EQ(EscapePdfString("a(b)\\c\n"), "a\\(b\\)\\\\c\\n");
  EXPECT_EQ(EscapePdfString("\r\t\b\f"), "\\r\\t\\b\\f");
  EXPECT_EQ(EscapePdfString(""), "");
  // Bytes of 128 and above, NUL and other controls pass unchanged.
  const std::string raw("\xE4\xB8\xAD\x01\x7F", 5);
  EXPECT_EQ(EscapePdfString(raw), raw);
  EXPECT_EQ(EscapePdfString(std::string("x\0y", 3)), std::string("x\0y", 3));
}

TEST(FormatContentNumber, Table) {
  struct Case {
    long double value;
    const char* text;
  };
  constexpr Case kCases[] = {
      {2, "2"},
      {0, "0"},
      {287.903L, "287.9"},
      {554.097L, "554.1"},
      {0.125L, "0.13"},
      {0.33333L, "0.33"},
      {-1.5L, "-1.5"},
      {-3.695L, "-3.69"},  // halves go upward, also below zero
      {-0.004L, "0"},      // rounds to zero: no "-0"
      {-0.005L, "0"},
      {-0.006L, "-0.01"},
      {0.05L, "0.05"},
      {268.097015L, "268.1"},
      {1e-30L, "0"},
      // At most 15 significant digits, plain notation.
      {123456789012.345L, "123456789012.35"},
      {1234567890123456.7L, "1234567890123460"},
      {1e20L, "100000000000000000000"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatContentNumber(c.value), c.text);
  }
  EXPECT_THROW(FormatContentNumber(std::numeric_limits<long double>::infinity()), PdfError);
}

TEST(FormatColor, Table) {
  struct Case {
    int32_t value;
    const char* text;
  };
  constexpr Case kCases[] = {
      {0, "0 0 0"},          {0x0000FF, "1 0 0"},  // red is the lowest byte
      {0x00FF00, "0 1 0"},   {0xFF8000, "0 0.5 1"}, {0xFFFFFF, "1 1 1"}, {0x7F7F7F, "0.5 0.5 0.5"},
      {0x01FFFFFF, "1 1 1"},  // the fourth byte is not a channel
      {-16777201, "0 0 0"},   // system colours (negative) draw black
      {-1, "0 0 0"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatColor(c.value), c.text);
  }
}

}  // namespace
}  // namespace brevis
