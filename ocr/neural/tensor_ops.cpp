// Operators of a Network other than convolution: plain loops, written for the shapes of text
// detectors and line recognisers (the innermost axis is the long one).
#include "ocr/neural/tensor_ops.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

namespace brevis::neural {

namespace {

[[noreturn]] void Misfit(std::string_view op) {
  throw ModelError("The network's " + std::string(op) + " does not fit its inputs' shapes.");
}

// Strides of a row-major shape.
std::vector<int64_t> Strides(const std::vector<int64_t>& shape) {
  std::vector<int64_t> strides(shape.size(), 1);
  for (std::size_t i = shape.size(); i-- > 1;) strides[i - 1] = strides[i] * shape[i];
  return strides;
}

// The axis `axis` counts from the end when negative, as an index of the shape.
std::size_t Axis(int64_t axis, std::size_t rank, std::string_view op) {
  const auto r = static_cast<int64_t>(rank);
  if (axis < -r || axis >= r) Misfit(op);
  return static_cast<std::size_t>(axis < 0 ? axis + r : axis);
}

// v[i] for an index that the caller has checked is not negative.
template <typename V>
auto& At(V& v, int64_t i) {
  return v[static_cast<std::size_t>(i)];
}

Tensor Like(const Tensor& x, std::vector<int64_t> shape) {
  Tensor out;
  out.Shape = std::move(shape);
  out.IsInt = x.IsInt;
  if (x.IsInt) {
    out.Ints.resize(static_cast<std::size_t>(out.Count()));
  } else {
    out.Floats = FloatStorage(static_cast<std::size_t>(out.Count()));
  }
  return out;
}

// Buffers of at least this size are worth keeping; smaller ones come from the heap cheaply.
constexpr std::size_t kRecycledAtLeast = 1u << 16;
// What a thread keeps at most: enough for the few large tensors of one detector layer.
constexpr std::size_t kRecycledFloats = std::size_t{16} << 20;
thread_local std::vector<Floats> recycled;

// The rows of Broadcast, the result apart from the operands or in the place of one: written so
// that the compiler knows which pointers may meet and vectorises each loop.
template <typename T, typename F>
void Apart(F f, T* __restrict to, const T* __restrict a, const T* __restrict b, int64_t n) {
  for (int64_t i = 0; i < n; ++i) to[i] = f(a[i], b[i]);
}
template <typename T, typename F>
void InPlace(F f, T* __restrict to, const T* __restrict other, int64_t n, bool otherFirst) {
  if (otherFirst) {
    for (int64_t i = 0; i < n; ++i) to[i] = f(other[i], to[i]);
  } else {
    for (int64_t i = 0; i < n; ++i) to[i] = f(to[i], other[i]);
  }
}
template <typename T, typename F>
void ByOne(F f, T* __restrict to, const T* __restrict row, T one, int64_t n, bool oneFirst) {
  if (oneFirst) {
    for (int64_t i = 0; i < n; ++i) to[i] = f(one, row[i]);
  } else {
    for (int64_t i = 0; i < n; ++i) to[i] = f(row[i], one);
  }
}

// Element by element over the broadcast shape; the innermost axis is one loop with each
// operand stepping 1 or 0, written out for each case so that the compiler vectorises it.
template <typename V, typename F>
void Broadcast(F f, const V& a, const std::vector<int64_t>& aShape, const V& b,
               const std::vector<int64_t>& bShape, const std::vector<int64_t>& shape, V& out) {
  using T = typename V::value_type;
  const std::size_t rank = shape.size();
  std::vector<int64_t> as(rank, 0), bs(rank, 0);
  {
    const std::vector<int64_t> aStrides = Strides(aShape), bStrides = Strides(bShape);
    for (std::size_t i = 0; i < aShape.size(); ++i) {
      if (aShape[i] != 1) as[rank - aShape.size() + i] = aStrides[i];
    }
    for (std::size_t i = 0; i < bShape.size(); ++i) {
      if (bShape[i] != 1) bs[rank - bShape.size() + i] = bStrides[i];
    }
  }
  if (out.empty()) return;
  const int64_t inner = rank ? shape[rank - 1] : 1;
  const int64_t ai = rank ? as[rank - 1] : 0, bi = rank ? bs[rank - 1] : 0;
  std::vector<int64_t> index(rank, 0);
  int64_t ao = 0, bo = 0;
  for (std::size_t o = 0; o < out.size(); o += static_cast<std::size_t>(inner)) {
    T* to = out.data() + o;
    const T* pa = a.data() + ao;
    const T* pb = b.data() + bo;
    if (ai == 1 && bi == 1) {
      if (to == pa) {
        InPlace(f, to, pb, inner, false);
      } else if (to == pb) {
        InPlace(f, to, pa, inner, true);
      } else {
        Apart(f, to, pa, pb, inner);
      }
    } else if (ai == 1) {
      const T vb = *pb;
      if (to == pa) {
        for (int64_t i = 0; i < inner; ++i) to[i] = f(to[i], vb);
      } else {
        ByOne(f, to, pa, vb, inner, false);
      }
    } else if (bi == 1) {
      const T va = *pa;
      if (to == pb) {
        for (int64_t i = 0; i < inner; ++i) to[i] = f(va, to[i]);
      } else {
        ByOne(f, to, pb, va, inner, true);
      }
    } else {
      to[0] = f(*pa, *pb);
      for (int64_t i = 1; i < inner; ++i) to[i] = to[0];
    }
    // The next row: an odometer over every axis but the innermost (none for a scalar).
    for (std::size_t d = rank > 0 ? rank - 1 : 0; d-- > 0;) {
      ao += as[d];
      bo += bs[d];
      if (++index[d] < shape[d]) break;
      ao -= as[d] * shape[d];
      bo -= bs[d] * shape[d];
      index[d] = 0;
    }
  }
}

template <typename V>
void ApplyArithmetic(Arithmetic op, const V& a, const std::vector<int64_t>& aShape, const V& b,
                     const std::vector<int64_t>& bShape, const std::vector<int64_t>& shape,
                     V& out) {
  using T = typename V::value_type;
  switch (op) {
    case Arithmetic::kAdd:
      return Broadcast([](T x, T y) { return x + y; }, a, aShape, b, bShape, shape, out);
    case Arithmetic::kSub:
      return Broadcast([](T x, T y) { return x - y; }, a, aShape, b, bShape, shape, out);
    case Arithmetic::kMul:
      return Broadcast([](T x, T y) { return x * y; }, a, aShape, b, bShape, shape, out);
    case Arithmetic::kDiv:
      if constexpr (std::is_integral_v<T>) {
        for (const T v : b) {
          if (v == 0) throw ModelError("The network divides an integer by zero.");
        }
      }
      return Broadcast([](T x, T y) { return x / y; }, a, aShape, b, bShape, shape, out);
    case Arithmetic::kPow:
      return Broadcast(
          [](T x, T y) {
            return static_cast<T>(y == 2
                                      ? static_cast<double>(x * x)
                                      : std::pow(static_cast<double>(x), static_cast<double>(y)));
          },
          a, aShape, b, bShape, shape, out);
  }
}

// Calls f(source offset, target offset) for every element of a view of `shape` whose axis i
// steps `strides[i]` in the source from `base`, the target running row-major.
template <typename F>
void Walk(const std::vector<int64_t>& shape, const std::vector<int64_t>& strides, int64_t base,
          F f) {
  int64_t count = 1;
  for (const int64_t d : shape) count *= d;
  if (count == 0) return;
  std::vector<int64_t> index(shape.size(), 0);
  int64_t from = base;
  for (int64_t to = 0; to < count; ++to) {
    f(from, to);
    for (std::size_t d = shape.size(); d-- > 0;) {
      from += strides[d];
      if (++index[d] < shape[d]) break;
      from -= strides[d] * shape[d];
      index[d] = 0;
    }
  }
}

Tensor Gather(const Tensor& x, const std::vector<int64_t>& shape,
              const std::vector<int64_t>& strides, int64_t base) {
  Tensor out = Like(x, shape);
  if (x.IsInt) {
    Walk(shape, strides, base,
         [&](int64_t from, int64_t to) { At(out.Ints, to) = At(x.Ints, from); });
  } else {
    Walk(shape, strides, base,
         [&](int64_t from, int64_t to) { At(out.Floats, to) = At(x.Floats, from); });
  }
  return out;
}

void CheckImage(const Tensor& x, std::string_view op) {
  if (x.IsInt || x.Shape.size() != 4) Misfit(op);
}

// row += v * other, n elements, the two apart.
void AddScaled(float* __restrict row, const float* __restrict other, float v, int64_t n) {
  for (int64_t c = 0; c < n; ++c) row[c] += v * other[c];
}

}  // namespace

Floats FloatStorage(std::size_t count) {
  // The smallest buffer that holds `count`.
  auto best = recycled.end();
  for (auto it = recycled.begin(); it != recycled.end(); ++it) {
    if (it->capacity() >= count && (best == recycled.end() || it->capacity() < best->capacity())) {
      best = it;
    }
  }
  Floats storage;
  if (best != recycled.end()) {
    storage = std::move(*best);
    recycled.erase(best);
  }
  storage.resize(count);
  return storage;
}

void Recycle(Floats&& storage) {
  if (storage.capacity() < kRecycledAtLeast) return;
  storage.clear();
  recycled.push_back(std::move(storage));
  // Over the bound, the smallest buffers go first: the large ones are the costly ones to map.
  std::sort(recycled.begin(), recycled.end(),
            [](const Floats& x, const Floats& y) { return x.capacity() > y.capacity(); });
  std::size_t kept = 0;
  std::size_t count = 0;
  while (count < recycled.size() && kept + recycled[count].capacity() <= kRecycledFloats) {
    kept += recycled[count++].capacity();
  }
  recycled.resize(count);
}

Tensor Binary(Arithmetic op, const Tensor& a, const Tensor& b, Tensor* into) {
  const std::size_t rank = std::max(a.Shape.size(), b.Shape.size());
  std::vector<int64_t> shape(rank);
  for (std::size_t i = 0; i < rank; ++i) {
    const int64_t da = i < rank - a.Shape.size() ? 1 : a.Shape[i - (rank - a.Shape.size())];
    const int64_t db = i < rank - b.Shape.size() ? 1 : b.Shape[i - (rank - b.Shape.size())];
    if (da != db && da != 1 && db != 1) Misfit("element-wise arithmetic");
    shape[i] = da == 1 ? db : da;
  }
  if (a.IsInt && b.IsInt) {
    Tensor out = Like(a, shape);
    ApplyArithmetic(op, a.Ints, a.Shape, b.Ints, b.Shape, shape, out.Ints);
    return out;
  }
  if (a.IsInt || b.IsInt) Misfit("element-wise arithmetic");
  // Each element of the result reads only the elements of a and b at its own place or
  // broadcast ones, read before it is written: an operand of the result's shape can hold it.
  if (into && into->Shape == shape && !into->IsInt) {
    ApplyArithmetic(op, a.Floats, a.Shape, b.Floats, b.Shape, shape, into->Floats);
    return std::move(*into);
  }
  Tensor out = Like(a, shape);
  ApplyArithmetic(op, a.Floats, a.Shape, b.Floats, b.Shape, shape, out.Floats);
  return out;
}

void Activate(Activation f, Tensor& x, float p, float q) {
  if (x.IsInt) Misfit("activation");
  switch (f) {
    case Activation::kRelu:
      for (float& v : x.Floats) v = std::max(v, 0.0f);
      break;
    case Activation::kSigmoid:
      for (float& v : x.Floats) v = 1.0f / (1.0f + std::exp(-v));
      break;
    case Activation::kHardSigmoid:
      for (float& v : x.Floats) v = std::clamp(p * v + q, 0.0f, 1.0f);
      break;
    case Activation::kClip:
      for (float& v : x.Floats) v = std::min(q, std::max(p, v));
      break;
    case Activation::kSqrt:
      for (float& v : x.Floats) v = std::sqrt(v);
      break;
  }
}

void BatchNormalize(Tensor& x, const Tensor& scale, const Tensor& bias, const Tensor& mean,
                    const Tensor& variance, float epsilon) {
  if (x.IsInt || x.Shape.size() < 2) Misfit("BatchNormalization");
  const int64_t channels = x.Shape[1];
  for (const Tensor* t : {&scale, &bias, &mean, &variance}) {
    if (t->IsInt || t->Count() != channels) Misfit("BatchNormalization");
  }
  const int64_t inner = x.Count() / std::max<int64_t>(1, x.Shape[0] * channels);
  float* at = x.Floats.data();
  for (int64_t n = 0; n < x.Shape[0]; ++n) {
    for (int64_t c = 0; c < channels; ++c) {
      const float k = At(scale.Floats, c) / std::sqrt(At(variance.Floats, c) + epsilon);
      const float d = At(bias.Floats, c) - At(mean.Floats, c) * k;
      for (int64_t i = 0; i < inner; ++i, ++at) *at = *at * k + d;
    }
  }
}

Tensor GlobalAveragePool(const Tensor& x) {
  CheckImage(x, "GlobalAveragePool");
  return ReduceMean(x, {-2, -1}, true);
}

Tensor AveragePool(const Tensor& x, const std::vector<int64_t>& kernel,
                   const std::vector<int64_t>& strides, const std::vector<int64_t>& pads,
                   bool countPads) {
  CheckImage(x, "AveragePool");
  if (kernel.size() != 2 || strides.size() != 2 || pads.size() != 4 || kernel[0] < 1 ||
      kernel[1] < 1 || strides[0] < 1 || strides[1] < 1) {
    Misfit("AveragePool");
  }
  const int64_t h = x.Shape[2], w = x.Shape[3];
  const int64_t oh = (h + pads[0] + pads[2] - kernel[0]) / strides[0] + 1;
  const int64_t ow = (w + pads[1] + pads[3] - kernel[1]) / strides[1] + 1;
  if (oh < 1 || ow < 1) Misfit("AveragePool");
  Tensor out = Like(x, {x.Shape[0], x.Shape[1], oh, ow});
  float* to = out.Floats.data();
  for (int64_t plane = 0; plane < x.Shape[0] * x.Shape[1]; ++plane) {
    const float* from = x.Floats.data() + plane * h * w;
    for (int64_t y = 0; y < oh; ++y) {
      for (int64_t xo = 0; xo < ow; ++xo) {
        const int64_t y0 = y * strides[0] - pads[0], x0 = xo * strides[1] - pads[1];
        float sum = 0;
        int64_t n = 0;
        for (int64_t ky = std::max<int64_t>(0, y0); ky < std::min(h, y0 + kernel[0]); ++ky) {
          for (int64_t kx = std::max<int64_t>(0, x0); kx < std::min(w, x0 + kernel[1]); ++kx) {
            sum += from[ky * w + kx];
            ++n;
          }
        }
        *to++ =
            sum / static_cast<float>(countPads ? kernel[0] * kernel[1] : std::max<int64_t>(n, 1));
      }
    }
  }
  return out;
}

Tensor ResizeNearest(const Tensor& x, const Floats& scales) {
  CheckImage(x, "Resize");
  if (scales.size() != 4 || scales[0] != 1 || scales[1] != 1 || !(scales[2] > 0) ||
      !(scales[3] > 0) || scales[2] > 64 || scales[3] > 64) {
    Misfit("Resize");
  }
  const int64_t h = x.Shape[2], w = x.Shape[3];
  const auto oh = static_cast<int64_t>(std::floor(static_cast<double>(h) * scales[2]));
  const auto ow = static_cast<int64_t>(std::floor(static_cast<double>(w) * scales[3]));
  Tensor out = Like(x, {x.Shape[0], x.Shape[1], oh, ow});
  std::vector<int64_t> column(static_cast<std::size_t>(ow));
  for (int64_t i = 0; i < ow; ++i) {
    At(column, i) =
        std::min(w - 1, static_cast<int64_t>(std::floor(static_cast<double>(i) / scales[3])));
  }
  float* to = out.Floats.data();
  for (int64_t plane = 0; plane < x.Shape[0] * x.Shape[1]; ++plane) {
    for (int64_t y = 0; y < oh; ++y) {
      const int64_t sy =
          std::min(h - 1, static_cast<int64_t>(std::floor(static_cast<double>(y) / scales[2])));
      const float* row = x.Floats.data() + (plane * h + sy) * w;
      for (int64_t i = 0; i < ow; ++i) *to++ = row[At(column, i)];
    }
  }
  return out;
}

Tensor MatMul(const Tensor& a, const Tensor& b) {
  if (a.IsInt || b.IsInt || a.Shape.size() < 2 || b.Shape.size() < 2) Misfit("MatMul");
  const int64_t m = a.Shape[a.Shape.size() - 2], k = a.Shape.back();
  const int64_t n = b.Shape.back();
  if (b.Shape[b.Shape.size() - 2] != k) Misfit("MatMul");
  // The batch axes broadcast as element-wise arithmetic does: one product per batch index.
  const std::vector<int64_t> aBatch(a.Shape.begin(), a.Shape.end() - 2);
  const std::vector<int64_t> bBatch(b.Shape.begin(), b.Shape.end() - 2);
  Tensor aIndex, bIndex;
  aIndex.IsInt = bIndex.IsInt = true;
  aIndex.Shape = aBatch;
  bIndex.Shape = bBatch;
  aIndex.Ints.resize(static_cast<std::size_t>(aIndex.Count()));
  bIndex.Ints.resize(static_cast<std::size_t>(bIndex.Count()));
  std::iota(aIndex.Ints.begin(), aIndex.Ints.end(), 0);
  std::iota(bIndex.Ints.begin(), bIndex.Ints.end(), 0);
  // Index pairs: a's index times the count of b's plus b's, broadcast.
  Tensor scale;
  scale.IsInt = true;
  scale.Ints = {static_cast<int64_t>(bIndex.Ints.size())};
  const Tensor pairs = Binary(Arithmetic::kAdd, Binary(Arithmetic::kMul, aIndex, scale), bIndex);
  std::vector<int64_t> shape = pairs.Shape;
  shape.push_back(m);
  shape.push_back(n);
  Tensor out = Like(a, shape);
  std::fill(out.Floats.begin(), out.Floats.end(), 0.0f);
  for (std::size_t p = 0; p < pairs.Ints.size(); ++p) {
    const int64_t ai = pairs.Ints[p] / scale.Ints[0], bi = pairs.Ints[p] % scale.Ints[0];
    const float* pa = a.Floats.data() + ai * m * k;
    const float* pb = b.Floats.data() + bi * k * n;
    float* pc = out.Floats.data() + static_cast<int64_t>(p) * m * n;
    for (int64_t i = 0; i < m; ++i) {
      for (int64_t j = 0; j < k; ++j) AddScaled(pc + i * n, pb + j * n, pa[i * k + j], n);
    }
  }
  return out;
}

void SoftmaxLastAxis(Tensor& x) {
  if (x.IsInt || x.Shape.empty()) Misfit("Softmax");
  const int64_t inner = x.Shape.back();
  if (inner == 0) return;
  for (std::size_t o = 0; o < x.Floats.size(); o += static_cast<std::size_t>(inner)) {
    float* row = x.Floats.data() + o;
    const float top = *std::max_element(row, row + inner);
    float sum = 0;
    for (int64_t i = 0; i < inner; ++i) sum += row[i] = std::exp(row[i] - top);
    for (int64_t i = 0; i < inner; ++i) row[i] /= sum;
  }
}

Tensor ReduceMean(const Tensor& x, const std::vector<int64_t>& axes, bool keep) {
  if (x.IsInt || axes.empty()) Misfit("ReduceMean");
  std::vector<bool> reduced(x.Shape.size(), false);
  for (const int64_t axis : axes) reduced[Axis(axis, x.Shape.size(), "ReduceMean")] = true;
  // Only trailing axes: the mean of each contiguous block.
  const std::size_t first = x.Shape.size() - axes.size();
  for (std::size_t i = 0; i < x.Shape.size(); ++i) {
    if (reduced[i] != (i >= first)) Misfit("ReduceMean");
  }
  std::vector<int64_t> shape;
  int64_t block = 1;
  for (std::size_t i = 0; i < x.Shape.size(); ++i) {
    if (i < first) {
      shape.push_back(x.Shape[i]);
    } else {
      block *= x.Shape[i];
      if (keep) shape.push_back(1);
    }
  }
  Tensor out = Like(x, shape);
  for (std::size_t o = 0; o < out.Floats.size(); ++o) {
    const float* from = x.Floats.data() + static_cast<int64_t>(o) * block;
    double sum = 0;
    for (int64_t i = 0; i < block; ++i) sum += from[i];
    out.Floats[o] = block ? static_cast<float>(sum / static_cast<double>(block)) : 0.0f;
  }
  return out;
}

Tensor Concat(const std::vector<const Tensor*>& parts, int64_t axis) {
  if (parts.empty()) Misfit("Concat");
  const Tensor& first = *parts[0];
  const std::size_t rank = first.Shape.size();
  const std::size_t at = Axis(axis, rank, "Concat");
  std::vector<int64_t> shape = first.Shape;
  shape[at] = 0;
  for (const Tensor* part : parts) {
    if (part->Shape.size() != rank || part->IsInt != first.IsInt) Misfit("Concat");
    for (std::size_t i = 0; i < rank; ++i) {
      if (i != at && part->Shape[i] != first.Shape[i]) Misfit("Concat");
    }
    shape[at] += part->Shape[at];
  }
  Tensor out = Like(first, shape);
  int64_t outer = 1;
  for (std::size_t i = 0; i < at; ++i) outer *= shape[i];
  int64_t to = 0;
  for (int64_t o = 0; o < outer; ++o) {
    for (const Tensor* part : parts) {
      const int64_t block = outer ? part->Count() / outer : 0;
      if (first.IsInt) {
        std::copy_n(part->Ints.begin() + o * block, block, out.Ints.begin() + to);
      } else {
        std::copy_n(part->Floats.begin() + o * block, block, out.Floats.begin() + to);
      }
      to += block;
    }
  }
  return out;
}

Tensor Transpose(const Tensor& x, const std::vector<int64_t>& perm) {
  std::vector<int64_t> order = perm;
  if (order.empty()) {
    for (std::size_t i = x.Shape.size(); i-- > 0;) order.push_back(static_cast<int64_t>(i));
  }
  if (order.size() != x.Shape.size()) Misfit("Transpose");
  const std::vector<int64_t> from = Strides(x.Shape);
  std::vector<int64_t> shape, strides;
  std::vector<bool> seen(order.size(), false);
  for (const int64_t axis : order) {
    const std::size_t a = Axis(axis, x.Shape.size(), "Transpose");
    if (seen[a]) Misfit("Transpose");
    seen[a] = true;
    shape.push_back(x.Shape[a]);
    strides.push_back(from[a]);
  }
  return Gather(x, shape, strides, 0);
}

Tensor Reshape(const Tensor& x, const std::vector<int64_t>& shape) {
  std::vector<int64_t> out = shape;
  int64_t known = 1;
  int infer = -1;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == 0) {
      if (i >= x.Shape.size()) Misfit("Reshape");
      out[i] = x.Shape[i];
    }
    if (out[i] == -1) {
      if (infer >= 0) Misfit("Reshape");
      infer = static_cast<int>(i);
    } else if (out[i] < 0) {
      Misfit("Reshape");
    } else {
      // Dimensions whose product wraps around could pass for the count: none may exceed 2^40.
      if (out[i] > 0 && known > (int64_t{1} << 40) / out[i]) Misfit("Reshape");
      known *= out[i];
    }
  }
  if (infer >= 0) {
    if (known == 0 || x.Count() % known != 0) Misfit("Reshape");
    out[static_cast<std::size_t>(infer)] = x.Count() / known;
  }
  Tensor result = x;
  result.Shape = std::move(out);
  if (result.Count() != x.Count()) Misfit("Reshape");
  return result;
}

