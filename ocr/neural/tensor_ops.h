// The operators of a Network other than convolution, as plain loops on row-major tensors. Each
// throws ModelError when its inputs' shapes do not fit.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "ocr/neural/onnx_model.h"

namespace brevis::neural {

// Storage for `count` floats, from the calling thread's recycled buffers when one is large
// enough: a network's large tensors then reuse memory already mapped instead of faulting in
// fresh pages for every operator.
Floats FloatStorage(std::size_t count);
// Keeps `storage` for FloatStorage, up to 64 MB a thread, the largest buffers first.
void Recycle(Floats&& storage);

enum class Arithmetic { kAdd, kSub, kMul, kDiv, kPow };
// a (op) b with numpy broadcasting; integers when both are, else floats. With `into` (a or b,
// which the caller no longer needs) of the result's shape, the result is computed in its place.
Tensor Binary(Arithmetic op, const Tensor& a, const Tensor& b, Tensor* into = nullptr);

enum class Activation { kRelu, kSigmoid, kHardSigmoid, kClip, kSqrt };
// In place on floats: HardSigmoid is max(0, min(1, p * x + q)), Clip is min(q, max(p, x)).
void Activate(Activation f, Tensor& x, float p = 0, float q = 0);

// x of [N, C, ...] normalised per channel: scale * (x - mean) / sqrt(variance + epsilon) + bias.
void BatchNormalize(Tensor& x, const Tensor& scale, const Tensor& bias, const Tensor& mean,
                    const Tensor& variance, float epsilon);
// [N, C, H, W] to [N, C, 1, 1].
Tensor GlobalAveragePool(const Tensor& x);
// Average over windows of [N, C, H, W]; pads are top, left, bottom, right.
Tensor AveragePool(const Tensor& x, const std::vector<int64_t>& kernel,
                   const std::vector<int64_t>& strides, const std::vector<int64_t>& pads,
                   bool countPads);
// Nearest-neighbour resize of [N, C, H, W] by whole `scales` of each axis, a pixel of the output
// taking the one at floor(position / scale).
Tensor ResizeNearest(const Tensor& x, const Floats& scales);
// Matrix product over the last two axes, the others broadcast.
Tensor MatMul(const Tensor& a, const Tensor& b);
// Softmax over the last axis.
void SoftmaxLastAxis(Tensor& x);
// The mean over the trailing `axes` (negative counts from the end), kept as axes of size 1.
Tensor ReduceMean(const Tensor& x, const std::vector<int64_t>& axes, bool keep);

Tensor Concat(const std::vector<const Tensor*>& parts, int64_t axis);
Tensor Transpose(const Tensor& x, const std::vector<int64_t>& perm);
// Reshape as ONNX does it: 0 keeps the axis, -1 takes what is left.
Tensor Reshape(const Tensor& x, const std::vector<int64_t>& shape);
// Elements start..end (clamped, negative counts from the end) with `steps` of the `axes`.
Tensor Slice(const Tensor& x, std::vector<int64_t> starts, std::vector<int64_t> ends,
             std::vector<int64_t> axes, std::vector<int64_t> steps);
// Drops (Squeeze) or inserts (Unsqueeze) axes of size 1.
Tensor Squeeze(const Tensor& x, std::vector<int64_t> axes);
Tensor Unsqueeze(const Tensor& x, std::vector<int64_t> axes);
// ONNX data types: 1 float, 6 and 7 integers, 9 booleans.
Tensor Cast(const Tensor& x, int64_t to);

}  // namespace brevis::neural
