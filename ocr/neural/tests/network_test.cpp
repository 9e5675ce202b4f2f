// Network: small models written by the test encoder, run against naive loops written here
// (convolutions plain, grouped and transposed, element-wise chains, the shape arithmetic in front
// of a reshape); models it does not compute refused when it is built.
#include "ocr/neural/network.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "ocr/neural/tests/onnx_bytes.h"

namespace brevis::neural {
namespace {

using namespace test;
using Shape = std::vector<int64_t>;

int64_t Count(const Shape& shape) {
  int64_t count = 1;
  for (const int64_t d : shape) count *= d;
  return count;
}

// Values in [-1, 1) from a fixed sequence, different for each seed.
std::vector<float> Noise(int64_t count, uint32_t seed) {
  std::vector<float> values;
  uint32_t state = seed * 2654435761u + 1;
  for (int64_t i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    values.push_back(static_cast<float>(state >> 8) / static_cast<float>(1 << 23) - 1.0f);
  }
  return values;
}

Tensor Input(const Shape& shape, uint32_t seed) {
  Tensor t;
  t.Shape = shape;
  const std::vector<float> values = Noise(Count(shape), seed);
  t.Floats.assign(values.begin(), values.end());
  return t;
}

void ExpectNear(const Tensor& got, const Shape& shape, const std::vector<float>& expected) {
  ASSERT_EQ(got.Shape, shape);
  ASSERT_EQ(got.Floats.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_NEAR(got.Floats[i], expected[i], 1e-4f) << "at " << i;
  }
}

Network Build(const GraphBytes& graph, int64_t opset) {
  return Network(ParseOnnxModel(graph.Model(opset)));
}

struct ConvCase {
  const char* name;
  bool transposed;
  int64_t in, out, group, kh, kw;
  Shape strides, pads;  // pads: top, left, bottom, right
  bool bias;
  bool computedWeights;  // the weights come from a node, not an initializer
};

// The convolution of `x` by `w` as ONNX defines it, one product at a time.
std::vector<float> NaiveConvolution(const ConvCase& c, const Tensor& x, const std::vector<float>& w,
                                    const std::vector<float>& bias, Shape& shape) {
  const int64_t n = x.Shape[0], h = x.Shape[2], wd = x.Shape[3];
  const int64_t sy = c.strides[0], sx = c.strides[1];
  const int64_t oh = c.transposed ? (h - 1) * sy + c.kh - c.pads[0] - c.pads[2]
                                  : (h + c.pads[0] + c.pads[2] - c.kh) / sy + 1;
  const int64_t ow = c.transposed ? (wd - 1) * sx + c.kw - c.pads[1] - c.pads[3]
                                  : (wd + c.pads[1] + c.pads[3] - c.kw) / sx + 1;
  shape = {n, c.out, oh, ow};
  std::vector<float> out(static_cast<std::size_t>(Count(shape)), 0.0f);
  auto at = [&](int64_t b, int64_t o, int64_t y, int64_t xx) -> float& {
    return out[static_cast<std::size_t>(((b * c.out + o) * oh + y) * ow + xx)];
  };
  auto in = [&](int64_t b, int64_t ch, int64_t y, int64_t xx) {
    return x.Floats[static_cast<std::size_t>(((b * c.in + ch) * h + y) * wd + xx)];
  };
  const int64_t inPerGroup = c.in / c.group, outPerGroup = c.out / c.group;
  for (int64_t b = 0; b < n; ++b) {
    if (c.transposed) {
      // Each input pixel spreads its kernel over the output.
      for (int64_t ch = 0; ch < c.in; ++ch) {
        for (int64_t y = 0; y < h; ++y) {
          for (int64_t xx = 0; xx < wd; ++xx) {
            for (int64_t o = 0; o < c.out; ++o) {
              for (int64_t ky = 0; ky < c.kh; ++ky) {
                for (int64_t kx = 0; kx < c.kw; ++kx) {
                  const int64_t oy = y * sy - c.pads[0] + ky, ox = xx * sx - c.pads[1] + kx;
                  if (oy < 0 || oy >= oh || ox < 0 || ox >= ow) continue;
                  at(b, o, oy, ox) +=
                      in(b, ch, y, xx) *
                      w[static_cast<std::size_t>(((ch * c.out + o) * c.kh + ky) * c.kw + kx)];
                }
              }
            }
          }
        }
      }
    } else {
      for (int64_t o = 0; o < c.out; ++o) {
        const int64_t g = o / outPerGroup;
        for (int64_t y = 0; y < oh; ++y) {
          for (int64_t xx = 0; xx < ow; ++xx) {
            float sum = 0;
            for (int64_t ci = 0; ci < inPerGroup; ++ci) {
              for (int64_t ky = 0; ky < c.kh; ++ky) {
                for (int64_t kx = 0; kx < c.kw; ++kx) {
                  const int64_t iy = y * sy - c.pads[0] + ky, ix = xx * sx - c.pads[1] + kx;
                  if (iy < 0 || iy >= h || ix < 0 || ix >= wd) continue;
                  sum +=
                      in(b, g * inPerGroup + ci, iy, ix) *
                      w[static_cast<std::size_t>(((o * inPerGroup + ci) * c.kh + ky) * c.kw + kx)];
                }
              }
            }
            at(b, o, y, xx) = sum;
          }
        }
      }
    }
    for (int64_t o = 0; o < c.out; ++o) {
      for (int64_t i = 0; i < oh * ow; ++i)
        at(b, o, 0, i) += bias.empty() ? 0.0f : bias[static_cast<std::size_t>(o)];
    }
  }
  return out;
}

TEST(NetworkTest, ConvolutionsMatchNaiveLoopsOnEverySize) {
  const ConvCase kCases[] = {
      {"3 x 3, padded, bias", false, 2, 3, 1, 3, 3, {1, 1}, {1, 1, 1, 1}, true, false},
      {"grouped, stride 2, uneven pads", false, 4, 6, 2, 3, 2, {2, 2}, {0, 1, 1, 0}, false, false},
      {"depthwise, strides 1 and 2", false, 8, 8, 8, 3, 3, {1, 2}, {1, 1, 1, 1}, true, false},
      {"1 x 1, many channels", false, 16, 32, 1, 1, 1, {1, 1}, {0, 0, 0, 0}, true, false},
      {"weights computed by a node", false, 4, 6, 2, 3, 2, {2, 2}, {0, 1, 1, 0}, false, true},
      {"transposed 2 x 2, stride 2", true, 4, 2, 1, 2, 2, {2, 2}, {0, 0, 0, 0}, true, false},
      {"transposed 3 x 3, stride 2, pads",
       true,
       16,
       8,
       1,
       3,
       3,
       {2, 2},
       {1, 1, 1, 1},
       false,
       false},
  };
  // The same network on inputs of other sizes, and back: oneDNN may lay the weights out
  // differently for each.
  const int64_t kSizes[][2] = {{1, 6}, {2, 40}, {1, 6}};
  for (const ConvCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const Shape weightShape = c.transposed ? Shape{c.in, c.out / c.group, c.kh, c.kw}
                                           : Shape{c.out, c.in / c.group, c.kh, c.kw};
    const std::vector<float> w = Noise(Count(weightShape), 1);
    const std::vector<float> bias = c.bias ? Noise(c.out, 2) : std::vector<float>();
    std::vector<std::string> attributes = {IntsAttribute("strides", c.strides),
                                           IntsAttribute("pads", c.pads),
                                           IntsAttribute("kernel_shape", {c.kh, c.kw})};
    if (c.group != 1) attributes.push_back(IntAttribute("group", c.group));
    GraphBytes graph;
    graph.Input("x").Output("y").Initializer(FloatTensor("w", weightShape, w));
    std::vector<std::string> inputs = {"x", c.computedWeights ? "w2" : "w"};
    if (c.computedWeights) graph.Node("Identity", {"w"}, {"w2"});
    if (c.bias) {
      graph.Initializer(FloatTensor("b", {c.out}, bias));
      inputs.push_back("b");
    }
    graph.Node(c.transposed ? "ConvTranspose" : "Conv", inputs, {"y"}, attributes);
    Network network = Build(graph, 13);
    uint32_t seed = 10;
    for (const auto& size : kSizes) {
      const Shape shape = {size[0], c.in, size[1] + 1, size[1]};
      SCOPED_TRACE(::testing::PrintToString(shape));
      const Tensor x = Input(shape, ++seed);
      Shape expectedShape;
      const std::vector<float> expected = NaiveConvolution(c, x, w, bias, expectedShape);
      ExpectNear(network.Run(x), expectedShape, expected);
    }
  }
}

TEST(NetworkTest, ArithmeticAndClipBoundsOfEachOpset) {
  // y = Clip((x + [1, -1] per channel) * 2, low, high), Clip's bounds as attributes before
  // opset 11 and as inputs (one left out) from it.
  struct Case {
    const char* name;
    int64_t opset;
    float low, high;
  };
  const Case kCases[] = {
      {"attributes", 9, -1.0f, 1.5f},
      {"inputs", 11, -0.5f, 2.0f},
      {"no lower bound", 11, -3.4e38f, 0.75f},
      {"no upper bound", 13, 0.25f, 3.4e38f},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    GraphBytes graph;
    graph.Input("x").Output("y");
    graph.Node("Constant", {}, {"shift"},
               {TensorAttribute("value", FloatTensor("", {1, 2, 1, 1}, {1.0f, -1.0f}))});
    graph.Initializer(FloatTensor("two", {}, {2.0f}));
    graph.Node("Add", {"x", "shift"}, {"shifted"}).Node("Mul", {"shifted", "two"}, {"scaled"});
    if (c.opset < 11) {
      graph.Node("Clip", {"scaled"}, {"y"},
                 {FloatAttribute("min", c.low), FloatAttribute("max", c.high)});
    } else {
      graph.Node("Constant", {}, {"low"}, {TensorAttribute("value", FloatTensor("", {}, {c.low}))});
      graph.Initializer(FloatTensor("high", {}, {c.high}));
      graph.Node("Clip", {"scaled", c.low > -1e38f ? "low" : "", c.high < 1e38f ? "high" : ""},
                 {"y"});
    }
    Network network = Build(graph, c.opset);
    const Tensor x = Input({1, 2, 2, 3}, 3);
    std::vector<float> expected;
    for (std::size_t i = 0; i < x.Floats.size(); ++i) {
      const float shifted = (x.Floats[i] + (i < 6 ? 1.0f : -1.0f)) * 2.0f;
      expected.push_back(std::min(c.high, std::max(c.low, shifted)));
    }
    ExpectNear(network.Run(x), {1, 2, 2, 3}, expected);
  }
}

TEST(NetworkTest, ShapeArithmeticFeedsAReshape) {
  // [N, C, H, W] to [N, H * W, C] through the shape the input has at run time:
  // Shape -> Cast -> Slice (N, C) -> Concat with -1 -> Reshape -> Transpose.
  GraphBytes graph;
  graph.Input("x").Output("y");
  graph.Initializer(IntTensor("zero", {1}, {0}))
      .Initializer(IntTensor("two", {1}, {2}))
      .Initializer(IntTensor("rest", {1}, {-1}));
  graph.Node("Shape", {"x"}, {"shape"})
      .Node("Cast", {"shape"}, {"cast"}, {IntAttribute("to", 7)})
      .Node("Slice", {"cast", "zero", "two", "zero"}, {"nc"})
      .Node("Concat", {"nc", "rest"}, {"target"}, {IntAttribute("axis", 0)})
      .Node("Reshape", {"x", "target"}, {"flat"})
      .Node("Transpose", {"flat"}, {"y"}, {IntsAttribute("perm", {0, 2, 1})});
  Network network = Build(graph, 13);
  for (const Shape& shape : {Shape{1, 3, 2, 5}, Shape{2, 2, 3, 1}}) {
    SCOPED_TRACE(::testing::PrintToString(shape));
    const Tensor x = Input(shape, 4);
    const int64_t n = shape[0], c = shape[1], area = shape[2] * shape[3];
    std::vector<float> expected;
    for (int64_t b = 0; b < n; ++b) {
      for (int64_t i = 0; i < area; ++i) {
        for (int64_t ch = 0; ch < c; ++ch)
          expected.push_back(x.Floats[static_cast<std::size_t>((b * c + ch) * area + i)]);
      }
    }
    ExpectNear(network.Run(x), {n, area, c}, expected);
  }
}

TEST(NetworkTest, RefusesWhatItDoesNotComputeWhenBuilt) {
  const std::string w = FloatTensor("w", {1, 1, 1, 1}, {1.0f});
  struct Case {
    const char* name;
    GraphBytes graph;
    const char* message;
  };
  const Case kCases[] = {
      {"unknown operator", GraphBytes().Input("x").Output("y").Node("LSTM", {"x"}, {"y"}),
       "The network uses the operator LSTM, which this runtime does not compute."},
      {"dilations",
       GraphBytes().Input("x").Output("y").Initializer(w).Node(
           "Conv", {"x", "w"}, {"y"}, {IntsAttribute("dilations", {2, 2})}),
       "The network's Conv has dilations"},
      {"automatic pads",
       GraphBytes().Input("x").Output("y").Initializer(w).Node(
           "Conv", {"x", "w"}, {"y"}, {TextAttribute("auto_pad", "SAME_UPPER")}),
       "The network's Conv pads automatically"},
      {"linear resize",
       GraphBytes().Input("x").Output("y").Node("Resize", {"x"}, {"y"},
                                                {TextAttribute("mode", "linear")}),
       "The network's Resize resizes other than"},
      {"constant without value", GraphBytes().Input("x").Output("y").Node("Constant", {}, {"y"}),
       "has no tensor value"},
      {"two inputs", GraphBytes().Input("x").Input("z").Output("y").Node("Add", {"x", "z"}, {"y"}),
       "does not have one input"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    try {
      Build(c.graph, 13);
      ADD_FAILURE() << "built";
    } catch (const ModelError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace brevis::neural
