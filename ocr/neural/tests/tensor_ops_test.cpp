// The operators besides convolution: each family's cases against naive loops written here, or
// against values worked out by hand; shapes that do not fit throw ModelError.
#include "ocr/neural/tensor_ops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace brevis::neural {
namespace {

using Shape = std::vector<int64_t>;

Tensor F(Shape shape, std::vector<float> values) {
  Tensor t;
  t.Shape = std::move(shape);
  t.Floats.assign(values.begin(), values.end());
  return t;
}
Tensor I(Shape shape, std::vector<int64_t> values) {
  Tensor t;
  t.Shape = std::move(shape);
  t.Ints = std::move(values);
  t.IsInt = true;
  return t;
}
// Floats first + step * i, each element distinct.
Tensor Ramp(Shape shape, float first = 1, float step = 1) {
  Tensor t;
  t.Shape = std::move(shape);
  for (int64_t i = 0; i < t.Count(); ++i) t.Floats.push_back(first + step * static_cast<float>(i));
  return t;
}
std::vector<float> Values(const Tensor& t) { return {t.Floats.begin(), t.Floats.end()}; }

void ExpectNear(const Tensor& got, const Shape& shape, const std::vector<float>& expected) {
  ASSERT_EQ(got.Shape, shape);
  ASSERT_FALSE(got.IsInt);
  ASSERT_EQ(got.Floats.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(got.Floats[i], expected[i], 1e-4 * (1 + std::fabs(expected[i]))) << "at " << i;
  }
}

template <typename F>
void ExpectMisfit(F f) {
  EXPECT_THROW(f(), ModelError);
}

// The element of `t` that broadcasts to `index` of a result of rank `rank`.
float At(const Tensor& t, const Shape& index) {
  int64_t offset = 0;
  const std::size_t skip = index.size() - t.Shape.size();
  for (std::size_t i = 0; i < t.Shape.size(); ++i) {
    offset = offset * t.Shape[i] + (t.Shape[i] == 1 ? 0 : index[skip + i]);
  }
  return t.Floats[static_cast<std::size_t>(offset)];
}

// Every index of `shape`, row-major.
std::vector<Shape> Indices(const Shape& shape) {
  std::vector<Shape> all;
  Shape index(shape.size(), 0);
  int64_t count = 1;
  for (const int64_t d : shape) count *= d;
  for (int64_t n = 0; n < count; ++n) {
    all.push_back(index);
    for (std::size_t d = shape.size(); d-- > 0;) {
      if (++index[d] < shape[d]) break;
      index[d] = 0;
    }
  }
  return all;
}

float Apply(Arithmetic op, float x, float y) {
  switch (op) {
    case Arithmetic::kAdd:
      return x + y;
    case Arithmetic::kSub:
      return x - y;
    case Arithmetic::kMul:
      return x * y;
    case Arithmetic::kDiv:
      return x / y;
    case Arithmetic::kPow:
      return std::pow(x, y);
  }
  return 0;
}

TEST(TensorOpsTest, BinaryBroadcastsAsNumpy) {
  struct Case {
    Shape a, b, result;
  };
  const Case kCases[] = {
      {{2, 3, 4}, {2, 3, 4}, {2, 3, 4}},           // same shape
      {{2, 3}, {}, {2, 3}},                        // scalar right
      {{}, {2, 3}, {2, 3}},                        // scalar left
      {{}, {}, {}},                                // two scalars
      {{2, 3, 2, 5}, {1, 3, 1, 1}, {2, 3, 2, 5}},  // per channel
      {{2, 3, 1}, {2, 3, 4}, {2, 3, 4}},           // [N, T, 1] against [N, T, C]
      {{2, 3, 4}, {2, 3, 1}, {2, 3, 4}},
      {{2, 1, 4}, {3, 1}, {2, 3, 4}},  // both sides broadcast, ranks differ
      {{1, 3, 1}, {2, 1, 5}, {2, 3, 5}},
      {{4}, {2, 3, 4}, {2, 3, 4}},  // a row against a block
      {{2, 1, 1}, {1, 1, 1}, {2, 1, 1}},
      {{0, 3}, {1, 3}, {0, 3}},  // empty
  };
  const Arithmetic kOps[] = {Arithmetic::kAdd, Arithmetic::kSub, Arithmetic::kMul, Arithmetic::kDiv,
                             Arithmetic::kPow};
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.a) + " with " + ::testing::PrintToString(c.b));
    const Tensor a = Ramp(c.a, 1.0f, 0.25f), b = Ramp(c.b, 0.5f, 0.125f);
    for (const Arithmetic op : kOps) {
      SCOPED_TRACE(static_cast<int>(op));
      std::vector<float> expected;
      for (const Shape& index : Indices(c.result))
        expected.push_back(Apply(op, At(a, index), At(b, index)));
      ExpectNear(Binary(op, a, b), c.result, expected);
      // In place in an operand of the result's shape; an operand of another shape is left alone.
      Tensor left = a, right = b;
      ExpectNear(Binary(op, left, b, &left), c.result, expected);
      ExpectNear(Binary(op, a, right, &right), c.result, expected);
      if (c.a != c.result) {
        EXPECT_EQ(Values(left), Values(a));
      }
      if (c.b != c.result) {
        EXPECT_EQ(Values(right), Values(b));
      }
    }
  }
}

