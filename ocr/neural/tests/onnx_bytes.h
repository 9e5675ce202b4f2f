// A small writer of ONNX model bytes for the tests: protocol buffers fields by hand, and the
// model, graph, node, attribute and tensor messages built from them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace brevis::neural::test {

// Wire format: a varint is 7 bits a byte, low first, the top bit saying more follow.
inline std::string Varint(uint64_t value) {
  std::string out;
  do {
    out.push_back(static_cast<char>((value & 0x7F) | (value > 0x7F ? 0x80 : 0)));
    value >>= 7;
  } while (value != 0);
  return out;
}
inline std::string Key(uint32_t field, uint32_t wire) { return Varint(field << 3 | wire); }
inline std::string VarintField(uint32_t field, int64_t value) {
  return Key(field, 0) + Varint(static_cast<uint64_t>(value));
}
inline std::string BytesField(uint32_t field, std::string_view bytes) {
  return Key(field, 2) + Varint(bytes.size()) + std::string(bytes);
}
inline std::string Fixed32(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(bits >> (8 * i) & 0xFF));
  return out;
}
inline std::string FloatField(uint32_t field, float value) {
  return Key(field, 5) + Fixed32(value);
}
inline std::string PackedFloats(uint32_t field, const std::vector<float>& values) {
  std::string packed;
  for (const float v : values) packed += Fixed32(v);
  return BytesField(field, packed);
}
inline std::string PackedInts(uint32_t field, const std::vector<int64_t>& values) {
  std::string packed;
  for (const int64_t v : values) packed += Varint(static_cast<uint64_t>(v));
  return BytesField(field, packed);
}

// TensorProto: dims 1, data_type 2, float_data 4, int64_data 7, name 8, raw_data 9.
inline std::string Dims(const std::vector<int64_t>& shape) {
  std::string out;
  for (const int64_t d : shape) out += VarintField(1, d);
  return out;
}
// Floats as raw_data.
inline std::string FloatTensor(std::string_view name, const std::vector<int64_t>& shape,
                               const std::vector<float>& values) {
  std::string raw;
  for (const float v : values) raw += Fixed32(v);
  return Dims(shape) + VarintField(2, 1) + BytesField(8, name) + BytesField(9, raw);
}
// 64-bit integers as packed int64_data.
inline std::string IntTensor(std::string_view name, const std::vector<int64_t>& shape,
                             const std::vector<int64_t>& values) {
  return Dims(shape) + VarintField(2, 7) + BytesField(8, name) + PackedInts(7, values);
}

// AttributeProto: name 1, f 2, i 3, s 4, t 5, ints 8.
inline std::string IntAttribute(std::string_view name, int64_t value) {
  return BytesField(1, name) + VarintField(3, value);
}
inline std::string FloatAttribute(std::string_view name, float value) {
  return BytesField(1, name) + FloatField(2, value);
}
inline std::string IntsAttribute(std::string_view name, const std::vector<int64_t>& values) {
  return BytesField(1, name) + PackedInts(8, values);
}
inline std::string TextAttribute(std::string_view name, std::string_view value) {
  return BytesField(1, name) + BytesField(4, value);
}
inline std::string TensorAttribute(std::string_view name, const std::string& tensor) {
  return BytesField(1, name) + BytesField(5, tensor);
}

// NodeProto: input 1, output 2, op_type 4, attribute 5.
inline std::string NodeBytes(std::string_view op, const std::vector<std::string>& inputs,
                             const std::vector<std::string>& outputs,
                             const std::vector<std::string>& attributes = {}) {
  std::string out;
  for (const std::string& name : inputs) out += BytesField(1, name);
  for (const std::string& name : outputs) out += BytesField(2, name);
  out += BytesField(4, op);
  for (const std::string& attribute : attributes) out += BytesField(5, attribute);
  return out;
}

// GraphProto (node 1, initializer 5, input 11, output 12, a ValueInfoProto's name 1) in a
// ModelProto (graph 7, opset_import 8 of domain 1 and version 2).
struct GraphBytes {
  std::string Bytes;

  GraphBytes& Node(std::string_view op, const std::vector<std::string>& inputs,
                   const std::vector<std::string>& outputs,
                   const std::vector<std::string>& attributes = {}) {
    Bytes += BytesField(1, NodeBytes(op, inputs, outputs, attributes));
    return *this;
  }
  GraphBytes& Initializer(const std::string& tensor) {
    Bytes += BytesField(5, tensor);
    return *this;
  }
  GraphBytes& Input(std::string_view name) {
    Bytes += BytesField(11, BytesField(1, name));
    return *this;
  }
  GraphBytes& Output(std::string_view name) {
    Bytes += BytesField(12, BytesField(1, name));
    return *this;
  }
  std::string Model(int64_t opset) const {
    return VarintField(1, 8) + BytesField(8, VarintField(2, opset)) + BytesField(7, Bytes);
  }
};

}  // namespace brevis::neural::test
