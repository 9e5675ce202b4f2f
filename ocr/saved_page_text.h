// SavedPageText: the recognised text of a page file kept in a small file of its own, so that a
// later run that keeps the page file can take its text instead of recognising the page again.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "ocr/page_recognition.h"

namespace brevis {

// A saved text larger than this is not read: no page prints that much text.
inline constexpr std::size_t kMaxSavedTextBytes = 1 << 20;

// The saved text of `text`, recognised with `languages` in the page file whose bytes are
// `pageBytes`: a format line, the engine (OcrEngineVersion), the languages, the page file's size
// and hash, then each image's size and lines, each line's box and text (backslash and control
// characters escaped), and an end line. `text` must have no Error.
std::string SavedTextContents(const PageText& text, std::string_view languages,
                              std::string_view pageBytes);

// The text that `saved` (the contents of a saved text) holds, when it was recognised with
// `languages` by this engine in a page file whose bytes are `pageBytes`; nullopt when it was not,
// or when `saved` is larger than kMaxSavedTextBytes, cut short or malformed in any way.
std::optional<PageText> ParseSavedText(std::string_view saved, std::string_view languages,
                                       std::string_view pageBytes);

// The bytes of the file `path`; nullopt when it cannot be read. Never throws.
std::optional<std::string> ReadPageBytes(const std::string& path);

// Writes the saved text of `text`, recognised with `languages` in the page file whose bytes are
// `pageBytes`, to `savedPath`, atomically. Best effort: a page without text (an Error), or a file
// that cannot be written, leaves nothing and throws nothing.
void SavePageText(const std::string& savedPath, std::string_view pageBytes,
                  std::string_view languages, const PageText& text);

// The text saved in `savedPath` for the page file whose bytes are `pageBytes` and `languages`,
// read as ParseSavedText reads it; nullopt when there is none that fits. Never throws.
std::optional<PageText> ReadSavedPageText(const std::string& savedPath, std::string_view pageBytes,
                                          std::string_view languages);

}  // namespace brevis
