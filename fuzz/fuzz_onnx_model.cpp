// Fuzz target: ONNX model bytes through the neural runtime's reader. Every input either decodes or
// is refused with a ModelError; a decoded model's tensors hold as many values as their shapes say.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "ocr/neural/onnx_model.h"

namespace {

// A tensor holds as many values as its shape says; an attribute that is not a tensor has an
// empty one (no values) in its place.
void CheckTensor(const brevis::neural::Tensor& tensor, bool mayBeAbsent) {
  const std::size_t values = tensor.IsInt ? tensor.Ints.size() : tensor.Floats.size();
  brevis::fuzz::Check(values == static_cast<std::size_t>(tensor.Count()) ||
                          (mayBeAbsent && values == 0 && tensor.Shape.empty()),
                      "a tensor holds as many values as its shape says");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const brevis::neural::OnnxModel model =
        brevis::neural::ParseOnnxModel(std::string_view(reinterpret_cast<const char*>(data), size));
    brevis::fuzz::Check(!model.Nodes.empty(), "a decoded model has nodes");
    for (const auto& [name, tensor] : model.Initializers) CheckTensor(tensor, false);
    for (const brevis::neural::Node& node : model.Nodes) {
      brevis::fuzz::Check(!node.Op.empty(), "a decoded node has an operator");
      for (const brevis::neural::Attribute& attribute : node.Attributes)
        CheckTensor(attribute.T, true);
    }
  } catch (const brevis::neural::ModelError&) {
    // Malformed: refused with a message.
  }
  return 0;
}
