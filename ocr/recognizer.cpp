// Recognizer: Tesseract's LSTM engine on our decoded pages, read line by line and word by word,
// with the blanks between words decided here rather than by the engine.
#include "ocr/recognizer.h"

#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "common/text.h"

namespace brevis {

namespace {

constexpr char kDebianDataFolder[] = "/usr/share/tesseract-ocr/5/tessdata";

char32_t FirstCodePoint(const std::u16string& text) {
  std::size_t i = 0;
  return NextCodePoint(text, i);
}

char32_t LastCodePoint(const std::u16string& text) {
  std::size_t i = text.size() - 1;
  // Back to the start of a surrogate pair; a lone low surrogate is a code point of its own.
  if (i > 0 && text[i] >= 0xDC00 && text[i] < 0xE000 && text[i - 1] >= 0xD800 &&
      text[i - 1] < 0xDC00) {
    --i;
  }
  return NextCodePoint(text, i);
}

// The text of the iterator's element at `level`, trimmed of blanks; empty when it has none.
std::u16string ElementText(const tesseract::ResultIterator& it,
                           tesseract::PageIteratorLevel level) {
  const std::unique_ptr<char[]> utf8(it.GetUTF8Text(level));
  if (!utf8) return {};
  std::u16string text = Utf8ToUtf16(utf8.get());
  const std::size_t first = text.find_first_not_of(u" \t\r\n");
  if (first == std::u16string::npos) return {};
  const std::size_t last = text.find_last_not_of(u" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

void JoinRows(std::vector<RecognizedLine>& lines) {
  std::stable_sort(
      lines.begin(), lines.end(),
      [](const RecognizedLine& a, const RecognizedLine& b) { return a.Box.Y0 < b.Box.Y0; });
  std::vector<RecognizedLine> rows;
  auto first = lines.begin();
  while (first != lines.end()) {
    // The lines that reach into the middle of the first one's height share its row.
    const int middle = (first->Box.Y0 + first->Box.Y1) / 2;
    const auto end = std::find_if(
        first, lines.end(), [middle](const RecognizedLine& line) { return line.Box.Y0 > middle; });
    std::stable_sort(first, end, [](const RecognizedLine& a, const RecognizedLine& b) {
      return a.Box.X0 < b.Box.X0;
    });
    // Joined as words are: the engine may also cut one printed line in two.
    RecognizedLine row{{}, first->Box};
    std::vector<LineWord> parts;
    for (auto part = first; part != end; ++part) {
      parts.push_back({std::move(part->Text), part->Box.X0, part->Box.X1});
      row.Box = {std::min(row.Box.X0, part->Box.X0), std::min(row.Box.Y0, part->Box.Y0),
                 std::max(row.Box.X1, part->Box.X1), std::max(row.Box.Y1, part->Box.Y1)};
    }
    row.Text = JoinWords(parts, (row.Box.Y1 - row.Box.Y0) / 2);
    rows.push_back(std::move(row));
    first = end;
  }
  lines = std::move(rows);
}

std::string OcrDataFolder() {
  const char* prefix = std::getenv("TESSDATA_PREFIX");
  return prefix != nullptr && *prefix != '\0' ? prefix : kDebianDataFolder;
}

void CheckOcrLanguages(std::string_view languages) {
  if (languages.empty()) throw OcrError("No recognition language given.");
  std::size_t start = 0;
  while (start <= languages.size()) {
    const std::size_t end = std::min(languages.find('+', start), languages.size());
    const std::string language(languages.substr(start, end - start));
    if (language.empty() ||
        language.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") !=
            std::string::npos) {
      throw OcrError("\"" + std::string(languages) + "\" is not a list of recognition languages.");
    }
    const std::filesystem::path data =
        std::filesystem::path(OcrDataFolder()) / (language + ".traineddata");
    std::error_code error;
    if (!std::filesystem::is_regular_file(data, error)) {
      std::string package = "tesseract-ocr-" + language;
      for (char& c : package) {
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      throw OcrError("The recognition language " + language + " is not installed (no " +
                     data.string() + "): install the Debian package " + package + ".");
    }
    start = end + 1;
  }
}

bool IsCjk(char32_t c) {
  return (c >= 0x2E80 && c <= 0x2FDF) ||  // radicals
         (c >= 0x3000 && c <= 0x30FF) ||  // CJK punctuation, kana
         (c >= 0x3100 && c <= 0x31FF) ||  // bopomofo, kana extensions
         (c >= 0x3400 && c <= 0x4DBF) ||  // ideographs, extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||  // ideographs
         (c >= 0xAC00 && c <= 0xD7AF) ||  // hangul
         (c >= 0xF900 && c <= 0xFAFF) ||  // compatibility ideographs
         (c >= 0xFE30 && c <= 0xFE4F) ||  // compatibility forms
         (c >= 0xFF00 && c <= 0xFFEF) ||  // full-width forms
         (c >= 0x20000 && c <= 0x3FFFF);  // ideographs, supplementary planes
}

std::u16string JoinWords(const std::vector<LineWord>& words, int wide_gap) {
  std::u16string line;
  int end = 0;  // where the last word taken ends
  for (const LineWord& word : words) {
    if (word.Text.empty()) continue;
    if (!line.empty()) {
      const bool cjk_before = IsCjk(LastCodePoint(line));
      const bool cjk_after = IsCjk(FirstCodePoint(word.Text));
      const bool blank = cjk_before == cjk_after ? !cjk_before : word.X0 - end >= wide_gap;
      if (blank) line += u' ';
    }
    line += word.Text;
    end = word.X1;
  }
  return line;
}

struct Recognizer::Engine {
  tesseract::TessBaseAPI Api;
};

Recognizer::Recognizer(std::string_view languages) : engine_(std::make_unique<Engine>()) {
  CheckOcrLanguages(languages);
  // Starting an engine writes the library's global parameters: one engine starts at a time.
  static std::mutex starting;
  const std::lock_guard<std::mutex> guard(starting);
  if (engine_->Api.Init(OcrDataFolder().c_str(), std::string(languages).c_str(),
                        tesseract::OEM_LSTM_ONLY) != 0) {
    throw OcrError("The recognition engine does not start for " + std::string(languages) + ".");
  }
  // The engine's diagnostics would go to standard error, between our own lines.
  engine_->Api.SetVariable("debug_file", "/dev/null");
  engine_->Api.SetPageSegMode(tesseract::PSM_AUTO);
}

Recognizer::~Recognizer() = default;

std::vector<RecognizedLine> Recognizer::Recognize(const OneBitImage& page) {
  if (page.Width <= 0 || page.Height <= 0 ||
      page.Rows.size() < page.Stride * static_cast<std::size_t>(page.Height)) {
    throw OcrError("The page has no image to recognise.");
  }
  // One engine per thread, each single-threaded: the threads that recognise pages are the
  // parallelism, and OpenMP's own threads would only compete with them for the cores. The engine
  // asks for its teams' sizes itself, so only making every parallel region inactive keeps them
  // to one thread.
  omp_set_max_active_levels(0);
  tesseract::TessBaseAPI& api = engine_->Api;
  // A 0 bit is black, as Tesseract takes one-bit images.
  api.SetImage(page.Rows.data(), page.Width, page.Height, 0, static_cast<int>(page.Stride));
  api.SetSourceResolution(page.Dpi > 0 ? page.Dpi : 300);
  if (api.Recognize(nullptr) != 0) throw OcrError("The recognition engine failed on the page.");

  std::vector<RecognizedLine> lines;
  const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
  if (!it) return lines;
  std::vector<LineWord> words;
  TextBox box;
  int wide_gap = 0;
  const auto end_line = [&] {
    RecognizedLine line{JoinWords(words, wide_gap), box};
    if (!line.Text.empty()) lines.push_back(std::move(line));
    words.clear();
  };
  it->Begin();
  do {
    if (it->Empty(tesseract::RIL_TEXTLINE)) continue;
    TextBox line;
    it->BoundingBox(tesseract::RIL_TEXTLINE, &line.X0, &line.Y0, &line.X1, &line.Y1);
    // Half a character's width, in text set solid.
    wide_gap = (line.Y1 - line.Y0) / 2;
    do {
      TextBox word;
      if (!it->BoundingBox(tesseract::RIL_WORD, &word.X0, &word.Y0, &word.X1, &word.Y1)) continue;
      if (words.empty()) {
        box = {word.X0, line.Y0, word.X1, line.Y1};
      } else {
        box.X1 = std::max(box.X1, word.X1);
      }
      words.push_back({ElementText(*it, tesseract::RIL_WORD), word.X0, word.X1});
    } while (!it->IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD) &&
             it->Next(tesseract::RIL_WORD));
    end_line();
  } while (it->Next(tesseract::RIL_TEXTLINE));
  api.Clear();
  JoinRows(lines);
  return lines;
}

}  // namespace brevis
