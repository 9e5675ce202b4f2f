// OnnxModel: a decoder of the protocol buffers wire format for the messages of an ONNX model
// (ModelProto, GraphProto, NodeProto, AttributeProto, TensorProto), keeping the fields inference
// reads and skipping every other one.
#include "ocr/neural/onnx_model.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

namespace brevis::neural {

namespace {

// The wire types of a field's key.
enum WireType : uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

// TensorProto's data types that these networks use.
enum DataType : int64_t { kFloat = 1, kInt32 = 6, kInt64 = 7, kBool = 9 };

// A message's bytes, read field by field. Every read is checked against the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : at_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  bool Done() const { return at_ == end_; }

  uint64_t Varint() {
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at_ == end_) throw ModelError("The model file is truncated.");
      const auto byte = static_cast<uint8_t>(*at_++);
      value |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
    throw ModelError("The model file holds a number longer than 64 bits.");
  }

  std::string_view Bytes(uint64_t length) {
    if (length > static_cast<uint64_t>(end_ - at_))
      throw ModelError("The model file is truncated.");
    const std::string_view bytes(at_, length);
    at_ += length;
    return bytes;
  }

  // The next field's number and wire type.
  std::pair<uint32_t, uint32_t> Key() {
    const uint64_t key = Varint();
    if ((key >> 3) == 0 || (key >> 3) > 0x1FFFFFFF)
      throw ModelError("The model file is malformed.");
    return {static_cast<uint32_t>(key >> 3), static_cast<uint32_t>(key & 7)};
  }

  std::string_view Message(uint32_t wire) {
    if (wire != kLengthDelimited) throw ModelError("The model file is malformed.");
    return Bytes(Varint());
  }

  void Skip(uint32_t wire) {
    switch (wire) {
      case kVarint:
        Varint();
        return;
      case kFixed64:
        Bytes(8);
        return;
      case kLengthDelimited:
        Bytes(Varint());
        return;
      case kFixed32:
        Bytes(4);
        return;
      default:
        throw ModelError("The model file is malformed.");
    }
  }

  // Appends a repeated integer field, packed or not.
  void Integers(uint32_t wire, std::vector<int64_t>& out) {
    if (wire == kVarint) {
      out.push_back(static_cast<int64_t>(Varint()));
      return;
    }
    Reader packed(Message(wire));
    while (!packed.Done()) out.push_back(static_cast<int64_t>(packed.Varint()));
  }

  // Appends a repeated float field, packed or not.
  template <typename Vector>
  void Floats(uint32_t wire, Vector& out) {
    if (wire == kFixed32) {
      out.push_back(Float(Bytes(4)));
      return;
    }
    const std::string_view packed = Message(wire);
    if (packed.size() % 4 != 0) throw ModelError("The model file is malformed.");
    for (std::size_t i = 0; i < packed.size(); i += 4) out.push_back(Float(packed.substr(i, 4)));
  }

