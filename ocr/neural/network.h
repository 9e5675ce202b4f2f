// Network: runs the graph of an ONNX model on one input, on the CPU of the calling thread.
// Convolutions go to oneDNN; the other operators of detector and recogniser networks (element
// by element arithmetic with broadcasting, pooling, resizing, matrix products, layer norms and
// the shape arithmetic in front of reshapes) are plain loops here.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ocr/neural/onnx_model.h"

namespace brevis::neural {

class Network {
 public:
  // Takes the model; throws ModelError when it has not one input and at least one output, or
  // uses an operator (or an operator's mode) that Run does not compute, naming it.
  explicit Network(OnnxModel model);
  ~Network();
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  // The model's first output for `input`, a float tensor. One thread at a time; the caller's
  // thread does all the work. Throws ModelError when the input's shape does not fit the
  // network (naming the operator where it fails).
  Tensor Run(Tensor input);

 private:
  struct Convolutions;
  // Node `index` on its inputs; `dying[i]` is in[i] when no later node reads it (it may then be
  // consumed), else null.
  Tensor Compute(std::size_t index, const std::vector<const Tensor*>& in,
                 const std::vector<Tensor*>& dying);

  OnnxModel model_;
  std::vector<std::vector<std::string>> releases_;  // a node's inputs needed by no later node
  std::unique_ptr<Convolutions> convolutions_;
};

}  // namespace brevis::neural
