// OnnxModel: the graph of a neural network as an ONNX file stores it (a protocol buffers
// message), read by a small decoder of the wire format that takes only what inference needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brevis::neural {

// A model file that cannot be read, or a network that cannot run on its input.
class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Storage of at least kLargeBytes is aligned to 2 MiB and asks the kernel for huge pages where it
// grants them on request: a network's large tensors then fault in 512 times fewer pages.
inline constexpr std::size_t kLargeBytes = std::size_t{4} << 20;
void* AllocateLarge(std::size_t bytes);
void FreeLarge(void* at, std::size_t bytes) noexcept;

// Leaves the floats of a resized vector uninitialised: every operator writes each element of
// its result, and zeroing first would cost as much as many operators do.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  UninitialisedAllocator() = default;
  template <typename U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    if (n * sizeof(T) < kLargeBytes) return std::allocator<T>::allocate(n);
    return static_cast<T*>(AllocateLarge(n * sizeof(T)));
  }
  void deallocate(T* at, std::size_t n) noexcept {
    if (n * sizeof(T) < kLargeBytes) {
      std::allocator<T>::deallocate(at, n);
    } else {
      FreeLarge(at, n * sizeof(T));
    }
  }
  template <typename U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <typename U, typename... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};
using Floats = std::vector<float, UninitialisedAllocator<float>>;

// A dense tensor, row-major: floats, or integers (shapes and indices) when IsInt.
struct Tensor {
  std::vector<int64_t> Shape;
  neural::Floats Floats;
  std::vector<int64_t> Ints;
  bool IsInt = false;

  // The product of Shape; 1 for a scalar.
  int64_t Count() const;
};

struct Attribute {
  std::string Name;
  float F = 0;
  int64_t I = 0;
  std::string S;
  std::vector<float> Floats;
  std::vector<int64_t> Ints;
  Tensor T;
};

struct Node {
  std::string Op;
  std::vector<std::string> Inputs;  // an empty name is an input left out
  std::vector<std::string> Outputs;
  std::vector<Attribute> Attributes;

  const Attribute* Find(std::string_view name) const;
  int64_t Int(std::string_view name, int64_t otherwise) const;
  float Float(std::string_view name, float otherwise) const;
  std::string Text(std::string_view name, std::string_view otherwise) const;
  std::vector<int64_t> Ints(std::string_view name) const;  // empty when absent
};

struct OnnxModel {
  int64_t Opset = 0;                           // of the default domain
  std::vector<Node> Nodes;                     // in an order that computes inputs first
  std::map<std::string, Tensor> Initializers;  // weights stored beside the nodes
  std::vector<std::string> Inputs;             // the graph's inputs that are not initializers
  std::vector<std::string> Outputs;
};

// Decodes a model from the bytes of an ONNX file. Throws ModelError naming what is malformed:
// a truncated or overlong field, a tensor whose data does not fill its shape, a data type other
// than float, int32, int64 or bool, or tensors kept in external files.
OnnxModel ParseOnnxModel(std::string_view bytes);

// The bytes of the file `path` when it is a regular file of at most `maxBytes` that reads whole,
// else nullopt. It is opened without blocking, so that a FIFO put in its place cannot hang the
// reader. Throws ModelError "Cannot open the <what> <path>: <reason>." when it cannot be opened.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes,
                                         std::string_view what);

// Reads and decodes the ONNX file `path`, at most `maxBytes` long; throws ModelError naming the
// file when it cannot be read, is longer, or is malformed.
OnnxModel ReadOnnxModel(const std::string& path, std::size_t maxBytes = 64u << 20);

}  // namespace brevis::neural