  static float Float(std::string_view four) {
    uint32_t bits = 0;
    for (std::size_t i = 4; i-- > 0;) bits = bits << 8 | static_cast<uint8_t>(four[i]);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  float Fixed32() { return Float(Bytes(4)); }

 private:
  const char* at_;
  const char* end_;
};

int64_t Checked(int64_t count, int64_t dim) {
  if (dim < 0 || (dim > 0 && count > (int64_t{1} << 40) / dim)) {
    throw ModelError("The model file holds a tensor of impossible size.");
  }
  return count * dim;
}

Tensor ParseTensor(std::string_view bytes, std::string* name) {
  Reader in(bytes);
  Tensor tensor;
  int64_t type = kFloat;
  std::string_view raw;
  std::vector<int64_t> ints;
  while (!in.Done()) {
    const auto [field, wire] = in.Key();
    switch (field) {
      case 1:
        in.Integers(wire, tensor.Shape);
        break;
      case 2:
        type = static_cast<int64_t>(in.Varint());
        break;
      case 4:
        in.Floats(wire, tensor.Floats);
        break;
      case 5:
      case 7:
        in.Integers(wire, ints);
        break;
      case 8: {
        const std::string_view text = in.Message(wire);
        if (name) *name = std::string(text);
        break;
      }
      case 9:
        raw = in.Message(wire);
        break;
      case 14:
        if (in.Varint() != 0) throw ModelError("The model keeps its weights in other files.");
        break;
      default:
        in.Skip(wire);
    }
  }
  int64_t count = 1;
  for (const int64_t dim : tensor.Shape) count = Checked(count, dim);
  const auto size = static_cast<std::size_t>(count);
  if (type == kFloat) {
    if (!raw.empty()) {
      if (raw.size() != size * 4) throw ModelError("A tensor of the model does not fit its shape.");
      tensor.Floats.clear();
      for (std::size_t i = 0; i < size; ++i)
        tensor.Floats.push_back(Reader::Float(raw.substr(i * 4, 4)));
    }
    if (tensor.Floats.size() != size)
      throw ModelError("A tensor of the model does not fit its shape.");
    return tensor;
  }
  if (type != kInt32 && type != kInt64 && type != kBool) {
    throw ModelError("A tensor of the model has data type " + std::to_string(type) +
                     ", which is not float or integer.");
  }
  tensor.IsInt = true;
  if (!raw.empty()) {
    const std::size_t width = type == kInt64 ? 8 : type == kInt32 ? 4 : 1;
    if (raw.size() != size * width)
      throw ModelError("A tensor of the model does not fit its shape.");
    for (std::size_t i = 0; i < size; ++i) {
      uint64_t bits = 0;
      for (std::size_t b = width; b-- > 0;)
        bits = bits << 8 | static_cast<uint8_t>(raw[i * width + b]);
      // Sign-extend the narrower types.
      if (width < 8 && (bits >> (width * 8 - 1) & 1) != 0 && type != kBool) {
        bits |= ~uint64_t{0} << (width * 8);
      }
      tensor.Ints.push_back(static_cast<int64_t>(bits));
    }
  } else {
    // int32 data are stored as varints of their 64-bit sign extension, as int64 data are.
    tensor.Ints = std::move(ints);
  }
  if (tensor.Ints.size() != size) throw ModelError("A tensor of the model does not fit its shape.");
  return tensor;
}

Attribute ParseAttribute(std::string_view bytes) {
  Reader in(bytes);
  Attribute attribute;
  while (!in.Done()) {
    const auto [field, wire] = in.Key();
    switch (field) {
      case 1:
        attribute.Name = std::string(in.Message(wire));
        break;
      case 2:
        if (wire != kFixed32) throw ModelError("The model file is malformed.");
        attribute.F = in.Fixed32();
        break;
      case 3:
        attribute.I = static_cast<int64_t>(in.Varint());
        break;
      case 4:
        attribute.S = std::string(in.Message(wire));
        break;
      case 5:
        attribute.T = ParseTensor(in.Message(wire), nullptr);
        break;
      case 7:
        in.Floats(wire, attribute.Floats);
        break;
      case 8:
        in.Integers(wire, attribute.Ints);
        break;
      default:
        in.Skip(wire);
    }
  }
  return attribute;
}

Node ParseNode(std::string_view bytes) {
  Reader in(bytes);
  Node node;
  while (!in.Done()) {
    const auto [field, wire] = in.Key();
    switch (field) {
      case 1:
        node.Inputs.emplace_back(in.Message(wire));
        break;
      case 2:
        node.Outputs.emplace_back(in.Message(wire));
        break;
      case 4:
        node.Op = std::string(in.Message(wire));
        break;
      case 5:
        node.Attributes.push_back(ParseAttribute(in.Message(wire)));
        break;
      default:
        in.Skip(wire);
    }
  }
  if (node.Op.empty()) throw ModelError("A node of the model has no operator.");
  return node;
}

std::string ValueName(std::string_view bytes) {
  Reader in(bytes);
  std::string name;
  while (!in.Done()) {
    const auto [field, wire] = in.Key();
    if (field == 1) {
      name = std::string(in.Message(wire));
    } else {
      in.Skip(wire);
    }
  }
  return name;
}

void ParseGraph(std::string_view bytes, OnnxModel& model) {
  Reader in(bytes);
  std::vector<std::string> inputs;
  while (!in.Done()) {
    const auto [field, wire] = in.Key();
    switch (field) {
      case 1:
        model.Nodes.push_back(ParseNode(in.Message(wire)));
        break;
      case 5: {
        std::string name;
        Tensor tensor = ParseTensor(in.Message(wire), &name);
        model.Initializers[name] = std::move(tensor);
        break;
      }
      case 11:
        inputs.push_back(ValueName(in.Message(wire)));
        break;
      case 12:
        model.Outputs.push_back(ValueName(in.Message(wire)));
        break;
      default:
        in.Skip(wire);
    }
  }
  for (std::string& name : inputs) {
    if (!model.Initializers.contains(name)) model.Inputs.push_back(std::move(name));
  }
}

}  // namespace

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

