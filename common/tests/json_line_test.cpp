// JSON lines: what the writer gives for awkward text, and what the reader takes and refuses.
#include "common/json_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/text.h"

namespace brevis {
namespace {

TEST(JsonLineTest, WriterEscapesTextIntoValidJson) {
  using namespace std::string_literals;
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"CN200710038426", R"("CN200710038426")"},
      {"say \"no\" \\ here", R"("say \"no\" \\ here")"},
      {"line\nnext\r\ttab", R"("line\nnext\r\ttab")"},
      {"nul\0bell\x07"
       "del\x7F"s,
       R"("nul\u0000bell\u0007del\u007f")"},
      {"\xE5\x8F\x91\xE6\x98\x8E \xF0\x9F\x98\x80",
       "\"\xE5\x8F\x91\xE6\x98\x8E \xF0\x9F\x98\x80\""},
      // A server's bytes that are not UTF-8 must not make the line unreadable.
      {"a\xFF"
       "b\xC3",
       "\"a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonString(c.text), c.json) << c.text;
    const auto read = ReadJsonLine("{\"k\":" + c.json + "}");
    ASSERT_TRUE(read.has_value()) << c.json;
    EXPECT_EQ(read->at("k").Text, Utf16ToUtf8(Utf8ToUtf16(c.text)));
  }
}

TEST(JsonLineTest, WriterKeepsMemberOrderAndNumbers) {
  JsonLineWriter line;
  line.Add("number", "CN200710038426");
  line.Add("pages", int64_t{12});
  line.Add("seconds", 1.23456, 3);
  line.Add("rate", std::numeric_limits<double>::quiet_NaN(), 1);
  EXPECT_EQ(line.Line(), R"({"number":"CN200710038426","pages":12,"seconds":1.235,"rate":null})"
                         "\n");
  const auto read = ReadJsonLine(line.Line());
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->at("pages").Type, JsonValue::Kind::kNumber);
  EXPECT_EQ(read->at("seconds").Text, "1.235");
  EXPECT_EQ(read->at("rate").Type, JsonValue::Kind::kNull);
}

TEST(JsonLineTest, ReaderTakesFlatObjectsOnly) {
  struct Case {
    const char* line;
    bool taken;
  };
  const Case cases[] = {
      {"{}", true},
      {" { \"a\" : -0.5e+3 , \"b\":true,\"c\":null,\"d\":false } \r\n", true},
      {R"({"s":"\u4e2d\ud83d\ude00\/"})", true},
      {"", false},
      {"{", false},
      {R"({"a":1,})", false},
      {R"({"a":1} x)", false},
      {R"({"a":1,"a":2})", false},       // a key twice
      {R"({"a":{"b":1}})", false},       // nested
      {R"({"a":[1]})", false},           // nested
      {R"({"a":01})", false},            // leading zero
      {R"({"a":1.})", false},            // no digit after the point
      {R"({"a":"\x"})", false},          // unknown escape
      {R"({"a":"\ud83d"})", false},      // lone high surrogate
      {R"({"a":"\ude00"})", false},      // lone low surrogate
      {"{\"a\":\"tab\there\"}", false},  // raw control character
      {"{\"a\":\"\xFF\"}", false},       // not UTF-8
      {R"({"a":"unterminated})", false},
      {R"({a:1})", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadJsonLine(c.line).has_value(), c.taken) << c.line;
  EXPECT_EQ(ReadJsonLine(R"({"s":"\u4e2d\ud83d\ude00\/"})")->at("s").Text,
            "\xE4\xB8\xAD\xF0\x9F\x98\x80/");
}

}  // namespace
}  // namespace brevis
