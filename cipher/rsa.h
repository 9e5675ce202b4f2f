// Toy RSA text cipher used with the mirror service: every UTF-16 code unit becomes a group of
// four decimal digits.
#pragma once

#include <string>
#include <string_view>

#include "cipher/big_int.h"

namespace brevis {

class RSA {
 public:
  // Modulus n (below 10000, so that every group fits in four digits), the exponent `e` used by
  // Decrypt and the exponent `d` used by Encrypt.
  RSA(int n, int e, int d);

  // One group "%.4d" of x^d mod n per code unit x of `mess`.
  std::u16string Encrypt(std::u16string_view mess) const;

  // One code unit (y^e mod n) per whole group of four characters; characters after the last
  // whole group are ignored. Throws ConvertError for a group that is not a decimal number.
  std::u16string Decrypt(std::u16string_view mess) const;

 private:
  BigInt n_;
  BigInt e_;
  BigInt d_;
};

// The application's key, shared with the mirror service: n = 47 * 59, e * d = 1 (mod 46 * 58).
inline constexpr int kAppKeyN = 2773;
inline constexpr int kAppKeyE = 17;
inline constexpr int kAppKeyD = 157;

}  // namespace brevis
