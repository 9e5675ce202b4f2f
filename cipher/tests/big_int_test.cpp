// Big integers: fixed cases, then every operation checked against GMP on random operands.
#include "cipher/big_int.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>

namespace brevis {
namespace {

BigInt Dec(const std::string& s) { return DecimalToBigInt(s); }

// Fixed cases.

TEST(BigIntTest, DecimalConversion) {
  struct Case {
    const char* text;
    const char* decimal;
    Sign sign;
  };
  const Case cases[] = {
      {"007", "7", Sign::positive},
      {"-12", "-12", Sign::negative},
      {"ab12", "12", Sign::positive},
      {"0", "0", Sign::positive},
      {"-0", "0", Sign::positive},  // zero is never negative
      {"10000", "10000", Sign::positive},
      {"123456789", "123456789", Sign::positive},
      {"2147483648", "2147483648", Sign::positive},  // exactly one digit carry
      {"1234567890123456789012345678901234567890", "1234567890123456789012345678901234567890",
       Sign::positive},
      {"  -000000000000000000001", "-1", Sign::negative},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const BigInt x = Dec(c.text);
    EXPECT_EQ(BigIntToDecimal(x), c.decimal);
    EXPECT_EQ(x.Sign, c.sign);
    EXPECT_EQ(x.Number.size(), x.Number[0] + 1u);  // normal form
  }
}

TEST(BigIntTest, DecimalConversionErrors) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"1a23", "'1a23' is not a valid integer value"},
      {"", "'' is not a valid integer value"},
      {"-", "'' is not a valid integer value"},
      {"x", "'x' is not a valid integer value"},
      {"--5", "'-5' is not a valid integer value"},
      {"12345 678", "' 678' is not a valid integer value"},  // groups of four from the right
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      Dec(c.text);
      ADD_FAILURE() << "no error";
    } catch (const ConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  // A non-ASCII digit is not a decimal digit.
  EXPECT_THROW(DecimalToBigInt(u"1\u0661"), ConvertError);
}

TEST(BigIntTest, NegativeZeroFromRawDigitsPrintsSign) {
  BigInt x;
  x.Sign = Sign::negative;
  EXPECT_EQ(BigIntToDecimal(x), "-0");
  EXPECT_EQ(BigIntToDecimal(Dec("-5")), "-5");
}

TEST(BigIntTest, BinaryConversion) {
  EXPECT_EQ(BigIntToBinary(BinaryToBigInt("000101")), "101");
  EXPECT_EQ(BigIntToBinary(BinaryToBigInt("0")), "0");
  EXPECT_EQ(BigIntToBinary(BinaryToBigInt("")), "0");
  EXPECT_EQ(BigIntToDecimal(BinaryToBigInt("1x1")), "5");  // other characters are 0 bits
  const std::string bits32 = "1" + std::string(31, '0');
  const BigInt two31 = BinaryToBigInt(bits32);
  EXPECT_EQ(two31.Number, (std::vector<uint32_t>{2, 0, 1}));
  EXPECT_EQ(BigIntToBinary(two31), bits32);
  EXPECT_EQ(BigIntToBinary(Dec("-6")), "110");
}

TEST(BigIntTest, SmallWordAndDigitShifts) {
  BigInt x = Dec("2147483647");     // 2^31 - 1
  MultiplyBySmall(x, 0xFFFFFFFFu);  // the carry needs two digits
  EXPECT_EQ(BigIntToDecimal(x), "9223372030412324865");
  EXPECT_EQ(DivideBySmall(x, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(BigIntToDecimal(x), "2147483647");
  EXPECT_THROW(DivideBySmall(x, 0), std::domain_error);

  BigInt y = Dec("5");
  ShiftUpDigit(y);
  EXPECT_EQ(BigIntToDecimal(y), "10737418240");
  ShiftDownDigit(y);
  ShiftDownDigit(y);
  EXPECT_TRUE(IsZero(y));
  BigInt z;
  ShiftUpDigit(z);
  EXPECT_EQ(z, BigInt{});  // zero stays in normal form
}

TEST(BigIntTest, RemainderAndPowerEdgeCases) {
  EXPECT_EQ(BigIntToDecimal(RemainderBigInt(Dec("-7"), Dec("5"))), "3");
  EXPECT_EQ(BigIntToDecimal(RemainderBigInt(Dec("-10"), Dec("5"))), "0");
  EXPECT_THROW(RemainderBigInt(Dec("7"), Dec("0")), std::domain_error);
  EXPECT_THROW(PowerModulo(Dec("7"), Dec("2"), Dec("0")), std::domain_error);

  struct Case {
    const char* base;
    const char* exp;
    const char* m;
    const char* result;
  };
  const Case cases[] = {
      {"4", "13", "497", "445"},  // Montgomery
      {"3", "5", "10", "3"},      // even modulus
      {"994", "7", "497", "0"},   // multiple of an odd m
      {"0", "0", "497", "0"},     // ... whatever the exponent
      {"5", "0", "497", "1"},
      {"5", "0", "10", "1"},
      {"123", "456", "1", "0"},
      {"3", "1000", "2147483647", "1651151508"},  // top digit has bit 30 set: R one digit longer
      {"-3", "3", "7", "1"},                      // (-27) mod 7
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.base) + "^" + c.exp + " mod " + c.m);
    EXPECT_EQ(BigIntToDecimal(PowerModulo(Dec(c.base), Dec(c.exp), Dec(c.m))), c.result);
  }
}

