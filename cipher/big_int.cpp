// Big-integer arithmetic in base 2^31. The value functions at the bottom are thin wrappers over
// kernels that work on little-endian digit vectors.
#include "cipher/big_int.h"

#include <algorithm>
#include <span>

#include "common/ascii_text.h"
#include "common/text.h"

namespace brevis {
namespace {

using Digits = std::vector<uint32_t>;  // least significant first, no count prefix
using DigitSpan = std::span<const uint32_t>;

constexpr uint32_t kDecimalGroup = 10000;

DigitSpan Mag(const BigInt& x) { return DigitSpan(x.Number.data() + 1, x.Number[0]); }

void Trim(Digits& d) {
  while (d.size() > 1 && d.back() == 0) d.pop_back();
  if (d.empty()) d.push_back(0);
}

bool DigitsZero(DigitSpan d) { return d.size() == 1 && d[0] == 0; }

// Builds a value in normal form. Zero is always positive: a "-0" would only surface as wrong
// decimal text.
BigInt Make(Digits d, Sign sign) {
  Trim(d);
  BigInt x;
  x.Number.resize(d.size() + 1);
  x.Number[0] = static_cast<uint32_t>(d.size());
  std::copy(d.begin(), d.end(), x.Number.begin() + 1);
  x.Sign = DigitsZero(d) ? Sign::positive : sign;
  return x;
}

Digits ToDigits(const BigInt& x) {
  const DigitSpan m = Mag(x);
  return Digits(m.begin(), m.end());
}

// Both operands trimmed.
int CompareDigits(DigitSpan a, DigitSpan b) {
  if (a.size() != b.size()) return a.size() > b.size() ? 1 : -1;
  for (size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  }
  return 0;
}

Digits AddDigits(DigitSpan a, DigitSpan b) {
  if (a.size() < b.size()) std::swap(a, b);
  Digits s(a.size() + 1, 0);
  uint32_t carry = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    // At most (2^31 - 1) * 2 + 1 < 2^32: fits.
    const uint32_t t = a[i] + (i < b.size() ? b[i] : 0) + carry;
    s[i] = t & kDigitMask;
    carry = t >> kDigitBits;
  }
  s[a.size()] = carry;
  Trim(s);
  return s;
}

// a := a - b, requires a >= b; a is trimmed afterwards.
void SubtractDigitsInPlace(Digits& a, DigitSpan b) {
  uint32_t borrow = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const uint32_t sub = (i < b.size() ? b[i] : 0) + borrow;
    if (a[i] >= sub) {
      a[i] -= sub;
      borrow = 0;
    } else {
      a[i] = static_cast<uint32_t>(kDigitBase + a[i] - sub);
      borrow = 1;
    }
  }
  Trim(a);
}

