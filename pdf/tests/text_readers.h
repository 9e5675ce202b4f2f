// The text of a PDF file as three independent readers give it, page by page and line by line:
// poppler's pdftotext (reading order and -layout), mupdf's `mutool draw -F txt` and pdf.js
// (pdfjs/pdfjs_text.mjs under node). For the tests of the text layer, and for any test that
// wants to know what a person gets when copying text out of a written file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "pdf/tests/pdf_test_support.h"

namespace brevis::pdf_test {

enum class TextReader { kPdftotext, kPdftotextLayout, kMutool, kPdfjs };

inline const char* ReaderName(TextReader reader) {
  switch (reader) {
    case TextReader::kPdftotext:
      return "pdftotext";
    case TextReader::kPdftotextLayout:
      return "pdftotext -layout";
    case TextReader::kMutool:
      return "mutool";
    case TextReader::kPdfjs:
      return "pdf.js";
  }
  return "?";
}

struct ReadText {
  std::string missing;  // why the reader cannot run here; empty when it ran
  std::string error;    // a failure: the command's status and error output; empty on success
  std::string raw;      // the reader's output as it is
  // Per page, the lines that carry text, trailing blanks cut. Blank lines are left out: the
  // readers write them between paragraphs and blocks, and they hold no text of the page. Leading
  // blanks are cut too for pdftotext -layout, which indents each line to its place on the page.
  std::vector<std::vector<std::string>> pages;
};

// Splits a reader's output at form feeds (one after each page) and line breaks.
// With `indented`, leading blanks are cut as well.
inline std::vector<std::vector<std::string>> PagesOfLines(const std::string& text,
                                                          bool indented = false) {
  std::vector<std::vector<std::string>> pages(1);
  std::string line;
  const auto endLine = [&] {
    const std::size_t end = line.find_last_not_of(" \t\r");
    const std::size_t start = indented ? line.find_first_not_of(' ') : 0;
    if (end != std::string::npos) pages.back().push_back(line.substr(start, end + 1 - start));
    line.clear();
  };
  for (const char c : text) {
    if (c == '\n') {
      endLine();
    } else if (c == '\f') {
      endLine();
      pages.emplace_back();
    } else {
      line += c;
    }
  }
  endLine();
  if (pages.size() > 1 && pages.back().empty()) pages.pop_back();
  return pages;
}

inline bool OnPath(const std::string& program) {
  return std::system(("command -v '" + program + "' >/dev/null 2>&1").c_str()) == 0;
}

// The pdf.js script, whose folder holds the package.json that scripts/setup installs.
inline std::filesystem::path PdfjsScript() {
  return std::filesystem::path(PDFJS_SCRIPT_DIR) / "pdfjs_text.mjs";
}

// Reads `path` with the reader; `missing` is set instead when its program is not installed.
inline ReadText ReadPdfText(TextReader reader, const std::string& path) {
  ReadText result;
  std::string command;
  switch (reader) {
    case TextReader::kPdftotext:
    case TextReader::kPdftotextLayout:
      if (!OnPath("pdftotext")) result.missing = "pdftotext (poppler-utils) is not installed";
      command = std::string("pdftotext -enc UTF-8 ") +
                (reader == TextReader::kPdftotextLayout ? "-layout " : "") + "'" + path + "' -";
      break;
    case TextReader::kMutool:
      if (!OnPath("mutool")) result.missing = "mutool (mupdf-tools) is not installed";
      command = "mutool draw -q -F txt -o - '" + path + "'";
      break;
    case TextReader::kPdfjs: {
      const std::filesystem::path script = PdfjsScript();
      if (!OnPath("node")) {
        result.missing = "node is not installed";
      } else if (!std::filesystem::exists(script.parent_path() / "node_modules" / "pdfjs-dist")) {
        result.missing = "pdfjs-dist is not installed (scripts/setup installs it)";
      }
      command = "node '" + script.string() + "' '" + path + "'";
      break;
    }
  }
  if (!result.missing.empty()) return result;
  test::ScratchFolder logs;
  const ToolRun run = Run(command, logs);
  if (run.status != 0) {
    result.error = command + ": status " + std::to_string(run.status) + ": " + run.err;
  }
  result.raw = run.out;
  result.pages = PagesOfLines(run.out, reader == TextReader::kPdftotextLayout);
  return result;
}

}  // namespace brevis::pdf_test
