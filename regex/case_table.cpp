// The default case inversion: a table of the platform's single-unit case mapping.
#include "regex/case_table.h"

#include <locale.h>

#include <cwctype>

namespace brevis {
namespace {

constexpr char16_t kCaseLimit = 0x20AC;

// Table of the platform's single-unit case inversion below kCaseLimit, taken from the
// C.UTF-8 locale (ASCII only when that locale is missing).
struct CaseTable {
  char16_t inv[kCaseLimit];
  CaseTable() {
    locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    for (unsigned c = 0; c < kCaseLimit; ++c) {
      unsigned up = c;
      unsigned low = c;
      if (loc != static_cast<locale_t>(nullptr)) {
        up = static_cast<unsigned>(towupper_l(static_cast<wint_t>(c), loc));
        low = static_cast<unsigned>(towlower_l(static_cast<wint_t>(c), loc));
      } else if (c >= 'a' && c <= 'z') {
        up = c - 32;
      } else if (c >= 'A' && c <= 'Z') {
        low = c + 32;
      }
      if (up > 0xFFFF) up = c;
      if (low > 0xFFFF) low = c;
      inv[c] = static_cast<char16_t>(up != c ? up : low);
    }
    if (loc != static_cast<locale_t>(nullptr)) freelocale(loc);
  }
};

}  // namespace

char16_t DefaultInvertCase(char16_t c) {
  static const CaseTable table;
  return c >= kCaseLimit ? c : table.inv[c];
}

}  // namespace brevis