Tensor Slice(const Tensor& x, std::vector<int64_t> starts, std::vector<int64_t> ends,
             std::vector<int64_t> axes, std::vector<int64_t> steps) {
  if (starts.size() != ends.size()) Misfit("Slice");
  if (axes.empty()) {
    for (std::size_t i = 0; i < starts.size(); ++i) axes.push_back(static_cast<int64_t>(i));
  }
  if (steps.empty()) steps.assign(starts.size(), 1);
  if (axes.size() != starts.size() || steps.size() != starts.size()) Misfit("Slice");
  std::vector<int64_t> shape = x.Shape;
  std::vector<int64_t> strides = Strides(x.Shape);
  int64_t base = 0;
  for (std::size_t i = 0; i < axes.size(); ++i) {
    const std::size_t a = Axis(axes[i], x.Shape.size(), "Slice");
    const int64_t dim = x.Shape[a];
    if (steps[i] == 0) Misfit("Slice");
    // A step longer than the axis takes one element, as one of the axis' length does; bounded,
    // the counts and strides below cannot overflow.
    const int64_t step =
        std::clamp(steps[i], -std::max<int64_t>(dim, 1), std::max<int64_t>(dim, 1));
    // Clamped as ONNX clamps: to [0, dim] going forward, to [-1, dim - 1] going back.
    auto clamp = [&](int64_t v, bool forward) {
      if (v < 0) v += dim;
      return forward ? std::clamp<int64_t>(v, 0, dim) : std::clamp<int64_t>(v, -1, dim - 1);
    };
    const bool forward = step > 0;
    const int64_t start = clamp(starts[i], forward), end = clamp(ends[i], forward);
    const int64_t count = forward ? std::max<int64_t>(0, (end - start + step - 1) / step)
                                  : std::max<int64_t>(0, (start - end - step - 1) / -step);
    shape[a] = count;
    if (count > 0) base += start * strides[a];
    strides[a] *= step;
  }
  return Gather(x, shape, strides, base);
}

