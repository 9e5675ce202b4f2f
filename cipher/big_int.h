// Signed big integers of 31-bit digits, the arithmetic under the request cipher.
// Values live in `BigInt`; every operation is a free function that leaves its result in
// normal form.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brevis {

// Raised when decimal text holds a character that is not part of a decimal number.
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Sign : uint8_t { negative = 0, positive = 1 };

// number[0] is the digit count k >= 1; number[1..k] are the digits, least significant first,
// each in 0 .. 2^31 - 1. Normal form: number[k] != 0 unless the value is zero (k = 1, digit 0),
// and number.size() == k + 1. Zero is normally positive.
struct BigInt {
  brevis::Sign Sign = Sign::positive;
  std::vector<uint32_t> Number{1, 0};

  friend bool operator==(const BigInt&, const BigInt&) = default;
};

constexpr uint32_t kDigitBits = 31;
constexpr uint64_t kDigitBase = uint64_t{1} << kDigitBits;
constexpr uint32_t kDigitMask = static_cast<uint32_t>(kDigitBase - 1);

enum class MagnitudeOrder { larger, smaller, equal };

// Text conversions. DecimalToBigInt skips leading characters that are neither "-" nor a digit,
// takes one "-" as the sign, and throws ConvertError for an empty text or a character that is
// not a decimal digit after that.
BigInt DecimalToBigInt(std::u16string_view text);
BigInt DecimalToBigInt(std::string_view text);
std::string BigIntToDecimal(const BigInt& x);
// Bits most significant first; any character other than "1" is a 0 bit. The result is positive.
BigInt BinaryToBigInt(std::string_view text);
// Binary digits of the magnitude, without leading zeros ("0" for zero).
std::string BigIntToBinary(const BigInt& x);

BigInt CopyBigInt(const BigInt& x);
// Empties the digit array; the value must be assigned again before further use.
void ReleaseBigInt(BigInt& x);
bool IsZero(const BigInt& x);

MagnitudeOrder CompareMagnitude(const BigInt& a, const BigInt& b);

BigInt AddBigInt(const BigInt& a, const BigInt& b);
BigInt SubtractBigInt(const BigInt& a, const BigInt& b);
// In place: |a| := |a| - |b|. Requires |a| >= |b| (throws std::logic_error otherwise).
void SubtractMagnitude(BigInt& a, const BigInt& b);

BigInt MultiplyBigInt(const BigInt& a, const BigInt& b);
BigInt SquareBigInt(const BigInt& a);

// In place: a := a * w.
void MultiplyBySmall(BigInt& a, uint32_t w);
// In place: a := a div w (on the magnitude); returns the magnitude's remainder.
// Throws std::domain_error for w = 0.
uint32_t DivideBySmall(BigInt& a, uint32_t w);
// In place: a := a * 2^31 and a := a div 2^31.
void ShiftUpDigit(BigInt& a);
void ShiftDownDigit(BigInt& a);

// a mod m in 0 .. |m| - 1, also for negative a. Throws std::domain_error for m = 0.
BigInt RemainderBigInt(const BigInt& a, const BigInt& m);
// Quotient and remainder of |a| by |b|. Throws std::domain_error for b = 0.
struct DivisionResult {
  BigInt Quotient;
  BigInt Remainder;
};
DivisionResult DivideWithRemainder(const BigInt& a, const BigInt& b);

BigInt MultiplyModulo(const BigInt& a, const BigInt& b, const BigInt& m);
BigInt SquareModulo(const BigInt& a, const BigInt& m);

BigInt GreatestCommonDivisor(const BigInt& a, const BigInt& b);
// x with a * x = 1 (mod m) and 0 <= x < m, stored in `out`. When gcd(a, m) != 1 there is no
// inverse and `out` is left untouched; the return value says whether one was found.
bool InverseModulo(const BigInt& a, const BigInt& m, BigInt& out);

// Montgomery helpers for R = 2^(31(k - 1)) * (mask + 1).
BigInt LowPart(const BigInt& a, uint32_t k, uint32_t mask);                      // a mod R
BigInt LowProduct(const BigInt& a, const BigInt& b, uint32_t k, uint32_t mask);  // (a b) mod R
// T * R^-1 mod m for 0 <= T < m R, with m * m_prime = -1 (mod R).
BigInt MontgomeryReduce(const BigInt& t, const BigInt& m, const BigInt& m_prime, uint32_t k,
                        uint32_t mask);

// base^exp mod m; odd moduli go through Montgomery reduction. For an odd m a base that is a
// multiple of m gives zero whatever the exponent. Throws std::domain_error for m = 0.
BigInt PowerModulo(const BigInt& base, const BigInt& exp, const BigInt& m);

}  // namespace brevis