TEST(TensorOpsTest, BinaryOnIntegersAndMisfits) {
  const Tensor sum = Binary(Arithmetic::kAdd, I({2, 1}, {10, 20}), I({3}, {1, 2, 3}));
  EXPECT_TRUE(sum.IsInt);
  EXPECT_EQ(sum.Shape, (Shape{2, 3}));
  EXPECT_EQ(sum.Ints, (std::vector<int64_t>{11, 12, 13, 21, 22, 23}));
  EXPECT_EQ(Binary(Arithmetic::kMul, I({2}, {-3, 4}), I({}, {1LL << 40})).Ints,
            (std::vector<int64_t>{-3LL << 40, 4LL << 40}));
  EXPECT_EQ(Binary(Arithmetic::kDiv, I({2}, {12, -9}), I({}, {3})).Ints,
            (std::vector<int64_t>{4, -3}));
  ExpectMisfit([] { Binary(Arithmetic::kDiv, I({2}, {1, 2}), I({2}, {1, 0})); });
  ExpectMisfit([] { Binary(Arithmetic::kAdd, F({2, 3}, {1, 2, 3, 4, 5, 6}), Ramp({3, 2})); });
  ExpectMisfit([] { Binary(Arithmetic::kAdd, F({2}, {1, 2}), I({2}, {1, 2})); });
}

