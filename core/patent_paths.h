// The files of a patent in the repository folder: the patent's folder, its page files and its
// PDF files. Every part of the program that names these files builds the names here.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brevis {

// A path of this program's UTF-16 text as the file system takes it.
std::filesystem::path FsPath(const std::u16string& path);

// Page number `page` (1 or more) in decimal with at least six digits, zeros on the left:
// 1 gives "000001", 1234567 gives "1234567".
std::u16string PageNumberText(int page);

// The patent's folder: `root_dir` + "/CN" + `apn`.
std::u16string PatentFolder(const std::u16string& root_dir, const std::u16string& apn);

// The file of page `page` of a document set ("gk" for the publication text, "sd" for the grant
// text): the patent's folder + "/" + `set` + "_" + six-digit page + ".tif".
std::u16string PagePath(const std::u16string& root_dir, const std::u16string& apn,
                        const std::u16string& set, int page);

// The PDF of a document set: the patent's folder + "/CN" + `apn` + "_" + `set` + ".pdf".
std::u16string PdfPath(const std::u16string& root_dir, const std::u16string& apn,
                       const std::u16string& set = u"gk");

// True for the name (without folder) of a page file: "gk_" or "sd_", six or more digits, ".tif".
bool IsPageFileName(std::string_view name);

// The file that keeps the recognised text of the page file `page_path` for a later run (see
// ocr/saved_page_text.h): the same path with ".ocr" for ".tif"; empty for a path that does not end
// in ".tif".
std::string PageTextPath(const std::string& page_path);

// True for the name (without folder) of such a file: "gk_" or "sd_", six or more digits, ".ocr".
bool IsPageTextFileName(std::string_view name);

// True for the name (without folder) of a file a download of `apn` writes: a page file, the
// saved text of one, a PDF or the text beside it ("CN" + `apn` + "_gk.pdf", "_gk.txt",
// "_sd.pdf", "_sd.txt").
bool IsPatentFileName(const std::u16string& apn, std::string_view name);

// The lock file of the run that works in the patent's folder: the folder + "/CN" + `apn` +
// ".lock" (see RunLock).
std::u16string LockPath(const std::u16string& root_dir, const std::u16string& apn);

// True for a folder that installed programs live in (/usr/..., /bin, /sbin, /opt/...): no place
// for a repository, even when it can be written (by root), so the program's own "repo" folder is
// kept beside it only when it runs from a folder of its own, such as a build or an unpacked copy.
bool IsSystemProgramFolder(const std::filesystem::path& folder);

}  // namespace brevis
