// JSON lines: the writer's escaping and a small recursive-descent reader of flat objects.
#include "common/json_line.h"

#include <cmath>
#include <cstdio>

#include "common/ascii_text.h"
#include "common/text.h"

namespace brevis {

namespace {

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<std::map<std::string, JsonValue>> Object() {
    std::map<std::string, JsonValue> members;
    SkipBlanks();
    if (!Take('{')) return std::nullopt;
    SkipBlanks();
    if (!Take('}')) {
      do {
        SkipBlanks();
        std::string key;
        if (!String(key)) return std::nullopt;
        SkipBlanks();
        if (!Take(':')) return std::nullopt;
        SkipBlanks();
        JsonValue value;
        if (!Value(value)) return std::nullopt;
        if (!members.emplace(std::move(key), std::move(value)).second) return std::nullopt;
        SkipBlanks();
      } while (Take(','));
      if (!Take('}')) return std::nullopt;
    }
    SkipBlanks();
    if (at_ != text_.size()) return std::nullopt;
    return members;
  }

 private:
  bool Take(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  void SkipBlanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n')) {
      ++at_;
    }
  }

  bool Value(JsonValue& value) {
    if (at_ < text_.size() && text_[at_] == '"') {
      value.Type = JsonValue::Kind::kString;
      return String(value.Text);
    }
    for (const auto& [word, kind] :
         {std::pair{std::string_view("true"), JsonValue::Kind::kBoolean},
          std::pair{std::string_view("false"), JsonValue::Kind::kBoolean},
          std::pair{std::string_view("null"), JsonValue::Kind::kNull}}) {
      if (text_.substr(at_).starts_with(word)) {
        at_ += word.size();
        value.Type = kind;
        value.Text = word;
        return true;
      }
    }
    value.Type = JsonValue::Kind::kNumber;
    return Number(value.Text);
  }

  // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
  bool Number(std::string& out) {
    const std::size_t start = at_;
    const auto digits = [this] {
      const std::size_t from = at_;
      while (at_ < text_.size() && ascii::IsDigit(text_[at_])) ++at_;
      return at_ - from;
    };
    Take('-');
    if (Take('0')) {
    } else if (digits() == 0) {
      return false;
    }
    if (Take('.') && digits() == 0) return false;
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (digits() == 0) return false;
    }
    out = text_.substr(start, at_ - start);
    return true;
  }

  bool Hex4(uint32_t& code) {
    if (text_.size() - at_ < 4) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      code <<= 4;
      if (ascii::IsDigit(c)) {
        code |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        code |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        code |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  bool String(std::string& out) {
    if (!Take('"')) return false;
    out.clear();
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        ++at_;
        continue;
      }
      if (++at_ == text_.size()) return false;
      const char escape = text_[at_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00) {
            uint32_t low = 0;
            if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low >= 0xE000) {
              return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            return false;
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          return false;
      }
    }
    if (!Take('"')) return false;
    // The raw bytes must be UTF-8: what a round trip through UTF-16 keeps unchanged.
    const std::string_view raw = text_.substr(start, at_ - 1 - start);
    return Utf16ToUtf8(Utf8ToUtf16(raw)) == raw;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

std::string JsonString(std::string_view text) {
  const std::string utf8 = Utf16ToUtf8(Utf8ToUtf16(text));
  std::string out = "\"";
  for (const char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void JsonLineWriter::AddKey(std::string_view key) {
  if (!members_.empty()) members_ += ',';
  members_ += JsonString(key);
  members_ += ':';
}

void JsonLineWriter::Add(std::string_view key, std::string_view text) {
  AddKey(key);
  members_ += JsonString(text);
}

void JsonLineWriter::Add(std::string_view key, int64_t number) {
  AddKey(key);
  members_ += std::to_string(number);
}

void JsonLineWriter::Add(std::string_view key, double number, int decimals) {
  AddKey(key);
  if (!std::isfinite(number)) {
    members_ += "null";
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, number);
  members_ += text;
}

std::optional<std::map<std::string, JsonValue>> ReadJsonLine(std::string_view line) {
  return Reader(line).Object();
}

}  // namespace brevis