TEST(TensorOpsTest, ShapeOperators) {
  const Tensor x = Ramp({2, 3, 4}, 0);  // element i holds i
  // Transpose against the index arithmetic of the permutation.
  const Tensor t = Transpose(x, {2, 0, 1});
  ASSERT_EQ(t.Shape, (Shape{4, 2, 3}));
  for (int64_t i = 0; i < 4; ++i) {
    for (int64_t n = 0; n < 2; ++n) {
      for (int64_t j = 0; j < 3; ++j) {
        EXPECT_EQ(t.Floats[static_cast<std::size_t>((i * 2 + n) * 3 + j)],
                  static_cast<float>((n * 3 + j) * 4 + i));
      }
    }
  }
  ExpectNear(Transpose(Ramp({2, 3}, 0), {}), {3, 2}, {0, 3, 1, 4, 2, 5});
  ExpectNear(Transpose(Ramp({2, 3}, 0), {-1, 0}), {3, 2}, {0, 3, 1, 4, 2, 5});
  ExpectMisfit([&] { Transpose(x, {0, 0, 1}); });
  ExpectMisfit([&] { Transpose(x, {1, 0}); });
  ExpectMisfit([&] { Transpose(x, {0, 1, 3}); });

  // Reshape: 0 keeps the axis, -1 takes the rest; the values stay in order.
  struct ReshapeCase {
    Shape to, result;
  };
  const ReshapeCase kReshapes[] = {
      {{0, -1}, {2, 12}}, {{-1, 4}, {6, 4}}, {{0, 0, 2, 2}, {2, 3, 2, 2}},
      {{24}, {24}},       {{-1}, {24}},
  };
  for (const ReshapeCase& c : kReshapes) {
    const Tensor r = Reshape(x, c.to);
    EXPECT_EQ(r.Shape, c.result);
    EXPECT_EQ(Values(r), Values(x));
  }
  const Shape kBadReshapes[] = {
      {-1, -1}, {5, -1}, {5, 5}, {0, 0, 0, 0}, {-2, 12}, {0, 0, -1, 0, 0},
  };
  for (const Shape& to : kBadReshapes) {
    SCOPED_TRACE(::testing::PrintToString(to));
    ExpectMisfit([&] { Reshape(x, to); });
  }
  // Dimensions whose product wraps around 2^64 to the count: 3 * (2^64 + 2) / 3.
  ExpectMisfit([] { Reshape(Ramp({2}), {3, 6148914691236517206}); });

  // Squeeze and Unsqueeze.
  struct AxesCase {
    bool squeeze;
    Shape from, axes, result;
  };
  const AxesCase kAxes[] = {
      {true, {1, 3, 1, 2}, {}, {3, 2}},     {true, {1, 3, 1, 2}, {-2}, {1, 3, 2}},
      {true, {1, 3, 1, 2}, {0, 2}, {3, 2}}, {false, {3, 2}, {0, -1}, {1, 3, 2, 1}},
      {false, {3, 2}, {1}, {3, 1, 2}},      {false, {}, {0}, {1}},
  };
  for (const AxesCase& c : kAxes) {
    SCOPED_TRACE(::testing::PrintToString(c.from) + ::testing::PrintToString(c.axes));
    const Tensor in = Ramp(c.from);
    const Tensor out = c.squeeze ? Squeeze(in, c.axes) : Unsqueeze(in, c.axes);
    EXPECT_EQ(out.Shape, c.result);
    EXPECT_EQ(Values(out), Values(in));
  }
  ExpectMisfit([] { Squeeze(Ramp({1, 3}), {1}); });
  ExpectMisfit([] { Squeeze(Ramp({1, 3}), {2}); });
  ExpectMisfit([] { Unsqueeze(Ramp({3}), {0, 0}); });
  ExpectMisfit([] { Unsqueeze(Ramp({3}), {2}); });

  // Concat along the middle axis and a negative one; integers too.
  const Tensor narrow = Ramp({2, 1, 2}, 0), wide = Ramp({2, 2, 2}, 10);
  ExpectNear(Concat({&narrow, &wide}, 1), {2, 3, 2}, {0, 1, 10, 11, 12, 13, 2, 3, 14, 15, 16, 17});
  const Tensor a = Ramp({2, 2}, 0), b = Ramp({2, 1}, 5);
  ExpectNear(Concat({&a, &b}, -1), {2, 3}, {0, 1, 5, 2, 3, 6});
  const Tensor i1 = I({1}, {4}), i2 = I({2}, {-1, 7});
  EXPECT_EQ(Concat({&i1, &i2}, 0).Ints, (std::vector<int64_t>{4, -1, 7}));
  ExpectMisfit([&] { Concat({&a, &b}, 0); });
  ExpectMisfit([&] { Concat({&a, &i2}, 0); });
  ExpectMisfit([&] { Concat({&a, &b}, 2); });
  ExpectMisfit([] { Concat({}, 0); });
}

