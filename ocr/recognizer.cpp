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
#include "ocr/uncovered_ink.h"

namespace brevis {

namespace {

constexpr char kDebianDataFolder[] = "/usr/share/tesseract-ocr/5/tessdata";

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

// Appends the lines of the engine's last recognition, each line's words joined with the blanks
// that the gaps the engine measured call for.
void ReadLines(tesseract::TessBaseAPI& api, std::vector<RecognizedLine>& lines) {
  const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
  if (!it) return;
  it->Begin();
  do {
    if (it->Empty(tesseract::RIL_TEXTLINE)) continue;
    TextBox line;
    it->BoundingBox(tesseract::RIL_TEXTLINE, &line.X0, &line.Y0, &line.X1, &line.Y1);
    // The line as the engine writes it: its words, each after as many blanks as the engine
    // measures in the ink before it (preserve_interword_spaces). Its boxes of words may be a
    // character off, its count of blanks is not.
    const std::u16string spaced = [&] {
      const std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
      return utf8 ? Utf8ToUtf16(utf8.get()) : std::u16string();
    }();
    std::size_t read_to = 0;  // where the words taken end in `spaced`
    std::vector<LineWord> words;
    TextBox box;
    do {
      TextBox word;
      if (!it->BoundingBox(tesseract::RIL_WORD, &word.X0, &word.Y0, &word.X1, &word.Y1)) continue;
      if (words.empty()) {
        box = {word.X0, line.Y0, word.X1, line.Y1};
      } else {
        box.X1 = std::max(box.X1, word.X1);
      }
      std::u16string text = ElementText(*it, tesseract::RIL_WORD);
      // The engine sets a blank for white at least as wide as a Latin one: a printed gap,
      // taken as a character's width.
      int gap = -1;
      if (const std::size_t at = spaced.find(text, read_to); at != std::u16string::npos) {
        const auto blanks = std::count(spaced.begin() + static_cast<std::ptrdiff_t>(read_to),
                                       spaced.begin() + static_cast<std::ptrdiff_t>(at), u' ');
        gap = blanks > 0 ? line.Y1 - line.Y0 : 0;
        read_to = at + text.size();
      }
      words.push_back({std::move(text), word.X0, word.X1, gap});
    } while (!it->IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD) &&
             it->Next(tesseract::RIL_WORD));
    RecognizedLine read{JoinWords(words, line.Y1 - line.Y0), box};
    if (!read.Text.empty()) lines.push_back(std::move(read));
  } while (it->Next(tesseract::RIL_TEXTLINE));
}

}  // namespace

std::string OcrEngineVersion() {
  return std::string("tesseract ") + tesseract::TessBaseAPI::Version();
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
  engine_->Api.SetVariable("preserve_interword_spaces", "1");
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
  ReadLines(api, lines);

  // The page layout may pass over short rows and whatever is near a drawing: rows of glyphs no
  // line covers are read one by one, as single lines.
  const std::vector<TextBox> rows = RowsNotRead(page, lines);
  if (!rows.empty()) {
    api.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    for (const TextBox& row : rows) {
      // A margin of white around the row, as the engine expects around a line.
      const int margin = (row.Y1 - row.Y0) / 2;
      const int x0 = std::max(0, row.X0 - margin);
      const int y0 = std::max(0, row.Y0 - margin);
      api.SetRectangle(x0, y0, std::min(page.Width, row.X1 + margin) - x0,
                       std::min(page.Height, row.Y1 + margin) - y0);
      if (api.Recognize(nullptr) == 0) ReadLines(api, lines);
    }
    api.SetPageSegMode(tesseract::PSM_AUTO);
  }
  api.Clear();
  JoinRows(lines);
  return lines;
}

}  // namespace brevis
