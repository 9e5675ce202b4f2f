// Network: the graph's nodes in their stored order, each computed from the values before it;
// convolutions (plain and transposed) by oneDNN on one thread, with each node's weights laid out
// once for the primitive that runs it.
#include "ocr/neural/network.h"

#include <omp.h>

#include <algorithm>
#include <map>
#include <oneapi/dnnl/dnnl.hpp>
#include <set>
#include <unordered_map>

#include "ocr/neural/tensor_ops.h"

namespace brevis::neural {

namespace {

// The element-wise arithmetic operators. Built before any thread runs a network: this file is
// left out of ThreadSanitizer, which then could not see a function-local static's guard.
const std::map<std::string, Arithmetic, std::less<>> kArithmetic = {{"Add", Arithmetic::kAdd},
                                                                    {"Sub", Arithmetic::kSub},
                                                                    {"Mul", Arithmetic::kMul},
                                                                    {"Div", Arithmetic::kDiv},
                                                                    {"Pow", Arithmetic::kPow}};

const std::vector<std::string> kOperators = {"Add",
                                             "AveragePool",
                                             "BatchNormalization",
                                             "Cast",
                                             "Clip",
                                             "Concat",
                                             "Constant",
                                             "Conv",
                                             "ConvTranspose",
                                             "Div",
                                             "GlobalAveragePool",
                                             "HardSigmoid",
                                             "Identity",
                                             "MatMul",
                                             "Mul",
                                             "Pow",
                                             "ReduceMean",
                                             "Relu",
                                             "Reshape",
                                             "Resize",
                                             "Shape",
                                             "Sigmoid",
                                             "Slice",
                                             "Softmax",
                                             "Sqrt",
                                             "Squeeze",
                                             "Sub",
                                             "Transpose",
                                             "Unsqueeze"};

[[noreturn]] void Unsupported(const Node& node, const std::string& what) {
  throw ModelError("The network's " + node.Op + " " + what +
                   ", which this runtime does not compute.");
}

// Throws when the node's operator, or the way it is used, is one Run does not compute.
void CheckNode(const Node& node, int64_t opset) {
  if (!std::binary_search(kOperators.begin(), kOperators.end(), node.Op)) {
    throw ModelError("The network uses the operator " + node.Op +
                     ", which this runtime does not compute.");
  }
  if (node.Op == "Conv" || node.Op == "ConvTranspose") {
    for (const int64_t d : node.Ints("dilations")) {
      if (d != 1) Unsupported(node, "has dilations");
    }
    if (node.Text("auto_pad", "NOTSET") != "NOTSET") Unsupported(node, "pads automatically");
    for (const int64_t p : node.Ints("output_padding")) {
      if (p != 0) Unsupported(node, "pads its output");
    }
    if (node.Op == "ConvTranspose" && node.Int("group", 1) != 1) Unsupported(node, "has groups");
  }
  if (node.Op == "Resize") {
    if (node.Text("mode", "nearest") != "nearest" ||
        node.Text("coordinate_transformation_mode", opset >= 11 ? "half_pixel" : "asymmetric") !=
            "asymmetric" ||
        node.Text("nearest_mode", "round_prefer_floor") != "floor") {
      Unsupported(node, "resizes other than to the nearest pixel below");
    }
  }
}

}  // namespace

// oneDNN's engine and stream, and each convolution node's weights in the layout of the
// primitive last chosen for it.
struct Network::Convolutions {
  dnnl::engine Engine{dnnl::engine::kind::cpu, 0};
  dnnl::stream Stream{Engine};
  struct Weights {
    dnnl::memory::desc Layout;
    dnnl::memory Memory;
  };
  std::unordered_map<std::size_t, Weights> Laid;

  // A float memory of `dims` in the plain layout `tag` over `data`.
  dnnl::memory Plain(const dnnl::memory::dims& dims, dnnl::memory::format_tag tag,
                     const float* data) {
    return dnnl::memory({dims, dnnl::memory::data_type::f32, tag}, Engine,
                        const_cast<float*>(data));
  }