TEST(TensorOpsTest, SliceClampsAndSteps) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  struct Case {
    const char* name;
    Shape from, starts, ends, axes, steps, result;
    std::vector<float> values;
  };
  const Case kCases[] = {
      {"plain", {10}, {2}, {5}, {}, {}, {3}, {2, 3, 4}},
      {"negative start", {10}, {-3}, {kMax}, {}, {}, {3}, {7, 8, 9}},
      {"negative end", {10}, {0}, {-8}, {0}, {1}, {2}, {0, 1}},
      {"clamped both ways", {10}, {-100}, {100}, {}, {}, {10}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"start past the end", {10}, {12}, {20}, {}, {}, {0}, {}},
      {"end before start", {10}, {5}, {2}, {}, {3}, {0}, {}},
      {"step 3", {10}, {1}, {10}, {0}, {3}, {3}, {1, 4, 7}},
      {"step past the end", {10}, {0}, {10}, {0}, {kMax}, {1}, {0}},
      {"backwards", {10}, {-1}, {kMin}, {0}, {-1}, {10}, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
      {"backwards by 2", {10}, {8}, {2}, {0}, {-2}, {3}, {8, 6, 4}},
      {"backwards, huge step", {10}, {kMax}, {kMin}, {0}, {kMin}, {1}, {9}},
      {"columns", {3, 4}, {1}, {3}, {1}, {}, {3, 2}, {1, 2, 5, 6, 9, 10}},
      {"negative axis", {3, 4}, {1}, {3}, {-2}, {}, {2, 4}, {4, 5, 6, 7, 8, 9, 10, 11}},
      {"two axes", {3, 4}, {2, 3}, {kMin, 0}, {0, 1}, {-2, -3}, {2, 1}, {11, 3}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ExpectNear(Slice(Ramp(c.from, 0), c.starts, c.ends, c.axes, c.steps), c.result, c.values);
  }
  const Tensor x = Ramp({3, 4});
  ExpectMisfit([&] { Slice(x, {0}, {1}, {0}, {0}); });
  ExpectMisfit([&] { Slice(x, {0}, {1}, {2}, {}); });
  ExpectMisfit([&] { Slice(x, {0, 0}, {1}, {}, {}); });
  ExpectMisfit([&] { Slice(x, {0}, {1}, {0, 1}, {}); });
  // Integers slice too.
  EXPECT_EQ(Slice(I({4}, {1, 2, 3, 4}), {-2}, {kMax}, {}, {}).Ints, (std::vector<int64_t>{3, 4}));
}

// A naive product over the last two axes, the batch axes broadcast.
TEST(TensorOpsTest, MatMulBroadcastsItsBatch) {
  struct Case {
    Shape a, b, result;
  };
  const Case kCases[] = {
      {{3, 4}, {4, 2}, {3, 2}},
      {{2, 3, 4}, {4, 5}, {2, 3, 5}},
      {{2, 1, 3, 4}, {3, 4, 5}, {2, 3, 3, 5}},
      {{1, 2, 4}, {3, 1, 4, 2}, {3, 1, 2, 2}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.a) + " by " + ::testing::PrintToString(c.b));
    const Tensor a = Ramp(c.a, -1.0f, 0.125f), b = Ramp(c.b, 0.5f, -0.0625f);
    const int64_t k = c.a.back();
    std::vector<float> expected;
    for (const Shape& index : Indices(c.result)) {
      Shape ai = index, bi = index;
      float sum = 0;
      for (int64_t j = 0; j < k; ++j) {
        ai.back() = j;
        bi[bi.size() - 2] = j;
        sum += At(a, ai) * At(b, bi);
      }
      expected.push_back(sum);
    }
    ExpectNear(MatMul(a, b), c.result, expected);
  }
  ExpectMisfit([] { MatMul(Ramp({3, 4}), Ramp({3, 4})); });
  ExpectMisfit([] { MatMul(Ramp({4}), Ramp({4, 2})); });
  ExpectMisfit([] { MatMul(Ramp({2, 3, 4}), Ramp({3, 4, 2})); });
}

