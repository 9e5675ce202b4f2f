// PDF text with its dates masked, for tests that compare whole files written at different times:
// the PDF writer's golden files, the combination and the command line's fetch.
#pragma once

#include <filesystem>
#include <regex>
#include <string>

#include "common/tests/test_files.h"

namespace brevis::test {

// `pdf` with every date "(D:yyyymmddhhmmss)" turned into "(D:00000000000000)": two writes of the
// same pages differ only there, and every offset stays where it was.
inline std::string MaskDates(const std::string& pdf) {
  return std::regex_replace(pdf, std::regex(R"(\(D:[0-9]{14}\))"), "(D:00000000000000)");
}

// The file at `path`, read whole, with its dates masked.
inline std::string MaskedPdf(const std::filesystem::path& path) {
  return MaskDates(ReadFile(path));
}

}  // namespace brevis::test
