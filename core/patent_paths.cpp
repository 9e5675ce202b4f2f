// The files of a patent: folder, page files and PDF files.
#include "core/patent_paths.h"

#include <algorithm>
#include <cstdio>

#include "common/ascii_text.h"
#include "common/text.h"

namespace brevis {

std::filesystem::path FsPath(const std::u16string& path) {
  return std::filesystem::path(Utf16ToUtf8(path));
}

std::u16string PageNumberText(int page) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%.6d", page);
  return std::u16string(digits, digits + std::char_traits<char>::length(digits));
}

std::u16string PatentFolder(const std::u16string& root_dir, const std::u16string& apn) {
  return root_dir + u"/CN" + apn;
}

std::u16string PagePath(const std::u16string& root_dir, const std::u16string& apn,
                        const std::u16string& set, int page) {
  return PatentFolder(root_dir, apn) + u"/" + set + u"_" + PageNumberText(page) + u".tif";
}

std::u16string PdfPath(const std::u16string& root_dir, const std::u16string& apn,
                       const std::u16string& set) {
  return PatentFolder(root_dir, apn) + u"/CN" + apn + u"_" + set + u".pdf";
}

namespace {

// "gk_" or "sd_", six or more digits, then `end`.
bool IsPageName(std::string_view name, std::string_view end) {
  if (!(name.starts_with("gk_") || name.starts_with("sd_")) || !name.ends_with(end)) {
    return false;
  }
  const std::string_view digits = name.substr(3, name.size() - 3 - end.size());
  return digits.size() >= 6 && ascii::IsDigits(digits);
}

}  // namespace

bool IsPageFileName(std::string_view name) { return IsPageName(name, ".tif"); }

std::string PageTextPath(const std::string& page_path) {
  if (!page_path.ends_with(".tif")) return std::string();
  return page_path.substr(0, page_path.size() - 4) + ".ocr";
}

bool IsPageTextFileName(std::string_view name) { return IsPageName(name, ".ocr"); }

bool IsPatentFileName(const std::u16string& apn, std::string_view name) {
  if (IsPageFileName(name) || IsPageTextFileName(name)) return true;
  const std::string base = "CN" + Utf16ToUtf8(apn);
  for (const char* end : {"_gk.pdf", "_gk.txt", "_sd.pdf", "_sd.txt"}) {
    if (name == base + end) return true;
  }
  return false;
}

std::u16string LockPath(const std::u16string& root_dir, const std::u16string& apn) {
  return PatentFolder(root_dir, apn) + u"/CN" + apn + u".lock";
}

bool IsSystemProgramFolder(const std::filesystem::path& folder) {
  const std::filesystem::path clean = folder.lexically_normal();
  for (const char* root : {"/usr", "/bin", "/sbin", "/opt"}) {
    const std::filesystem::path prefix(root);
    const auto [end, _] = std::mismatch(prefix.begin(), prefix.end(), clean.begin(), clean.end());
    if (end == prefix.end()) return true;
  }
  return false;
}

}  // namespace brevis
