// OnnxModel: model bytes written field by field in the test, read back; malformed bytes and
// unreadable files refused with ModelError.
#include "ocr/neural/onnx_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "ocr/neural/tests/onnx_bytes.h"

namespace brevis::neural {
namespace {

using namespace test;

// The message of the ModelError `f` throws, or "" when it throws none.
template <typename F>
std::string ModelErrorOf(F f) {
  try {
    f();
  } catch (const ModelError& error) {
    return error.what();
  }
  return "";
}

TEST(OnnxModelTest, ReadsNodesAttributesInitializersAndOpset) {
  // A tensor attribute of three int32 values as varints of their sign extension.
  const std::string value =
      Dims({3}) + VarintField(2, 6) + VarintField(5, -2) + VarintField(5, 0) + VarintField(5, 7);
  const std::string graph =
      BytesField(2, "graph name") +  // skipped
      BytesField(
          1, NodeBytes("Conv", {"x", "w", ""}, {"y"},
                       {IntsAttribute("strides", {2, 3}),
                        // Repeated integers not packed, one field each.
                        BytesField(1, "pads") + VarintField(8, 1) + VarintField(8, -1),
                        IntAttribute("group", 3), FloatAttribute("alpha", 0.25f),
                        TextAttribute("auto_pad", "NOTSET"), TensorAttribute("value", value)})) +
      BytesField(1, NodeBytes("Relu", {"y"}, {"z"})) +
      // float raw_data
      BytesField(5, FloatTensor("w", {2, 1}, {1.5f, -2.0f})) +
      // float_data packed, and not packed
      BytesField(5, Dims({2}) + BytesField(8, "packed") + PackedFloats(4, {0.5f, 3.0f})) +
      BytesField(5,
                 Dims({2}) + BytesField(8, "loose") + FloatField(4, 4.0f) + FloatField(4, 5.0f)) +
      // int64_data with a negative value, int32 and bool as raw_data little-endian
      BytesField(5, IntTensor("shape", {2}, {-1, 1LL << 40})) +
      BytesField(5, Dims({2}) + VarintField(2, 6) + BytesField(8, "i32") +
                        BytesField(9, std::string("\xFE\xFF\xFF\xFF\x05\x00\x00\x00", 8))) +
      BytesField(5, Dims({2}) + VarintField(2, 9) + BytesField(8, "flags") +
                        BytesField(9, std::string("\x01\x00", 2))) +
      // A scalar: no dims, one value.
      BytesField(5, FloatTensor("scalar", {}, {9.0f})) + BytesField(11, BytesField(1, "x")) +
      BytesField(11, BytesField(1, "w")) +
      BytesField(12, BytesField(1, "z") + BytesField(2, "type, skipped"));
  const std::string bytes =
      VarintField(1, 8) + BytesField(2, "producer") + Key(9, 1) + std::string(8, '\x01') +
      Key(10, 5) + Fixed32(1.0f) +
      // Only the default domain's opset counts, whether named "" or "ai.onnx".
      BytesField(8, VarintField(2, 13)) +
      BytesField(8, BytesField(1, "com.microsoft") + VarintField(2, 1)) + BytesField(7, graph);

  const OnnxModel model = ParseOnnxModel(bytes);
  EXPECT_EQ(model.Opset, 13);
  EXPECT_EQ(ParseOnnxModel(BytesField(8, BytesField(1, "ai.onnx") + VarintField(2, 11)) +
                           BytesField(7, graph))
                .Opset,
            11);
  ASSERT_EQ(model.Nodes.size(), 2u);
  const Node& conv = model.Nodes[0];
  EXPECT_EQ(conv.Op, "Conv");
  EXPECT_EQ(conv.Inputs, (std::vector<std::string>{"x", "w", ""}));
  EXPECT_EQ(conv.Outputs, std::vector<std::string>{"y"});
  EXPECT_EQ(conv.Ints("strides"), (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(conv.Ints("pads"), (std::vector<int64_t>{1, -1}));
  EXPECT_EQ(conv.Int("group", 1), 3);
  EXPECT_EQ(conv.Int("absent", 4), 4);
  EXPECT_EQ(conv.Float("alpha", 0), 0.25f);
  EXPECT_EQ(conv.Text("auto_pad", ""), "NOTSET");
  EXPECT_TRUE(conv.Ints("absent").empty());
  ASSERT_NE(conv.Find("value"), nullptr);
  const Tensor& attribute = conv.Find("value")->T;
  EXPECT_TRUE(attribute.IsInt);
  EXPECT_EQ(attribute.Ints, (std::vector<int64_t>{-2, 0, 7}));
  EXPECT_EQ(model.Nodes[1].Op, "Relu");

  const auto floats = [&](const std::string& name) {
    const Tensor& t = model.Initializers.at(name);
    EXPECT_FALSE(t.IsInt) << name;
    return std::vector<float>(t.Floats.begin(), t.Floats.end());
  };
  EXPECT_EQ(model.Initializers.at("w").Shape, (std::vector<int64_t>{2, 1}));
  EXPECT_EQ(floats("w"), (std::vector<float>{1.5f, -2.0f}));
  EXPECT_EQ(floats("packed"), (std::vector<float>{0.5f, 3.0f}));
  EXPECT_EQ(floats("loose"), (std::vector<float>{4.0f, 5.0f}));
  EXPECT_EQ(floats("scalar"), std::vector<float>{9.0f});
  EXPECT_TRUE(model.Initializers.at("scalar").Shape.empty());
  EXPECT_EQ(model.Initializers.at("shape").Ints, (std::vector<int64_t>{-1, 1LL << 40}));
  EXPECT_EQ(model.Initializers.at("i32").Ints, (std::vector<int64_t>{-2, 5}));
  EXPECT_EQ(model.Initializers.at("flags").Ints, (std::vector<int64_t>{1, 0}));
  EXPECT_TRUE(model.Initializers.at("flags").IsInt);
  // "w" is an initializer, so not an input the caller gives.
  EXPECT_EQ(model.Inputs, std::vector<std::string>{"x"});
  EXPECT_EQ(model.Outputs, std::vector<std::string>{"z"});
}

TEST(OnnxModelTest, RefusesMalformedBytes) {
  const std::string node = BytesField(1, NodeBytes("Relu", {"x"}, {"y"}));
  // A model whose graph holds `tensor` as an initializer beside a node.
  const auto withTensor = [&](const std::string& tensor) {
    return BytesField(7, node + BytesField(5, tensor));
  };
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;  // a part of the error's message
  };
  const Case kCases[] = {
      // Framing.
      {"empty file", "", "holds no network"},
      {"no graph", BytesField(8, VarintField(2, 13)), "holds no network"},
      {"graph without nodes", BytesField(7, BytesField(5, FloatTensor("w", {1}, {1}))),
       "holds no network"},
      {"truncated varint", VarintField(1, 8).append("\x08\x80"), "truncated"},
      {"varint over 64 bits", Key(1, 0).append(10, '\x80').append(1, '\x01'),
       "longer than 64 bits"},
      {"length past the end", Key(7, 2) + Varint(100) + node, "truncated"},
      {"field number 0", std::string("\x00\x01", 2), "malformed"},
      {"group wire type", Key(3, 3), "malformed"},
      {"graph as a varint", VarintField(7, 1), "malformed"},
      {"float attribute as a varint",
       BytesField(7, BytesField(1, NodeBytes("Relu", {"x"}, {"y"},
                                             {BytesField(1, "alpha") + VarintField(2, 1)}))),
       "malformed"},
      {"node without operator", BytesField(7, BytesField(1, BytesField(1, "x"))), "no operator"},
      // Tensors.
      {"raw floats short of the shape", withTensor(FloatTensor("w", {2, 2}, {1, 2, 3})),
       "does not fit its shape"},
      {"float_data short of the shape",
       withTensor(Dims({2}) + BytesField(8, "w") + PackedFloats(4, {1})), "does not fit its shape"},
      {"packed floats not whole",
       withTensor(Dims({1}) + BytesField(8, "w") + BytesField(4, "abcde")), "malformed"},
      {"int64_data beyond the shape", withTensor(IntTensor("s", {2}, {1, 2, 3})),
       "does not fit its shape"},
      {"raw int64 short of the shape",
       withTensor(Dims({2}) + VarintField(2, 7) + BytesField(9, std::string(12, '\0'))),
       "does not fit its shape"},
      {"data type 11 (double)",
       withTensor(Dims({1}) + VarintField(2, 11) + BytesField(9, std::string(8, '\0'))),
       "data type 11"},
      {"external data",
       withTensor(Dims({1}) + VarintField(2, 1) + BytesField(8, "w") + VarintField(14, 1)),
       "other files"},
      {"negative dimension", withTensor(FloatTensor("w", {-1}, {})), "impossible size"},
      {"dimensions past 2^40", withTensor(FloatTensor("w", {1 << 21, 1 << 20}, {})),
       "impossible size"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string message = ModelErrorOf([&] { ParseOnnxModel(c.bytes); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

class OnnxFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "onnx_model_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string dir_;
};

TEST_F(OnnxFileTest, ReadsARegularFileWithinItsBound) {
  const std::string model =
      GraphBytes().Node("Relu", {"x"}, {"y"}).Input("x").Output("y").Model(13);
  const std::string path = Write("model.onnx", model);
  EXPECT_EQ(ReadOnnxModel(path, model.size()).Nodes.size(), 1u);

  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string path;
    std::size_t maxBytes;
    const char* message;
  };
  const Case kCases[] = {
      {"missing", dir_ + "/missing.onnx", 1 << 20, "Cannot open the model"},
      {"a directory", dir_, 1 << 20, "not a readable file of at most 1 MiB"},
      {"one byte over", path, model.size() - 1, "not a readable file"},
      {"malformed", Write("bad.onnx", "\x08"), 1 << 20, "truncated"},
      {"a FIFO", fifo, 1 << 20, "not a readable file"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    // A FIFO without a writer must not block the reader: run it aside, and if it blocks, open
    // the writing end to let it go.
    auto message = std::async(std::launch::async, [&] {
      return ModelErrorOf([&] { ReadOnnxModel(c.path, c.maxBytes); });
    });
    if (message.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
      ADD_FAILURE() << "ReadOnnxModel blocks";
      const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      ::close(writer);
    }
    const std::string text = message.get();
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    // Every message names the file.
    EXPECT_NE(text.find(c.path), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace brevis::neural