Tensor Squeeze(const Tensor& x, std::vector<int64_t> axes) {
  std::vector<bool> drop(x.Shape.size(), false);
  for (const int64_t axis : axes) {
    const std::size_t a = Axis(axis, x.Shape.size(), "Squeeze");
    if (x.Shape[a] != 1) Misfit("Squeeze");
    drop[a] = true;
  }
  Tensor out = x;
  out.Shape.clear();
  for (std::size_t i = 0; i < x.Shape.size(); ++i) {
    if (axes.empty() ? x.Shape[i] != 1 : !drop[i]) out.Shape.push_back(x.Shape[i]);
  }
  return out;
}

Tensor Unsqueeze(const Tensor& x, std::vector<int64_t> axes) {
  const std::size_t rank = x.Shape.size() + axes.size();
  std::vector<bool> added(rank, false);
  for (const int64_t axis : axes) {
    const std::size_t a = Axis(axis, rank, "Unsqueeze");
    if (added[a]) Misfit("Unsqueeze");
    added[a] = true;
  }
  Tensor out = x;
  out.Shape.clear();
  std::size_t next = 0;
  for (std::size_t i = 0; i < rank; ++i) out.Shape.push_back(added[i] ? 1 : x.Shape[next++]);
  return out;
}

Tensor Cast(const Tensor& x, int64_t to) {
  Tensor out;
  out.Shape = x.Shape;
  if (to == 1) {
    if (!x.IsInt) return x;
    for (const int64_t v : x.Ints) out.Floats.push_back(static_cast<float>(v));
    return out;
  }
  if (to != 6 && to != 7 && to != 9) {
    throw ModelError("The network casts to data type " + std::to_string(to) +
                     ", which is not float or integer.");
  }
  out.IsInt = true;
  if (x.IsInt) {
    out.Ints = x.Ints;
  } else {
    // Out of range (or not a number) a float has no integer: the nearest bound stands for it.
    // A boolean is whether the float is other than zero, fractions and NaN included.
    for (const float v : x.Floats) {
      if (to == 9) {
        out.Ints.push_back(v != 0);
        continue;
      }
      const float bounded = std::isnan(v) ? 0.0f : std::clamp(v, -9.2e18f, 9.2e18f);
      out.Ints.push_back(static_cast<int64_t>(bounded));
    }
  }
  if (to == 9) {
    for (int64_t& v : out.Ints) v = v != 0;
  }
  return out;
}

}  // namespace brevis::neural
