// JSON lines: one flat JSON object a line, of string, number, boolean and null members, as the
// bulk run's report keeps them. The writer always gives valid UTF-8 JSON on one line; the reader
// takes any flat object and refuses nested ones, which no line of ours holds.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace brevis {

// Builds one object, members in the order they are added.
class JsonLineWriter final {
 public:
  void Add(std::string_view key, std::string_view text);
  void Add(std::string_view key, int64_t number);
  // `decimals` digits after the point; a value that is not finite is written null.
  void Add(std::string_view key, double number, int decimals);
  // The object, with a line feed at its end.
  std::string Line() const { return "{" + members_ + "}\n"; }

 private:
  void AddKey(std::string_view key);

  std::string members_;
};

// `text` as a JSON string, quotes included. Control characters are escaped, and bytes that are
// not well-formed UTF-8 become U+FFFD, so the result is valid JSON whatever the input.
std::string JsonString(std::string_view text);

// One member's value as read: Text holds a string's UTF-8 text, or a number, true, false or null
// as written.
struct JsonValue {
  enum class Kind { kString, kNumber, kBoolean, kNull };
  Kind Type = Kind::kNull;
  std::string Text;
};

// The members of a flat JSON object (blanks around it allowed); nullopt when `line` is not one:
// bad syntax, a nested object or array, a string that is not UTF-8, or a key given twice.
std::optional<std::map<std::string, JsonValue>> ReadJsonLine(std::string_view line);

}  // namespace brevis
