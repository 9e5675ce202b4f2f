// SavedPageText: writing and strictly reading the small file that keeps a page file's text.
#include "ocr/saved_page_text.h"

#include "ocr/ocr_engine.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/atomic_file.h"
#include "common/fnv1a.h"
#include "common/text.h"
#include "ocr/recognizer.h"

namespace brevis {

namespace {

constexpr std::string_view kFormat = "brevisfetch page text 1";
// An image of more lines than this is no page's.
constexpr std::size_t kMaxLines = 10000;

// The engine that read the text; the languages line after it says "neural" for the neural one.
std::string EngineLine(std::string_view languages) {
  return "engine " + OcrRecognitionVersion(languages);
}

// The page file's size and hash tell it from one fetched again since.
std::string PageLine(std::string_view pageBytes) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a64(pageBytes)));
  return "page " + std::to_string(pageBytes.size()) + " " + hash;
}

// A backslash and every control character as an escape, so that a line's text stays on its line.
std::string Escape(const std::u16string& text) {
  std::string out;
  for (const char c : Utf16ToUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The text that Escape wrote; false for anything Escape does not write.
bool Unescape(std::string_view escaped, std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(escaped[i]);
    if (byte < 0x20 || byte == 0x7f) return false;
    if (escaped[i] != '\\') {
      out += escaped[i];
    } else if (escaped.substr(i + 1, 1) == "\\") {
      out += '\\';
      ++i;
    } else if (escaped.substr(i + 1, 1) == "x" && i + 3 < escaped.size() &&
               HexDigit(escaped[i + 2]) >= 0 && HexDigit(escaped[i + 3]) >= 0) {
      const int value = HexDigit(escaped[i + 2]) * 16 + HexDigit(escaped[i + 3]);
      if (value >= 0x20 && value != 0x7f) return false;
      out += static_cast<char>(value);
      i += 3;
    } else {
      return false;
    }
  }
  text = Utf8ToUtf16(out);
  // Ill-formed UTF-8 comes back changed.
  return Utf16ToUtf8(text) == out;
}

// Reads the saved text line by line, each ended by a line feed.
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}
  bool Next(std::string_view& line) {
    const std::size_t end = rest_.find('\n');
    if (end == std::string_view::npos) return false;
    line = rest_.substr(0, end);
    rest_.remove_prefix(end + 1);
    return true;
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// The decimal number (no sign, no leading blank) that starts `text`, moving past it and one
// blank after it when `blank`; false when there is none or it does not fit.
template <typename Number>
bool TakeNumber(std::string_view& text, Number& value, bool blank) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  if (!blank) return true;
  if (text.empty() || text[0] != ' ') return false;
  text.remove_prefix(1);
  return true;
}

bool TakeWord(std::string_view& text, std::string_view word) {
  if (!text.starts_with(word)) return false;
  text.remove_prefix(word.size());
  return true;
}

// One "image" line and its lines, the lines' boxes within the image.
bool ParseImage(std::string_view head, Lines& lines, ImageText& image) {
  std::size_t count = 0;
  if (!TakeWord(head, "image ") || !TakeNumber(head, image.Width, true) ||
      !TakeNumber(head, image.Height, true) || !TakeNumber(head, count, false) || !head.empty() ||
      count > kMaxLines) {
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::string_view line;
    RecognizedLine read;
    TextBox& box = read.Box;
    if (!lines.Next(line) || !TakeWord(line, "line ") || !TakeNumber(line, box.X0, true) ||
        !TakeNumber(line, box.Y0, true) || !TakeNumber(line, box.X1, true) ||
        !TakeNumber(line, box.Y1, true) || !Unescape(line, read.Text)) {
      return false;
    }
    if (box.X0 > box.X1 || box.X1 > image.Width || box.Y0 > box.Y1 || box.Y1 > image.Height) {
      return false;
    }
    image.Lines.push_back(std::move(read));
  }
  return true;
}

// The whole file's bytes, at most `cap` + 1 of them; false when it cannot be read.
bool ReadBytes(const std::string& path, std::size_t cap, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.clear();
  char buffer[65536];
  while (in && bytes.size() <= cap) {
    in.read(buffer, sizeof buffer);
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  return !in.bad();
}

}  // namespace

std::string SavedTextContents(const PageText& text, std::string_view languages,
                              std::string_view pageBytes) {
  std::string out = std::string(kFormat) + "\n" + EngineLine(languages) + "\nlanguages " +
                    std::string(languages) + "\n" + PageLine(pageBytes) + "\nimages " +
                    std::to_string(text.Images.size()) + "\n";
  for (const ImageText& image : text.Images) {
    out += "image " + std::to_string(image.Width) + " " + std::to_string(image.Height) + " " +
           std::to_string(image.Lines.size()) + "\n";
    for (const RecognizedLine& line : image.Lines) {
      const TextBox& box = line.Box;
      out += "line " + std::to_string(box.X0) + " " + std::to_string(box.Y0) + " " +
             std::to_string(box.X1) + " " + std::to_string(box.Y1) + " " + Escape(line.Text) + "\n";
    }
  }
  return out + "end\n";
}

std::optional<PageText> ParseSavedText(std::string_view saved, std::string_view languages,
                                       std::string_view pageBytes) {
  if (saved.size() > kMaxSavedTextBytes) return std::nullopt;
  Lines lines(saved);
  std::string_view line;
  std::size_t images = 0;
  if (!lines.Next(line) || line != kFormat || !lines.Next(line) || line != EngineLine(languages) ||
      !lines.Next(line) || line != "languages " + std::string(languages) || !lines.Next(line) ||
      line != PageLine(pageBytes) || !lines.Next(line) || !TakeWord(line, "images ") ||
      !TakeNumber(line, images, false) || !line.empty() || images > kMaxLines) {
    return std::nullopt;
  }
  PageText text;
  for (std::size_t i = 0; i < images; ++i) {
    ImageText image;
    if (!lines.Next(line) || !ParseImage(line, lines, image)) return std::nullopt;
    text.Images.push_back(std::move(image));
  }
  // The end line tells a whole file from one cut short after its last full line.
  if (!lines.Next(line) || line != "end" || !lines.AtEnd()) return std::nullopt;
  return text;
}

std::optional<std::string> ReadPageBytes(const std::string& path) {
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void SavePageText(const std::string& savedPath, std::string_view pageBytes,
                  std::string_view languages, const PageText& text) {
  if (!text.Error.empty()) return;
  try {
    const std::string saved = SavedTextContents(text, languages, pageBytes);
    WriteFileAtomically(savedPath, reinterpret_cast<const uint8_t*>(saved.data()), saved.size());
  } catch (const std::exception&) {
    // The text is only kept for a later run (a full disk, a folder that cannot be written); this
    // one has it already.
  }
}

std::optional<PageText> ReadSavedPageText(const std::string& savedPath, std::string_view pageBytes,
                                          std::string_view languages) {
  try {
    std::string saved;
    if (!ReadBytes(savedPath, kMaxSavedTextBytes, saved)) return std::nullopt;
    return ParseSavedText(saved, languages, pageBytes);
  } catch (const std::exception&) {
    // Out of memory, say: the page is recognised instead.
    return std::nullopt;
  }
}

}  // namespace brevis