TEST(BigIntTest, InverseModulo) {
  BigInt out = Dec("99");
  EXPECT_TRUE(InverseModulo(Dec("3"), Dec("7"), out));
  EXPECT_EQ(BigIntToDecimal(out), "5");
  EXPECT_TRUE(InverseModulo(Dec("17"), Dec("2668"), out));  // the cipher's key pair
  EXPECT_EQ(BigIntToDecimal(out), "157");
  out = Dec("99");
  EXPECT_FALSE(InverseModulo(Dec("6"), Dec("9"), out));
  EXPECT_EQ(BigIntToDecimal(out), "99");  // untouched without an inverse
  EXPECT_TRUE(InverseModulo(Dec("0"), Dec("1"), out));
  EXPECT_EQ(BigIntToDecimal(out), "0");
  EXPECT_TRUE(InverseModulo(Dec("-3"), Dec("7"), out));
  EXPECT_EQ(BigIntToDecimal(out), "2");
}

TEST(BigIntTest, SubtractMagnitudeRequiresLargerMinuend) {
  BigInt a = Dec("-10");
  SubtractMagnitude(a, Dec("3"));
  EXPECT_EQ(BigIntToDecimal(a), "-7");
  EXPECT_THROW(SubtractMagnitude(a, Dec("8")), std::logic_error);
}

// Against GMP.

struct Mpz {
  mpz_t v;
  Mpz() { mpz_init(v); }
  explicit Mpz(const std::string& dec) { mpz_init_set_str(v, dec.c_str(), 10); }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
  std::string Str(int base = 10) const {
    std::unique_ptr<char, void (*)(void*)> s(mpz_get_str(nullptr, base, v), free);
    return s.get();
  }
};

class Operands {
 public:
  explicit Operands(uint32_t seed) : rng_(seed) {}

  // 1 to 80 decimal digits; now and then a value right at a digit boundary.
  std::string Magnitude() {
    switch (Pick(8)) {
      case 0: {  // 2^(31j) + {-1, 0, 1}
        Mpz x;
        mpz_ui_pow_ui(x.v, 2, 31 * (1 + Pick(8)));
        const uint32_t delta = Pick(3);
        if (delta == 0) mpz_sub_ui(x.v, x.v, 1);
        if (delta == 2) mpz_add_ui(x.v, x.v, 1);
        return x.Str();
      }
      default: {
        const uint32_t len = 1 + Pick(80);
        std::string s(1, static_cast<char>('1' + Pick(9)));
        for (uint32_t i = 1; i < len; ++i) s.push_back(static_cast<char>('0' + Pick(10)));
        return Pick(20) == 0 ? "0" : s;
      }
    }
  }
  std::string Signed() {
    std::string s = Magnitude();
    if (Pick(2)) s.insert(s.begin(), '-');
    return s;
  }
  uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
  uint32_t Word() { return std::uniform_int_distribution<uint32_t>(1, 0xFFFFFFFFu)(rng_); }

 private:
  std::mt19937 rng_;
};

std::string Canonical(const std::string& dec) { return Mpz(dec).Str(); }

constexpr int kRounds = 3000;

TEST(BigIntOracleTest, ConversionsAndComparison) {
  Operands ops(1);
  for (int i = 0; i < kRounds; ++i) {
    const std::string a = ops.Signed();
    const std::string b = ops.Signed();
    SCOPED_TRACE(a + " " + b);
    const Mpz ma(a);
    const Mpz mb(b);
    ASSERT_EQ(BigIntToDecimal(Dec(a)), Canonical(a));
    Mpz magnitude;
    mpz_abs(magnitude.v, ma.v);
    ASSERT_EQ(BigIntToBinary(Dec(a)), magnitude.Str(2));
    ASSERT_EQ(BigIntToDecimal(BinaryToBigInt(BigIntToBinary(Dec(b)))),
              Canonical(b.substr(b[0] == '-')));
    const int expected = mpz_cmpabs(ma.v, mb.v);
    const MagnitudeOrder order = CompareMagnitude(Dec(a), Dec(b));
    ASSERT_EQ(order, expected > 0   ? MagnitudeOrder::larger
                     : expected < 0 ? MagnitudeOrder::smaller
                                    : MagnitudeOrder::equal);
  }
}