TEST(TensorOpsTest, PoolingMeansAndResize) {
  const Tensor x = Ramp({2, 3, 4}, 0);
  ExpectNear(ReduceMean(x, {-1}, true), {2, 3, 1}, {1.5, 5.5, 9.5, 13.5, 17.5, 21.5});
  ExpectNear(ReduceMean(x, {1, 2}, false), {2}, {5.5, 17.5});
  ExpectNear(ReduceMean(x, {-2, -1}, true), {2, 1, 1}, {5.5, 17.5});
  ExpectMisfit([&] { ReduceMean(x, {0}, true); });
  ExpectMisfit([&] { ReduceMean(x, {3}, true); });
  ExpectMisfit([&] { ReduceMean(x, {}, true); });

  // A 4 x 4 plane of 0..15, then the same plus 16 as a second channel.
  const Tensor image = Ramp({1, 2, 4, 4}, 0);
  struct PoolCase {
    const char* name;
    Shape kernel, strides, pads;
    bool countPads;
    Shape result;
    std::vector<float> plane;  // the first channel's
  };
  const PoolCase kPools[] = {
      {"2 by 2", {2, 2}, {2, 2}, {0, 0, 0, 0}, false, {1, 2, 2, 2}, {2.5, 4.5, 10.5, 12.5}},
      {"3 by 1, stride 1 and 3", {3, 1}, {1, 3}, {0, 0, 0, 0}, false, {1, 2, 2, 2}, {4, 7, 8, 11}},
      // Padded: the corners average 1 pixel of 4, or count the pads as zeros.
      {"pads not counted", {2, 2}, {3, 3}, {1, 1, 1, 1}, false, {1, 2, 2, 2}, {0, 2.5, 10, 12.5}},
      {"pads counted", {2, 2}, {3, 3}, {1, 1, 1, 1}, true, {1, 2, 2, 2}, {0, 1.25, 5, 12.5}},
  };
  for (const PoolCase& c : kPools) {
    SCOPED_TRACE(c.name);
    const Tensor pooled = AveragePool(image, c.kernel, c.strides, c.pads, c.countPads);
    ASSERT_EQ(pooled.Shape, c.result);
    const std::vector<float> plane(pooled.Floats.begin(), pooled.Floats.begin() + 4);
    EXPECT_EQ(plane, c.plane);
    // The second channel is the first plus 16 where the pads are not counted.
    if (!c.countPads) {
      EXPECT_EQ(pooled.Floats[4], c.plane[0] + 16);
    }
  }
  ExpectMisfit([&] { AveragePool(image, {5, 5}, {1, 1}, {0, 0, 0, 0}, false); });
  ExpectMisfit([&] { AveragePool(image, {2, 2}, {0, 1}, {0, 0, 0, 0}, false); });
  ExpectMisfit([&] { AveragePool(Ramp({4, 4}), {2, 2}, {1, 1}, {0, 0, 0, 0}, false); });

  // Nearest pixel below: each of a 2 x 3 plane's pixels becomes 2 x 2 (3 x 1).
  ExpectNear(ResizeNearest(Ramp({1, 1, 2, 3}, 0), {1, 1, 2, 2}), {1, 1, 4, 6},
             {0, 0, 1, 1, 2, 2, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 3, 3, 4, 4, 5, 5});
  ExpectNear(ResizeNearest(Ramp({1, 2, 1, 2}, 0), {1, 1, 3, 1}), {1, 2, 3, 2},
             {0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3});
  const Floats kBadScales[] = {{2, 1, 2, 2},   {1, 2, 2, 2},  {1, 1, 0, 2},
                               {1, 1, 2, NAN}, {1, 1, 2, 65}, {1, 1, 2}};
  for (const Floats& scales : kBadScales) {
    ExpectMisfit([&] { ResizeNearest(Ramp({1, 1, 2, 2}), scales); });
  }
}

TEST(TensorOpsTest, CastBoundsFloatsItCannotRepresent) {
  const float inf = std::numeric_limits<float>::infinity();
  const Tensor floats = F({7}, {1.7f, -1.7f, NAN, 1e30f, -1e30f, inf, -inf});
  const Tensor ints = Cast(floats, 7);
  ASSERT_TRUE(ints.IsInt);
  EXPECT_EQ(ints.Shape, (Shape{7}));
  ASSERT_EQ(ints.Ints.size(), 7u);
  EXPECT_EQ(ints.Ints[0], 1);
  EXPECT_EQ(ints.Ints[1], -1);
  EXPECT_EQ(ints.Ints[2], 0);  // NaN
  for (const std::size_t i : {3u, 5u}) EXPECT_GT(ints.Ints[i], 9'000'000'000'000'000'000) << i;
  for (const std::size_t i : {4u, 6u}) EXPECT_LT(ints.Ints[i], -9'000'000'000'000'000'000) << i;
  // A boolean is true for every float but zero, NaN and fractions included.
  EXPECT_EQ(Cast(F({4}, {0.0f, -0.5f, 2.0f, NAN}), 9).Ints, (std::vector<int64_t>{0, 1, 1, 1}));
  EXPECT_EQ(Cast(I({3}, {0, -4, 2}), 9).Ints, (std::vector<int64_t>{0, 1, 1}));
  const Tensor back = Cast(I({1, 2}, {-3, 1LL << 24}), 1);
  ExpectNear(back, {1, 2}, {-3, 16777216});
  EXPECT_EQ(Cast(I({2}, {5, 6}), 6).Ints, (std::vector<int64_t>{5, 6}));
  ExpectMisfit([] { Cast(F({1}, {1}), 11); });
  ExpectMisfit([] { Cast(I({1}, {1}), 10); });
}

}  // namespace
}  // namespace brevis::neural
