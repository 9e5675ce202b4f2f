// Fuzz target: reading the lookup's answers. The input goes in as the mirror's answer body
// (deciphered first), as already deciphered mirror text, as the search page for both kinds, and
// its first eight bytes as two page counts for the cap. Only ConvertError may come out, a text
// that does not match leaves the result alone, what is read must come from the text, and the
// cap keeps or refuses counts as its contract says.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/lookup_answers.h"
#include "cipher/big_int.h"
#include "cipher/rsa.h"
#include "common/text.h"
#include "fuzz/fuzz_input.h"

namespace {

using brevis::fuzz::Check;

// What no reader writes: a result that still holds both was left alone.
constexpr int32_t kUnreadPages = -1;
constexpr std::u16string_view kUnreadUrl = u"\x01unread";

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Whether `text` holds a run of ten or more decimal digits: the only page counts that can be
// too large for 32 bits.
bool HasLongNumber(std::u16string_view text) {
  size_t run = 0;
  for (char16_t c : text) {
    run = IsDigit(c) ? run + 1 : 0;
    if (run >= 10) return true;
  }
  return false;
}

// Whether `count`, in decimal with any leading zeros, is a whole run of digits in `text` that
// ends right before `after`.
bool CountStandsBefore(std::u16string_view text, std::u16string_view after, int32_t count) {
  const std::string decimal = std::to_string(count);
  const std::u16string digits(decimal.begin(), decimal.end());
  for (size_t at = text.find(after); at != std::u16string_view::npos;
       at = text.find(after, at + 1)) {
    size_t start = at;
    while (start > 0 && IsDigit(text[start - 1])) --start;
    std::u16string_view run = text.substr(start, at - start);
    while (run.size() > 1 && run.front() == u'0') run.remove_prefix(1);
    if (run == digits) return true;
  }
  return false;
}

// CapPageCounts keeps counts within the cap and returns 0; when either count is above it, both
// become 0 and the larger one comes back.
void CheckCap(brevis::ReRazavu r) {
  const int32_t gk = r.GkPages;
  const int32_t sd = r.SdPages;
  const int32_t refused = brevis::CapPageCounts(r);
  if (gk <= brevis::kMaxLookupPages && sd <= brevis::kMaxLookupPages) {
    Check(refused == 0 && r.GkPages == gk && r.SdPages == sd, "counts within the cap are kept");
  } else {
    Check(refused == std::max(gk, sd) && r.GkPages == 0 && r.SdPages == 0,
          "a count above the cap refuses both");
  }
}

// Reads `text` with `read` and checks the result: left alone without a match; on a match a
// count that is not negative, written in the text right before `before` and the address; then
// the cap on it.
template <typename Read>
void CheckRead(std::u16string_view text, std::u16string_view before, Read read) {
  brevis::ReRazavu r;
  r.GkPages = kUnreadPages;
  r.GkUrl = kUnreadUrl;
  try {
    read(r);
  } catch (const brevis::ConvertError&) {
    Check(HasLongNumber(text), "a count too large for 32 bits is the only conversion error");
    return;
  }
  Check(r.SdPages == 0, "no grant text");
  if (r.GkPages == kUnreadPages) {
    Check(r.GkUrl == kUnreadUrl, "a text without a match leaves the result alone");
    return;
  }
  Check(r.GkPages >= 0, "a count of digits is not negative");
  Check(CountStandsBefore(text, std::u16string(before) + r.GkUrl, r.GkPages),
        "the count and the base address come from the text");
  CheckCap(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const brevis::RSA cipher(brevis::kAppKeyN, brevis::kAppKeyE, brevis::kAppKeyD);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Answer bodies become text as the lookup turns them into text.
  const std::u16string body = brevis::Utf8ToUtf16(bytes);

  // (a) The mirror's body reads as the text it deciphers to; a body that is not cipher text is
  // refused with a conversion error.
  std::u16string deciphered;
  bool cipherText = true;
  try {
    deciphered = cipher.Decrypt(body);
  } catch (const brevis::ConvertError&) {
    cipherText = false;
  }
  if (cipherText) {
    CheckRead(deciphered, u"\t",
              [&](brevis::ReRazavu& r) { brevis::ReadMirrorAnswer(cipher, body, r); });
  } else {
    bool refused = false;
    try {
      brevis::ReRazavu r;
      brevis::ReadMirrorAnswer(cipher, body, r);
    } catch (const brevis::ConvertError&) {
      refused = true;
    }
    Check(refused, "a body that is not cipher text is refused");
  }
  // (b) Deciphered mirror text: any code unit a group can decipher to.
  const std::u16string plain = brevis::fuzz::Units(bytes);
  CheckRead(plain, u"\t", [&](brevis::ReRazavu& r) { brevis::ReadMirrorText(plain, r); });
  // (c) The search page, for each kind.
  for (const char16_t* leixin : {u"fmzl", u"syxx"}) {
    CheckRead(body, u"','", [&](brevis::ReRazavu& r) { brevis::ReadSearchPage(body, leixin, r); });
  }
  // (d) The cap on any two counts, negative ones too.
  if (size >= 8) {
    brevis::ReRazavu r;
    std::memcpy(&r.GkPages, data, sizeof(r.GkPages));
    std::memcpy(&r.SdPages, data + 4, sizeof(r.SdPages));
    CheckCap(r);
  }
  return 0;
}
