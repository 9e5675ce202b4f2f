// Fuzz target: DecimalToBigInt and the request cipher's decipher, checked against GMP. The
// first line of the input is read as a decimal number; the rest is deciphered with the
// application's key and with a key taken from the input.
#include <gmp.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "cipher/big_int.h"
#include "cipher/rsa.h"
#include "common/text.h"
#include "fuzz/fuzz_input.h"

namespace {

using brevis::fuzz::Check;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// What DecimalToBigInt must give for `text`, in GMP's decimal form, or "" for an error:
// leading units that are neither "-" nor a digit are skipped (all but the last), one "-" is the
// sign, and the rest must be digits.
std::string Expected(std::u16string_view text) {
  if (text.empty()) return "";
  while (text.size() > 1 && text[0] != u'-' && !IsDigit(text[0])) text.remove_prefix(1);
  bool negative = false;
  if (text[0] == u'-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return "";
  std::string digits;
  for (char16_t c : text) {
    if (!IsDigit(c)) return "";
    digits.push_back(static_cast<char>(c));
  }
  mpz_t v;
  mpz_init_set_str(v, digits.c_str(), 10);
  if (negative) mpz_neg(v, v);
  char* s = mpz_get_str(nullptr, 10, v);
  std::string out(s);
  void (*free_fn)(void*, size_t) = nullptr;
  mp_get_memory_functions(nullptr, nullptr, &free_fn);
  free_fn(s, out.size() + 1);
  mpz_clear(v);
  return out;
}

void CheckDecimal(std::u16string_view text) {
  const std::string expected = Expected(text);
  std::string got;
  try {
    got = brevis::BigIntToDecimal(brevis::DecimalToBigInt(text));
  } catch (const brevis::ConvertError&) {
    got = "";
  }
  Check(got == expected, "DecimalToBigInt agrees with GMP");
}

// Deciphers `mess` with key (n, e) and checks every unit against GMP's y^e mod n.
void CheckDecipher(std::u16string_view mess, int n, int e) {
  const brevis::RSA rsa(n, e, 1);
  std::u16string got;
  try {
    got = rsa.Decrypt(mess);
  } catch (const brevis::ConvertError&) {
    // A group that is not a number; GMP must find one too.
    bool bad = false;
    for (size_t i = 0; i + 4 <= mess.size() && !bad; i += 4) {
      bad = Expected(mess.substr(i, 4)).empty();
    }
    Check(bad, "Decrypt fails only for a group that is not a number");
    return;
  }
  Check(got.size() == mess.size() / 4, "one unit per group");
  mpz_t y, exp, mod;
  mpz_inits(y, exp, mod, nullptr);
  mpz_set_si(exp, e);
  mpz_set_si(mod, n);
  for (size_t i = 0; i < got.size(); ++i) {
    const std::string group = Expected(mess.substr(4 * i, 4));
    Check(!group.empty(), "a deciphered group is a number");
    mpz_set_str(y, group.c_str(), 10);
    if (mpz_sgn(y) < 0) continue;  // negative groups: no wire text holds one
    mpz_powm(y, y, exp, mod);
    Check(mpz_get_ui(y) == got[i], "decipher agrees with GMP");
  }
  mpz_clears(y, exp, mod, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto fields = brevis::fuzz::Fields(data, size, 3);
  CheckDecimal(brevis::fuzz::Units(fields[0]));
  const std::u16string mess = brevis::fuzz::Units(fields[2]);
  CheckDecipher(mess, brevis::kAppKeyN, brevis::kAppKeyE);
  // A key from the second line: modulus 2..9999, exponent 1..65535.
  if (fields[1].size() >= 4) {
    const auto* k = reinterpret_cast<const uint8_t*>(fields[1].data());
    const int n = 2 + (k[0] | k[1] << 8) % 9998;
    const int e = 1 + (k[2] | k[3] << 8);
    CheckDecipher(mess, n, e);
  }
  return 0;
}