// Mapped directly rather than from the heap, so that a freed tensor goes back to the system at
// once and a process's memory is what its live tensors take: a heap keeps what it is given.
void* AllocateLarge(std::size_t bytes) {
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  // A huge page must start at a multiple of its size: map one more and cut the ends off.
  const std::size_t mapped = rounded + kHugePage;
  void* at = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (at == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(at);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) ::munmap(at, aligned - start);
  const std::size_t tail = start + mapped - (aligned + rounded);
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + rounded), tail);
  ::madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void FreeLarge(void* at, std::size_t bytes) noexcept {
  ::munmap(at, (bytes + kHugePage - 1) / kHugePage * kHugePage);
}

int64_t Tensor::Count() const {
  int64_t count = 1;
  for (const int64_t dim : Shape) count *= dim;
  return count;
}

const Attribute* Node::Find(std::string_view name) const {
  for (const Attribute& attribute : Attributes) {
    if (attribute.Name == name) return &attribute;
  }
  return nullptr;
}

int64_t Node::Int(std::string_view name, int64_t otherwise) const {
  const Attribute* attribute = Find(name);
  return attribute ? attribute->I : otherwise;
}

float Node::Float(std::string_view name, float otherwise) const {
  const Attribute* attribute = Find(name);
  return attribute ? attribute->F : otherwise;
}

std::string Node::Text(std::string_view name, std::string_view otherwise) const {
  const Attribute* attribute = Find(name);
  return attribute ? attribute->S : std::string(otherwise);
}

std::vector<int64_t> Node::Ints(std::string_view name) const {
  const Attribute* attribute = Find(name);
  return attribute ? attribute->Ints : std::vector<int64_t>();
}

OnnxModel ParseOnnxModel(std::string_view bytes) {
  Reader in(bytes);
  OnnxModel model;
  bool graph = false;
  while (!in.Done()) {
    const auto [field, wire] = in.Key();
    if (field == 7) {
      ParseGraph(in.Message(wire), model);
      graph = true;
    } else if (field == 8) {
      Reader opset(in.Message(wire));
      std::string domain;
      int64_t version = 0;
      while (!opset.Done()) {
        const auto [f, w] = opset.Key();
        if (f == 1) {
          domain = std::string(opset.Message(w));
        } else if (f == 2) {
          version = static_cast<int64_t>(opset.Varint());
        } else {
          opset.Skip(w);
        }
      }
      if (domain.empty() || domain == "ai.onnx") model.Opset = version;
    } else {
      in.Skip(wire);
    }
  }
  if (!graph || model.Nodes.empty()) throw ModelError("The model file holds no network.");
  return model;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes,
                                         std::string_view what) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    throw ModelError("Cannot open the " + std::string(what) + " " + path + ": " +
                     std::strerror(errno) + ".");
  }
  std::string bytes;
  struct stat st {};
  bool fits =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= maxBytes;
  if (fits) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    fits = got == bytes.size();
  }
  ::close(fd);
  if (!fits) return std::nullopt;
  return bytes;
}

OnnxModel ReadOnnxModel(const std::string& path, std::size_t maxBytes) {
  const std::optional<std::string> bytes = ReadSmallFile(path, maxBytes, "model");
  if (!bytes) {
    throw ModelError("The model " + path + " is not a readable file of at most " +
                     std::to_string(maxBytes >> 20) + " MiB.");
  }
  try {
    return ParseOnnxModel(*bytes);
  } catch (const ModelError& error) {
    throw ModelError(std::string(error.what()) + " (" + path + ")");
  }
}

}  // namespace brevis::neural