  // `from` in the layout `layout`: itself when it has it, else a reordered copy, in `storage`
  // when given (which must then outlive the copy's use).
  dnnl::memory In(dnnl::memory from, const dnnl::memory::desc& layout, Floats* storage = nullptr) {
    if (from.get_desc() == layout) return from;
    dnnl::memory to = Memory(layout, storage);
    dnnl::reorder(from, to).execute(Stream, from, to);
    return to;
  }

  // A memory of `layout` in `storage` when given, else of oneDNN's own.
  dnnl::memory Memory(const dnnl::memory::desc& layout, Floats* storage) {
    if (!storage) return dnnl::memory(layout, Engine);
    *storage = FloatStorage((layout.get_size() + sizeof(float) - 1) / sizeof(float));
    return dnnl::memory(layout, Engine, storage->data());
  }

  // `stored` tells whether `w` is one of the model's initializers, which live as long as the
  // network: only those are laid out once.
  Tensor Run(std::size_t index, const Node& node, const Tensor& x, const Tensor& w,
             const Tensor* bias, bool stored) {
    using dnnl::memory;
    const bool transposed = node.Op == "ConvTranspose";
    if (x.IsInt || w.IsInt || x.Shape.size() != 4 || w.Shape.size() != 4) {
      throw ModelError("The network's " + node.Op + " takes other than two-dimensional images.");
    }
    const int64_t group = node.Int("group", 1);
    const int64_t n = x.Shape[0], c = x.Shape[1], h = x.Shape[2], wd = x.Shape[3];
    const int64_t kh = w.Shape[2], kw = w.Shape[3];
    const int64_t outChannels = transposed ? w.Shape[1] * group : w.Shape[0];
    std::vector<int64_t> strides = node.Ints("strides"), pads = node.Ints("pads");
    if (strides.empty()) strides = {1, 1};
    if (pads.empty()) pads = {0, 0, 0, 0};
    const bool fits = group >= 1 && c % group == 0 && outChannels % group == 0 &&
                      strides.size() == 2 && pads.size() == 4 && strides[0] > 0 && strides[1] > 0 &&
                      (transposed ? w.Shape[0] == c : w.Shape[1] * group == c) &&
                      (!bias || (!bias->IsInt && bias->Count() == outChannels));
    const int64_t oh = transposed ? (h - 1) * strides[0] + kh - pads[0] - pads[2]
                                  : (h + pads[0] + pads[2] - kh) / strides[0] + 1;
    const int64_t ow = transposed ? (wd - 1) * strides[1] + kw - pads[1] - pads[3]
                                  : (wd + pads[1] + pads[3] - kw) / strides[1] + 1;
    if (!fits || oh < 1 || ow < 1) {
      throw ModelError("The network's " + node.Op + " does not fit its input's shape.");
    }
    const memory::dims src = {n, c, h, wd}, dst = {n, outChannels, oh, ow};
    const memory::dims weights = group > 1
                                     ? memory::dims{group, outChannels / group, c / group, kh, kw}
                                     : memory::dims{outChannels, c, kh, kw};
    const auto f32 = memory::data_type::f32;
    const auto any = memory::format_tag::any;
    const memory::desc srcAny(src, f32, any), weightsAny(weights, f32, any), dstAny(dst, f32, any);
    const memory::desc biasDesc({outChannels}, f32, memory::format_tag::a);
    const memory::dims stride = {strides[0], strides[1]}, left = {pads[0], pads[1]},
                       right = {pads[2], pads[3]};
    const auto kind = dnnl::prop_kind::forward_inference;

    dnnl::primitive primitive;
    memory::desc srcLayout, weightsLayout, dstLayout;
    if (transposed) {
      const auto d =
          bias ? dnnl::deconvolution_forward::desc(kind, dnnl::algorithm::deconvolution_direct,
                                                   srcAny, weightsAny, biasDesc, dstAny, stride,
                                                   left, right)
               : dnnl::deconvolution_forward::desc(kind, dnnl::algorithm::deconvolution_direct,
                                                   srcAny, weightsAny, dstAny, stride, left, right);
      const dnnl::deconvolution_forward::primitive_desc pd(d, Engine);
      primitive = dnnl::deconvolution_forward(pd);
      srcLayout = pd.src_desc();
      weightsLayout = pd.weights_desc();
      dstLayout = pd.dst_desc();
    } else {
      const auto d =
          bias ? dnnl::convolution_forward::desc(kind, dnnl::algorithm::convolution_direct, srcAny,
                                                 weightsAny, biasDesc, dstAny, stride, left, right)
               : dnnl::convolution_forward::desc(kind, dnnl::algorithm::convolution_direct, srcAny,
                                                 weightsAny, dstAny, stride, left, right);
      const dnnl::convolution_forward::primitive_desc pd(d, Engine);
      primitive = dnnl::convolution_forward(pd);
      srcLayout = pd.src_desc();
      weightsLayout = pd.weights_desc();
      dstLayout = pd.dst_desc();
    }

    // ONNX keeps a transposed convolution's weights input channels first. Computed weights die
    // after the node: laid out for this run alone, never kept.
    Weights computed;
    Weights& laid = stored ? Laid[index] : computed;
    if (!laid.Memory || laid.Layout != weightsLayout) {
      const auto tag = group > 1    ? memory::format_tag::goihw
                       : transposed ? memory::format_tag::iohw
                                    : memory::format_tag::oihw;
      // In the plain layout this is the weights' own buffer, which lives as long as `laid`.
      laid.Memory = In(Plain(weights, tag, w.Floats.data()), weightsLayout);
      laid.Layout = weightsLayout;
    }

    Floats srcStorage, dstStorage;
    const memory srcMemory =
        In(Plain(src, memory::format_tag::nchw, x.Floats.data()), srcLayout, &srcStorage);
    Tensor out;
    out.Shape = {n, outChannels, oh, ow};
    out.Floats = FloatStorage(static_cast<std::size_t>(out.Count()));
    memory plainDst = Plain(dst, memory::format_tag::nchw, out.Floats.data());
    memory dstMemory = plainDst.get_desc() == dstLayout ? plainDst : Memory(dstLayout, &dstStorage);
    std::unordered_map<int, memory> args = {
        {DNNL_ARG_SRC, srcMemory}, {DNNL_ARG_WEIGHTS, laid.Memory}, {DNNL_ARG_DST, dstMemory}};
    if (bias)
      args[DNNL_ARG_BIAS] = Plain({outChannels}, memory::format_tag::a, bias->Floats.data());
    primitive.execute(Stream, args);
    if (dstMemory != plainDst)
      dnnl::reorder(dstMemory, plainDst).execute(Stream, dstMemory, plainDst);
    Stream.wait();
    Recycle(std::move(srcStorage));
    Recycle(std::move(dstStorage));
    return out;
  }
};

Network::Network(OnnxModel model)
    : model_(std::move(model)), convolutions_(std::make_unique<Convolutions>()) {
  if (model_.Inputs.size() != 1 || model_.Outputs.empty()) {
    throw ModelError("The network does not have one input and an output.");
  }
  for (Node& node : model_.Nodes) {
    CheckNode(node, model_.Opset);
    // A Constant's value is a constant like the initializers.
    if (node.Op == "Constant") {
      const Attribute* value = node.Find("value");
      if (!value || node.Outputs.size() != 1) Unsupported(node, "has no tensor value");
      model_.Initializers[node.Outputs[0]] = value->T;
    }
  }
  std::erase_if(model_.Nodes, [](const Node& node) { return node.Op == "Constant"; });
  // Every value dies after the last node that reads it, so a run keeps few of them.
  std::map<std::string, std::size_t> last;
  for (std::size_t i = 0; i < model_.Nodes.size(); ++i) {
    for (const std::string& name : model_.Nodes[i].Inputs) {
      if (!name.empty() && !model_.Initializers.contains(name)) last[name] = i;
    }
  }
  for (const std::string& name : model_.Outputs) last.erase(name);
  releases_.resize(model_.Nodes.size());
  for (const auto& [name, i] : last) releases_[i].push_back(name);
}

Network::~Network() = default;

Tensor Network::Run(Tensor input) {
  // One thread per network: the callers' threads are the parallelism.
  omp_set_num_threads(1);
  std::unordered_map<std::string, Tensor> values;
  values[model_.Inputs[0]] = std::move(input);
  std::vector<const Tensor*> in;
  std::vector<Tensor*> dying;
  for (std::size_t i = 0; i < model_.Nodes.size(); ++i) {
    const Node& node = model_.Nodes[i];
    in.clear();
    dying.clear();
    for (const std::string& name : node.Inputs) {
      if (name.empty()) {
        in.push_back(nullptr);
        continue;
      }
      if (const auto value = values.find(name); value != values.end()) {
        in.push_back(&value->second);
        const std::vector<std::string>& dies = releases_[i];
        dying.push_back(std::find(dies.begin(), dies.end(), name) != dies.end() ? &value->second
                                                                                : nullptr);
        continue;
      } else if (const auto constant = model_.Initializers.find(name);
                 constant != model_.Initializers.end()) {
        in.push_back(&constant->second);
      } else {
        throw ModelError("The network's " + node.Op + " reads " + name +
                         ", which nothing computes.");
      }
    }
    dying.resize(in.size(), nullptr);
    Tensor out = Compute(i, in, dying);
    for (const std::string& name : releases_[i]) {
      const auto value = values.find(name);
      if (value == values.end()) continue;
      Recycle(std::move(value->second.Floats));
      values.erase(value);
    }
    if (node.Outputs.empty()) continue;
    values[node.Outputs[0]] = std::move(out);
  }
  const auto output = values.find(model_.Outputs[0]);
  if (output == values.end() || output->second.IsInt) {
    throw ModelError("The network computes no output.");
  }
  Tensor result = std::move(output->second);
  return result;
}

Tensor Network::Compute(std::size_t index, const std::vector<const Tensor*>& in,
                        const std::vector<Tensor*>& dying) {
  const Node& node = model_.Nodes[index];
  const std::string& op = node.Op;
  auto input = [&](std::size_t i) -> const Tensor& {
    if (i >= in.size() || in[i] == nullptr) {
      throw ModelError("The network's " + op + " lacks its input " + std::to_string(i + 1) + ".");
    }
    return *in[i];
  };
  auto optional = [&](std::size_t i) -> const Tensor* { return i < in.size() ? in[i] : nullptr; };
  auto ints = [&](std::size_t i) {
    const Tensor& t = input(i);
    if (!t.IsInt) throw ModelError("The network's " + op + " takes floats for integers.");
    return t.Ints;
  };
  auto scalar = [&](std::size_t i, float otherwise) {
    const Tensor* t = optional(i);
    if (!t) return otherwise;
    if (t->IsInt || t->Floats.size() != 1) {
      throw ModelError("The network's " + op + " takes other than a number for a bound.");
    }
    return t->Floats[0];
  };

  if (op == "Conv" || op == "ConvTranspose") {
    return convolutions_->Run(index, node, input(0), input(1), optional(2),
                              model_.Initializers.contains(node.Inputs[1]));
  }
  if (const auto arithmetic = kArithmetic.find(op); arithmetic != kArithmetic.end()) {
    const Tensor& a = input(0);
    const Tensor& b = input(1);
    return Binary(arithmetic->second, a, b, dying[0] ? dying[0] : dying[1]);
  }
  // An input no later node reads is changed in place, any other copied.
  auto own = [&](std::size_t i) { return dying[i] ? std::move(*dying[i]) : input(i); };
  if (op == "Relu" || op == "Sigmoid" || op == "HardSigmoid" || op == "Clip" || op == "Sqrt") {
    input(0);
    Tensor x = own(0);
    if (op == "Relu") Activate(Activation::kRelu, x);
    if (op == "Sigmoid") Activate(Activation::kSigmoid, x);
    if (op == "Sqrt") Activate(Activation::kSqrt, x);
    if (op == "HardSigmoid") {
      Activate(Activation::kHardSigmoid, x, node.Float("alpha", 0.2f), node.Float("beta", 0.5f));
    }
    if (op == "Clip") {
      const float lowest = model_.Opset >= 11 ? scalar(1, -3.4e38f) : node.Float("min", -3.4e38f);
      const float highest = model_.Opset >= 11 ? scalar(2, 3.4e38f) : node.Float("max", 3.4e38f);
      Activate(Activation::kClip, x, lowest, highest);
    }
    return x;
  }
  if (op == "BatchNormalization") {
    input(0);
    Tensor x = own(0);
    BatchNormalize(x, input(1), input(2), input(3), input(4), node.Float("epsilon", 1e-5f));
    return x;
  }
  if (op == "GlobalAveragePool") return GlobalAveragePool(input(0));
  if (op == "AveragePool") {
    std::vector<int64_t> strides = node.Ints("strides"), pads = node.Ints("pads");
    if (strides.empty()) strides = {1, 1};
    if (pads.empty()) pads = {0, 0, 0, 0};
    return AveragePool(input(0), node.Ints("kernel_shape"), strides, pads,
                       node.Int("count_include_pad", 0) != 0);
  }
  if (op == "Resize") {
    // Opset 10 passes the scales second; later opsets third, after a region of interest, or
    // the output's sizes fourth.
    const Tensor& x = input(0);
    const Tensor* scales = model_.Opset >= 11 ? optional(2) : optional(1);
    Floats factors;
    if (scales && !scales->IsInt && scales->Count() > 0) {
      factors = scales->Floats;
    } else if (const Tensor* sizes = optional(3); sizes && sizes->IsInt && sizes->Count() == 4) {
      for (std::size_t i = 0; i < 4 && i < x.Shape.size(); ++i) {
        factors.push_back(x.Shape[i]
                              ? static_cast<float>(sizes->Ints[i]) / static_cast<float>(x.Shape[i])
                              : 0.0f);
      }
    }
    return ResizeNearest(x, factors);
  }
  if (op == "MatMul") return MatMul(input(0), input(1));
  if (op == "Softmax") {
    input(0);
    Tensor x = own(0);
    const int64_t rank = static_cast<int64_t>(x.Shape.size());
    const int64_t axis = node.Int("axis", model_.Opset >= 13 ? -1 : 1);
    if (axis != -1 && axis != rank - 1) {
      throw ModelError("The network's Softmax is over other than the last axis.");
    }
    SoftmaxLastAxis(x);
    return x;
  }
  if (op == "ReduceMean")
    return ReduceMean(input(0), node.Ints("axes"), node.Int("keepdims", 1) != 0);
  if (op == "Concat") {
    std::vector<const Tensor*> parts;
    for (std::size_t i = 0; i < in.size(); ++i) parts.push_back(&input(i));
    return Concat(parts, node.Int("axis", 0));
  }
  if (op == "Transpose") return Transpose(input(0), node.Ints("perm"));
  if (op == "Reshape") return Reshape(input(0), ints(1));
  if (op == "Slice") {
    if (model_.Opset < 10) {
      return Slice(input(0), node.Ints("starts"), node.Ints("ends"), node.Ints("axes"), {});
    }
    return Slice(input(0), ints(1), ints(2), optional(3) ? ints(3) : std::vector<int64_t>(),
                 optional(4) ? ints(4) : std::vector<int64_t>());
  }
  if (op == "Squeeze" || op == "Unsqueeze") {
    const std::vector<int64_t> axes =
        model_.Opset >= 13 && optional(1) ? ints(1) : node.Ints("axes");
    return op == "Squeeze" ? Squeeze(input(0), axes) : Unsqueeze(input(0), axes);
  }
  if (op == "Shape") {
    Tensor shape;
    shape.IsInt = true;
    shape.Ints = input(0).Shape;
    shape.Shape = {static_cast<int64_t>(shape.Ints.size())};
    return shape;
  }
  if (op == "Cast") return Cast(input(0), node.Int("to", 1));
  if (op == "Identity") return input(0);
  throw ModelError("The network uses the operator " + op +
                   ", which this runtime does not compute.");
}

}  // namespace brevis::neural
