// Big integers against GMP: x^e mod n at the request cipher's sizes (n = 2773, the exponents 17
// and 157, one call per code unit), the cipher's Encrypt of a 12-digit number, and the product
// of two random numbers of 2048 and of 32768 bits.
#include <benchmark/benchmark.h>
#include <gmp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cipher/big_int.h"
#include "cipher/rsa.h"

namespace {

using brevis::BigInt;

// A GMP integer that frees itself.
class GmpNumber {
 public:
  GmpNumber() { mpz_init(value_); }
  explicit GmpNumber(const std::string& binary) { mpz_init_set_str(value_, binary.c_str(), 2); }
  ~GmpNumber() { mpz_clear(value_); }
  GmpNumber(const GmpNumber&) = delete;
  GmpNumber& operator=(const GmpNumber&) = delete;
  mpz_ptr get() { return value_; }
  std::string Binary() const {
    char* text = mpz_get_str(nullptr, 2, value_);
    std::string result(text);
    void (*release)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &release);
    release(text, result.size() + 1);
    return result;
  }

 private:
  mpz_t value_;
};

// `bits` random bits, the first one set.
std::string RandomBinary(int bits, unsigned seed) {
  std::mt19937 random(seed);
  std::string text = "1";
  for (int i = 1; i < bits; ++i) text += (random() & 1) != 0 ? '1' : '0';
  return text;
}

[[noreturn]] void Differs(const char* what) {
  std::fprintf(stderr, "cipher_bench: %s differs from GMP's\n", what);
  std::exit(1);
}

// Every code unit below n in turn, raised to the exponent state.range(0) modulo n.
void OursPowerModulo(benchmark::State& state) {
  const BigInt n = brevis::DecimalToBigInt(std::to_string(brevis::kAppKeyN));
  const BigInt e = brevis::DecimalToBigInt(std::to_string(state.range(0)));
  std::vector<BigInt> units;
  for (int v = 0; v < brevis::kAppKeyN; ++v) {
    units.push_back(brevis::DecimalToBigInt(std::to_string(v)));
  }
  std::size_t x = 1;
  for (auto _ : state) {
    BigInt y = brevis::PowerModulo(units[x], e, n);
    benchmark::DoNotOptimize(y.Number.data());
    x = x % (units.size() - 1) + 1;
  }
  // The whole range against GMP, once.
  GmpNumber gn, ge, gx, gy;
  mpz_set_si(gn.get(), brevis::kAppKeyN);
  mpz_set_si(ge.get(), static_cast<long>(state.range(0)));
  for (int v = 0; v < brevis::kAppKeyN; ++v) {
    mpz_set_si(gx.get(), v);
    mpz_powm(gy.get(), gx.get(), ge.get(), gn.get());
    const BigInt ours = brevis::PowerModulo(units[static_cast<std::size_t>(v)], e, n);
    if (brevis::BigIntToBinary(ours) != gy.Binary()) Differs("x^e mod n");
  }
}

void GmpPowerModulo(benchmark::State& state) {
  GmpNumber n, e, x, y;
  mpz_set_si(n.get(), brevis::kAppKeyN);
  mpz_set_si(e.get(), static_cast<long>(state.range(0)));
  long v = 1;
  for (auto _ : state) {
    mpz_set_si(x.get(), v);
    mpz_powm(y.get(), x.get(), e.get(), n.get());
    benchmark::DoNotOptimize(y.get());
    v = v % (brevis::kAppKeyN - 1) + 1;
  }
}

// What the lookup enciphers: twelve digits, one exponentiation each.
void OursEncryptNumber(benchmark::State& state) {
  const brevis::RSA cipher(brevis::kAppKeyN, brevis::kAppKeyE, brevis::kAppKeyD);
  for (auto _ : state) {
    std::u16string text = cipher.Encrypt(u"200710038426");
    benchmark::DoNotOptimize(text.data());
  }
}

void OursMultiply(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  const BigInt a = brevis::BinaryToBigInt(RandomBinary(bits, 1));
  const BigInt b = brevis::BinaryToBigInt(RandomBinary(bits, 2));
  BigInt product;
  for (auto _ : state) {
    product = brevis::MultiplyBigInt(a, b);
    benchmark::DoNotOptimize(product.Number.data());
  }
  GmpNumber ga(RandomBinary(bits, 1)), gb(RandomBinary(bits, 2)), gp;
  mpz_mul(gp.get(), ga.get(), gb.get());
  if (brevis::BigIntToBinary(product) != gp.Binary()) Differs("the product");
}

void GmpMultiply(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  GmpNumber a(RandomBinary(bits, 1)), b(RandomBinary(bits, 2)), product;
  for (auto _ : state) {
    mpz_mul(product.get(), a.get(), b.get());
    benchmark::DoNotOptimize(product.get());
  }
}

}  // namespace

BENCHMARK(OursPowerModulo)->Arg(brevis::kAppKeyE)->Arg(brevis::kAppKeyD);
BENCHMARK(GmpPowerModulo)->Arg(brevis::kAppKeyE)->Arg(brevis::kAppKeyD);
BENCHMARK(OursEncryptNumber);
BENCHMARK(OursMultiply)->Arg(2048)->Arg(32768);
BENCHMARK(GmpMultiply)->Arg(2048)->Arg(32768);

BENCHMARK_MAIN();