// The low `limit` digits of a * b (all of them by default).
Digits MultiplyDigits(DigitSpan a, DigitSpan b, size_t limit = SIZE_MAX) {
  const size_t n = std::min(a.size() + b.size(), limit);
  Digits r(n, 0);
  for (size_t j = 0; j < b.size() && j < n; ++j) {
    uint64_t carry = 0;
    size_t i = 0;
    for (; i < a.size() && i + j < n; ++i) {
      // (2^31 - 1)^2 + 2 (2^31 - 1) = 2^62 - 1: fits in 64 bits.
      const uint64_t t = uint64_t{a[i]} * b[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint32_t>(t & kDigitMask);
      carry = t >> kDigitBits;
    }
    if (i + j < n) r[i + j] = static_cast<uint32_t>(carry);
  }
  Trim(r);
  return r;
}

Digits SquareDigits(DigitSpan a) {
  const size_t n = a.size();
  Digits r(2 * n, 0);
  // Cross products a_i a_j, i < j, each once.
  for (size_t i = 0; i < n; ++i) {
    uint64_t carry = 0;
    for (size_t j = i + 1; j < n; ++j) {
      const uint64_t t = uint64_t{a[i]} * a[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint32_t>(t & kDigitMask);
      carry = t >> kDigitBits;
    }
    r[i + n] = static_cast<uint32_t>(carry);
  }
  // Double them, then add the squares a_i^2 on the diagonal.
  uint32_t top = 0;
  for (auto& d : r) {
    const uint32_t next = d >> (kDigitBits - 1);
    d = ((d << 1) & kDigitMask) | top;
    top = next;
  }
  uint64_t carry = 0;
  for (size_t i = 0; i < n; ++i) {
    uint64_t t = uint64_t{a[i]} * a[i] + r[2 * i] + carry;
    r[2 * i] = static_cast<uint32_t>(t & kDigitMask);
    t = (t >> kDigitBits) + r[2 * i + 1];
    r[2 * i + 1] = static_cast<uint32_t>(t & kDigitMask);
    carry = t >> kDigitBits;
  }
  Trim(r);
  return r;
}

void MultiplyDigitsBySmall(Digits& a, uint32_t w) {
  uint64_t carry = 0;
  for (auto& d : a) {
    // (2^31 - 1)(2^32 - 1) + (2^32 - 1) < 2^63.
    const uint64_t t = uint64_t{d} * w + carry;
    d = static_cast<uint32_t>(t & kDigitMask);
    carry = t >> kDigitBits;
  }
  // The carry can reach 2^32 - 1 for a full 32-bit w, which needs two digits.
  while (carry != 0) {
    a.push_back(static_cast<uint32_t>(carry & kDigitMask));
    carry >>= kDigitBits;
  }
  Trim(a);
}

uint32_t DivideDigitsBySmall(Digits& a, uint32_t w) {
  if (w == 0) throw std::domain_error("Division by zero");
  uint64_t r = 0;
  for (size_t i = a.size(); i-- > 0;) {
    const uint64_t t = (r << kDigitBits) | a[i];  // r < w < 2^32, so t < 2^63
    a[i] = static_cast<uint32_t>(t / w);
    r = t % w;
  }
  Trim(a);
  return static_cast<uint32_t>(r);
}

void AddSmall(Digits& a, uint32_t w) {
  uint64_t carry = w;
  for (size_t i = 0; carry != 0; ++i) {
    if (i == a.size()) a.push_back(0);
    const uint64_t t = a[i] + carry;
    a[i] = static_cast<uint32_t>(t & kDigitMask);
    carry = t >> kDigitBits;
  }
}

struct DigitDivision {
  Digits Quotient;
  Digits Remainder;
};

// Schoolbook division of trimmed magnitudes. The divisor is shifted up to the dividend's length
// and walked down one digit at a time; at each position the quotient digit is found by repeated
// subtraction of an under-estimate. Invariant: r < 2^31 t, so every estimate fits in 31 bits.
DigitDivision DivideDigits(DigitSpan a, DigitSpan m) {
  if (DigitsZero(m)) throw std::domain_error("Division by zero");
  DigitDivision out;
  out.Remainder.assign(a.begin(), a.end());
  Digits& r = out.Remainder;
  if (CompareDigits(r, m) < 0) {
    out.Quotient = {0};
    return out;
  }
  size_t pos = a.size() - m.size();
  Digits t(pos, 0);
  t.insert(t.end(), m.begin(), m.end());
  out.Quotient.assign(pos + 1, 0);
  while (CompareDigits(r, m) >= 0) {
    while (CompareDigits(r, t) >= 0) {
      uint64_t q;
      if (t.size() < r.size()) {
        q = ((uint64_t{r.back()} << kDigitBits) | r[r.size() - 2]) / (uint64_t{t.back()} + 1);
      } else {
        q = r.back() / (uint64_t{t.back()} + 1);
      }
      if (q == 0) {
        SubtractDigitsInPlace(r, t);
        out.Quotient[pos] += 1;
      } else {
        Digits u = t;
        MultiplyDigitsBySmall(u, static_cast<uint32_t>(q));
        SubtractDigitsInPlace(r, u);
        out.Quotient[pos] += static_cast<uint32_t>(q);
        if (CompareDigits(r, u) >= 0) {
          SubtractDigitsInPlace(r, u);
          out.Quotient[pos] += static_cast<uint32_t>(q);
        }
      }
    }
    if (r.size() <= t.size() && pos > 0) {
      t.erase(t.begin());
      --pos;
    }
  }
  Trim(out.Quotient);
  return out;
}

Sign Flip(Sign s) { return s == Sign::positive ? Sign::negative : Sign::positive; }

[[noreturn]] void ThrowNotInteger(std::u16string_view text) {
  throw ConvertError("'" + Utf16ToUtf8(text) + "' is not a valid integer value");
}

}  // namespace

BigInt DecimalToBigInt(std::u16string_view text) {
  if (text.empty()) ThrowNotInteger(text);
  while (text.size() > 1 && text[0] != u'-' && !ascii::IsDigit(text[0])) text.remove_prefix(1);
  Sign sign = Sign::positive;
  if (text[0] == u'-') {
    sign = Sign::negative;
    text.remove_prefix(1);
  }
  while (text.size() > 1 && text[0] == u'0') text.remove_prefix(1);
  if (text.empty()) ThrowNotInteger(text);

  // Groups of four decimal digits from the right, each checked before it is used.
  Digits acc{0};
  size_t first = text.size() % 4 == 0 ? 4 : text.size() % 4;
  for (size_t start = 0; start < text.size(); start += first, first = 4) {
    const std::u16string_view group = text.substr(start, first);
    uint32_t value = 0;
    for (char16_t c : group) {
      if (!ascii::IsDigit(c)) ThrowNotInteger(group);
      value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    MultiplyDigitsBySmall(acc, kDecimalGroup);
    AddSmall(acc, value);
  }
  return Make(std::move(acc), sign);
}

BigInt DecimalToBigInt(std::string_view text) { return DecimalToBigInt(Latin1ToUtf16(text)); }

std::string BigIntToDecimal(const BigInt& x) {
  Digits work = ToDigits(x);
  std::vector<uint32_t> groups;  // least significant first
  while (!DigitsZero(work)) groups.push_back(DivideDigitsBySmall(work, kDecimalGroup));
  std::string text;
  if (x.Sign == Sign::negative) text.push_back('-');
  if (groups.empty()) return text + "0";
  text += std::to_string(groups.back());
  for (size_t i = groups.size() - 1; i-- > 0;) {
    const std::string g = std::to_string(groups[i]);
    text.append(4 - g.size(), '0');
    text += g;
  }
  return text;
}

BigInt BinaryToBigInt(std::string_view text) {
  while (text.size() > 1 && text[0] == '0') text.remove_prefix(1);
  Digits d((text.size() + kDigitBits - 1) / kDigitBits, 0);
  for (size_t j = 0; j < text.size(); ++j) {
    if (text[text.size() - 1 - j] == '1') d[j / kDigitBits] |= uint32_t{1} << (j % kDigitBits);
  }
  return Make(std::move(d), Sign::positive);
}

std::string BigIntToBinary(const BigInt& x) {
  const DigitSpan m = Mag(x);
  std::string text;
  text.reserve(m.size() * kDigitBits);
  for (size_t i = m.size(); i-- > 0;) {
    for (uint32_t bit = kDigitBits; bit-- > 0;) text.push_back((m[i] >> bit) & 1 ? '1' : '0');
  }
  const size_t first_one = text.find('1');
  return first_one == std::string::npos ? "0" : text.substr(first_one);
}

BigInt CopyBigInt(const BigInt& x) { return x; }

void ReleaseBigInt(BigInt& x) { x.Number.clear(); }

bool IsZero(const BigInt& x) { return DigitsZero(Mag(x)); }

MagnitudeOrder CompareMagnitude(const BigInt& a, const BigInt& b) {
  const int c = CompareDigits(Mag(a), Mag(b));
  return c > 0 ? MagnitudeOrder::larger : c < 0 ? MagnitudeOrder::smaller : MagnitudeOrder::equal;
}

BigInt AddBigInt(const BigInt& a, const BigInt& b) {
  if (a.Sign == b.Sign) return Make(AddDigits(Mag(a), Mag(b)), a.Sign);
  const int c = CompareDigits(Mag(a), Mag(b));
  if (c == 0) return BigInt{};
  const BigInt& larger = c > 0 ? a : b;
  const BigInt& smaller = c > 0 ? b : a;
  Digits d = ToDigits(larger);
  SubtractDigitsInPlace(d, Mag(smaller));
  return Make(std::move(d), larger.Sign);
}

BigInt SubtractBigInt(const BigInt& a, const BigInt& b) {
  BigInt negated = b;
  negated.Sign = Flip(b.Sign);
  return AddBigInt(a, negated);
}

void SubtractMagnitude(BigInt& a, const BigInt& b) {
  if (CompareDigits(Mag(a), Mag(b)) < 0) {
    throw std::logic_error("SubtractMagnitude: the subtrahend is larger than the minuend");
  }
  Digits d = ToDigits(a);
  SubtractDigitsInPlace(d, Mag(b));
  a = Make(std::move(d), a.Sign);
}

BigInt MultiplyBigInt(const BigInt& a, const BigInt& b) {
  return Make(MultiplyDigits(Mag(a), Mag(b)), a.Sign == b.Sign ? Sign::positive : Sign::negative);
}

BigInt SquareBigInt(const BigInt& a) { return Make(SquareDigits(Mag(a)), Sign::positive); }

void MultiplyBySmall(BigInt& a, uint32_t w) {
  Digits d = ToDigits(a);
  MultiplyDigitsBySmall(d, w);
  a = Make(std::move(d), a.Sign);
}

uint32_t DivideBySmall(BigInt& a, uint32_t w) {
  Digits d = ToDigits(a);
  const uint32_t r = DivideDigitsBySmall(d, w);
  a = Make(std::move(d), a.Sign);
  return r;
}

void ShiftUpDigit(BigInt& a) {
  if (IsZero(a)) return;
  a.Number.insert(a.Number.begin() + 1, 0);
  ++a.Number[0];
}

void ShiftDownDigit(BigInt& a) {
  if (a.Number[0] == 1) {
    a = BigInt{};
    return;
  }
  a.Number.erase(a.Number.begin() + 1);
  --a.Number[0];
}

BigInt RemainderBigInt(const BigInt& a, const BigInt& m) {
  Digits r = DivideDigits(Mag(a), Mag(m)).Remainder;
  if (a.Sign == Sign::negative && !DigitsZero(r)) {
    Digits complement = ToDigits(m);
    SubtractDigitsInPlace(complement, r);
    r = std::move(complement);
  }
  return Make(std::move(r), Sign::positive);
}

DivisionResult DivideWithRemainder(const BigInt& a, const BigInt& b) {
  DigitDivision d = DivideDigits(Mag(a), Mag(b));
  return {Make(std::move(d.Quotient), Sign::positive),
          Make(std::move(d.Remainder), Sign::positive)};
}

BigInt MultiplyModulo(const BigInt& a, const BigInt& b, const BigInt& m) {
  return RemainderBigInt(MultiplyBigInt(a, b), m);
}

BigInt SquareModulo(const BigInt& a, const BigInt& m) {
  return RemainderBigInt(SquareBigInt(a), m);
}

BigInt GreatestCommonDivisor(const BigInt& a, const BigInt& b) {
  switch (CompareMagnitude(a, b)) {
    case MagnitudeOrder::equal:
      return a;
    case MagnitudeOrder::smaller:
      return GreatestCommonDivisor(b, a);
    case MagnitudeOrder::larger:
      break;
  }
  BigInt x = a;
  BigInt y = b;
  while (!IsZero(y)) {
    BigInt r = RemainderBigInt(x, y);
    x = std::move(y);
    y = std::move(r);
  }
  return x;
}

bool InverseModulo(const BigInt& a, const BigInt& m, BigInt& out) {
  if (IsZero(m)) throw std::domain_error("Division by zero");
  const BigInt one = Make({1}, Sign::positive);
  // Everything is congruent to 0 modulo 1, and 0 is its own inverse there. Euclid's steps below
  // would divide by zero.
  if (CompareMagnitude(m, one) == MagnitudeOrder::equal) {
    out = BigInt{};
    return true;
  }
  const BigInt reduced = RemainderBigInt(a, m);
  if (!(GreatestCommonDivisor(reduced, m) == one)) return false;

  // Extended Euclid, tracking only the coefficient of `reduced`.
  BigInt r1 = Make(ToDigits(m), Sign::positive);
  BigInt r2 = reduced;
  BigInt s0;
  BigInt s1 = one;
  for (;;) {
    DivisionResult qr = DivideWithRemainder(r1, r2);
    r1 = std::move(r2);
    r2 = std::move(qr.Remainder);
    BigInt next = SubtractBigInt(s0, MultiplyBigInt(qr.Quotient, s1));
    s0 = std::move(s1);
    s1 = std::move(next);
    if (IsZero(r2)) break;
  }
  if (s0.Sign == Sign::negative) s0 = AddBigInt(s0, Make(ToDigits(m), Sign::positive));
  out = std::move(s0);
  return true;
}

BigInt LowPart(const BigInt& a, uint32_t k, uint32_t mask) {
  if (a.Number[0] < k) return a;
  Digits d(a.Number.begin() + 1, a.Number.begin() + 1 + k);
  d[k - 1] &= mask;
  return Make(std::move(d), a.Sign);
}

BigInt LowProduct(const BigInt& a, const BigInt& b, uint32_t k, uint32_t mask) {
  Digits d = MultiplyDigits(Mag(a), Mag(b), k);
  if (d.size() == k) d[k - 1] &= mask;
  return Make(std::move(d), a.Sign == b.Sign ? Sign::positive : Sign::negative);
}

BigInt MontgomeryReduce(const BigInt& t, const BigInt& m, const BigInt& m_prime, uint32_t k,
                        uint32_t mask) {
  const BigInt u = LowPart(t, k, mask);
  const BigInt v = LowProduct(u, m_prime, k, mask);
  BigInt w = AddBigInt(MultiplyBigInt(v, m), t);  // divisible by R
  // w div R: drop k - 1 whole digits, then the partial top of R.
  Digits d = ToDigits(w);
  d.erase(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(k - 1, d.size())));
  if (mask == kDigitMask) {
    if (!d.empty()) d.erase(d.begin());
  } else {
    Trim(d);
    DivideDigitsBySmall(d, mask + 1);
  }
  Trim(d);
  if (CompareDigits(d, Mag(m)) >= 0) SubtractDigitsInPlace(d, Mag(m));
  return Make(std::move(d), Sign::positive);
}

BigInt PowerModulo(const BigInt& base, const BigInt& exp, const BigInt& m) {
  if (IsZero(m)) throw std::domain_error("Division by zero");
  const std::string bits = BigIntToBinary(exp);

  if ((m.Number[1] & 1) == 0) {
    BigInt result = Make({1}, Sign::positive);
    BigInt p = base;
    for (size_t i = bits.size(); i-- > 0;) {
      if (bits[i] == '1') result = MultiplyModulo(result, p, m);
      p = SquareModulo(p, m);
    }
    return result;
  }

  if (IsZero(RemainderBigInt(base, m))) return BigInt{};

  // R is the smallest power of two above m: 2^(31(k - 1)) * (mask + 1).
  const uint32_t k = m.Number[0];
  const uint32_t top = m.Number[k];
  uint32_t h = 0;
  while ((top >> (h + 1)) != 0) ++h;
  Digits r_digits(k, 0);
  uint32_t mask;
  if (h == kDigitBits - 1) {
    r_digits.push_back(1);
    mask = kDigitMask;
  } else {
    r_digits[k - 1] = uint32_t{1} << (h + 1);
    mask = (uint32_t{1} << (h + 1)) - 1;
  }
  const BigInt r = Make(std::move(r_digits), Sign::positive);
  const BigInt modulus = Make(ToDigits(m), Sign::positive);

  BigInt inverse;
  InverseModulo(modulus, r, inverse);  // m is odd and R a power of two: always invertible
  const BigInt m_prime = SubtractBigInt(r, inverse);

  const BigInt one = RemainderBigInt(r, modulus);
  BigInt p = MultiplyModulo(base, one, modulus);
  BigInt result = one;
  for (size_t i = bits.size(); i-- > 0;) {
    if (bits[i] == '1') {
      result = MontgomeryReduce(MultiplyBigInt(result, p), modulus, m_prime, k, mask);
    }
    if (i > 0) p = MontgomeryReduce(SquareBigInt(p), modulus, m_prime, k, mask);
  }
  return MontgomeryReduce(result, modulus, m_prime, k, mask);
}

}  // namespace brevis