TEST(BigIntOracleTest, RingOperations) {
  Operands ops(2);
  for (int i = 0; i < kRounds; ++i) {
    const std::string a = ops.Signed();
    const std::string b = ops.Signed();
    SCOPED_TRACE(a + " " + b);
    const Mpz ma(a);
    const Mpz mb(b);
    Mpz r;
    mpz_add(r.v, ma.v, mb.v);
    ASSERT_EQ(BigIntToDecimal(AddBigInt(Dec(a), Dec(b))), r.Str());
    mpz_sub(r.v, ma.v, mb.v);
    ASSERT_EQ(BigIntToDecimal(SubtractBigInt(Dec(a), Dec(b))), r.Str());
    mpz_mul(r.v, ma.v, mb.v);
    ASSERT_EQ(BigIntToDecimal(MultiplyBigInt(Dec(a), Dec(b))), r.Str());
    mpz_mul(r.v, ma.v, ma.v);
    ASSERT_EQ(BigIntToDecimal(SquareBigInt(Dec(a))), r.Str());

    const uint32_t w = ops.Word();
    BigInt x = Dec(a);
    MultiplyBySmall(x, w);
    mpz_mul_ui(r.v, ma.v, w);
    ASSERT_EQ(BigIntToDecimal(x), r.Str());
    x = Dec(a);
    const uint32_t rem = DivideBySmall(x, w);
    mpz_tdiv_q_ui(r.v, ma.v, w);
    ASSERT_EQ(BigIntToDecimal(x), r.Str());
    ASSERT_EQ(rem, mpz_tdiv_ui(ma.v, w));
  }
}

TEST(BigIntOracleTest, DivisionGcdAndInverse) {
  Operands ops(3);
  for (int i = 0; i < kRounds; ++i) {
    const std::string a = ops.Signed();
    std::string m = ops.Magnitude();
    if (m == "0") m = "1";
    SCOPED_TRACE(a + " mod " + m);
    const Mpz ma(a);
    const Mpz mm(m);
    Mpz r;
    mpz_mod(r.v, ma.v, mm.v);
    ASSERT_EQ(BigIntToDecimal(RemainderBigInt(Dec(a), Dec(m))), r.Str());

    const std::string na = a.substr(a[0] == '-');
    const Mpz mna(na);
    Mpz q;
    mpz_tdiv_qr(q.v, r.v, mna.v, mm.v);
    const DivisionResult qr = DivideWithRemainder(Dec(na), Dec(m));
    ASSERT_EQ(BigIntToDecimal(qr.Quotient), q.Str());
    ASSERT_EQ(BigIntToDecimal(qr.Remainder), r.Str());

    mpz_gcd(r.v, mna.v, mm.v);
    ASSERT_EQ(BigIntToDecimal(GreatestCommonDivisor(Dec(na), Dec(m))), r.Str());

    BigInt inverse = Dec("12345");
    const bool exists = mpz_invert(r.v, mna.v, mm.v) != 0 || m == "1";
    ASSERT_EQ(InverseModulo(Dec(na), Dec(m), inverse), exists);
    ASSERT_EQ(BigIntToDecimal(inverse), exists ? (m == "1" ? "0" : r.Str()) : "12345");

    const std::string b = ops.Signed();
    const Mpz mb(b);
    mpz_mul(r.v, ma.v, mb.v);
    mpz_mod(r.v, r.v, mm.v);
    ASSERT_EQ(BigIntToDecimal(MultiplyModulo(Dec(a), Dec(b), Dec(m))), r.Str());
    mpz_mul(r.v, ma.v, ma.v);
    mpz_mod(r.v, r.v, mm.v);
    ASSERT_EQ(BigIntToDecimal(SquareModulo(Dec(a), Dec(m))), r.Str());
  }
}

TEST(BigIntOracleTest, PowerModuloBothPaths) {
  Operands ops(4);
  int odd = 0;
  int top_bit_30 = 0;
  for (int i = 0; i < kRounds; ++i) {
    const std::string base = ops.Magnitude();
    std::string exp = ops.Magnitude();
    if (exp.size() > 30) exp.resize(30);  // keeps the run short; the size of m is what matters
    Mpz mm(ops.Magnitude());
    if (mpz_sgn(mm.v) == 0) mpz_set_ui(mm.v, 2);
    if (ops.Pick(2)) mpz_setbit(mm.v, 0);  // half odd (Montgomery), the rest mostly even
    if (ops.Pick(4) == 0) {
      // Top digit with bit 30 set: R is then one digit longer than m.
      const size_t bits = mpz_sizeinbase(mm.v, 2);
      mpz_setbit(mm.v, ((bits + 30) / 31) * 31 - 1);
    }
    const std::string m = mm.Str();
    SCOPED_TRACE(base + "^" + exp + " mod " + m);
    odd += mpz_odd_p(mm.v) ? 1 : 0;
    top_bit_30 += (mpz_sizeinbase(mm.v, 2) % 31 == 0) ? 1 : 0;
    const Mpz mbase(base);
    const Mpz mexp(exp);
    Mpz r;
    mpz_powm(r.v, mbase.v, mexp.v, mm.v);
    // A base that is a multiple of an odd m gives zero even for the exponent 0.
    if (mpz_odd_p(mm.v) && mpz_divisible_p(mbase.v, mm.v)) mpz_set_ui(r.v, 0);
    ASSERT_EQ(BigIntToDecimal(PowerModulo(Dec(base), Dec(exp), Dec(m))), r.Str());
  }
  EXPECT_GT(odd, kRounds / 3);
  EXPECT_GT(top_bit_30, kRounds / 10);
}

}  // namespace
}  // namespace brevis
