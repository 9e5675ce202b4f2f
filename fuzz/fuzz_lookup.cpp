// Fuzz target: reading the lookup's answers. The input goes in as the mirror's answer body
// (deciphered first), as already deciphered mirror text, and as the search page for both kinds.
// Only ConvertError may come out, and what is read must come from the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/core/lookup_answers.h"
#include "cipher/big_int.h"
#include "cipher/rsa.h"
#include "common/text.h"
#include "fuzz/fuzz_input.h"

namespace {

using brevis::fuzz::Check;

// Whether `text` holds a run of ten or more decimal digits: the only page counts that can be
// too large for 32 bits.
bool HasLongNumber(std::u16string_view text) {
  size_t run = 0;
  for (char16_t c : text) {
    run = c >= u'0' && c <= u'9' ? run + 1 : 0;
    if (run >= 10) return true;
  }
  return false;
}

// Reads `text` with `read` and checks the result: the count is not negative, the address stands
// in the text right after `before`, and after the cap both counts are within it.
template <typename Read>
void CheckRead(std::u16string_view text, std::u16string_view before, Read read) {
  brevis::ReRazavu r;
  try {
    read(r);
  } catch (const brevis::ConvertError&) {
    Check(HasLongNumber(text), "a count too large for 32 bits is the only conversion error");
    return;
  }
  Check(r.GkPages >= 0 && r.SdPages == 0, "a count of digits, and no grant text");
  if (!r.GkUrl.empty()) {
    Check(text.find(std::u16string(before) + r.GkUrl) != std::u16string_view::npos,
          "the base address comes from the text");
  }
  brevis::CapPageCounts(r);
  Check(r.GkPages <= brevis::kMaxLookupPages, "the cap holds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const brevis::RSA cipher(brevis::kAppKeyN, brevis::kAppKeyE, brevis::kAppKeyD);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Answer bodies become text as the lookup turns them into text.
  const std::u16string body = brevis::Utf8ToUtf16(bytes);

  // (a) The mirror's body: a conversion error also for a group that is not a number.
  try {
    brevis::ReRazavu r;
    brevis::ReadMirrorAnswer(cipher, body, r);
    brevis::CapPageCounts(r);
    Check(r.GkPages >= 0 && r.GkPages <= brevis::kMaxLookupPages, "the mirror's count is capped");
  } catch (const brevis::ConvertError&) {
  }
  // (b) Deciphered mirror text: any code unit a group can decipher to.
  const std::u16string plain = brevis::fuzz::Units(bytes);
  CheckRead(plain, u"\t", [&](brevis::ReRazavu& r) { brevis::ReadMirrorText(plain, r); });
  // (c) The search page, for each kind.
  for (const char16_t* leixin : {u"fmzl", u"syxx"}) {
    CheckRead(body, u"','", [&](brevis::ReRazavu& r) { brevis::ReadSearchPage(body, leixin, r); });
  }
  return 0;
}
