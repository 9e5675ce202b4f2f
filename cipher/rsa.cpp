// Toy RSA text cipher.
#include "cipher/rsa.h"

#include <cstdio>

#include "common/text.h"

namespace brevis {

RSA::RSA(int n, int e, int d)
    : n_(DecimalToBigInt(std::to_string(n))),
      e_(DecimalToBigInt(std::to_string(e))),
      d_(DecimalToBigInt(std::to_string(d))) {}

std::u16string RSA::Encrypt(std::u16string_view mess) const {
  std::u16string result;
  result.reserve(mess.size() * 4);
  for (char16_t unit : mess) {
    const BigInt x = DecimalToBigInt(std::to_string(static_cast<unsigned>(unit)));
    const BigInt y = PowerModulo(x, d_, n_);
    char group[16];
    std::snprintf(group, sizeof group, "%.4d", std::stoi(BigIntToDecimal(y)));
    result += Latin1ToUtf16(group);
  }
  return result;
}

std::u16string RSA::Decrypt(std::u16string_view mess) const {
  std::u16string result;
  const size_t groups = mess.size() / 4;
  result.reserve(groups);
  for (size_t i = 0; i < groups; ++i) {
    const BigInt x = DecimalToBigInt(mess.substr(4 * i, 4));
    const BigInt y = PowerModulo(x, e_, n_);
    result.push_back(static_cast<char16_t>(std::stoul(BigIntToDecimal(y))));
  }
  return result;
}

}  // namespace brevis
