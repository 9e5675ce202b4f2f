// Captions and texts of the window's message boxes; "\r" breaks a line. The command line prints
// the same texts for a lookup's cause and a download's outcome.
#pragma once

#include <string>
#include <string_view>

#include "protocol/service_protocol.h"

namespace brevis {

struct DownloadOutcome;
struct LookupResult;

// The application's title, the caption of its error report.
inline constexpr std::u16string_view kAppTitle = u"BREVISFETCH";

inline constexpr std::u16string_view kDownloadProblem = u"下载问题";
inline constexpr std::u16string_view kMirrorFailedText =
    u"下载遇到问题，可能的原因是: \r\r网络问题，请检查您是否已经正常连接到互联网。";
inline constexpr std::u16string_view kSearchFailedText =
    u"下载遇到问题，可能的原因是: \r\r1. 网络问题，请检查您是否已经正常连接到互联网；\r2. "
    u"近期国家知识产权局网站访问速度缓慢，容易发生中断，请稍后再次下载。\r\r针对第2个问题，"
    u"Tesvaro正在建设镜像下载站点，建设完成后您的下载速度将极大提高。";
inline constexpr std::u16string_view kNothingFoundCaption = u"未发现全文下载";
inline constexpr std::u16string_view kNothingFoundText =
    u"未发现全文下载，可能的原因是：\r\r您输入了错误的专利申请号，请检查后重新输入。";
inline constexpr std::u16string_view kUpdateCaption = u"更新通知";
inline constexpr std::u16string_view kUpdateQuestion =
    u"检查到软件有新的更新，需要访问更新网站吗？";
inline constexpr std::u16string_view kCombineProblem = u"合并问题";
inline constexpr std::u16string_view kRecognitionProblem = u"识别问题";

// The cross's hint for a number whose check character is wrong; `right` is the right one.
inline std::u16string CheckCharacterHint(char16_t right) {
  return u"申请号的校验位不对，应为 " + std::u16string(1, right) + u"。";
}
// What a document set of kind `leixin` is: the publication text ("gk") of an invention is its
// application's published description, the grant text ("sd") the patent's description.
inline std::u16string DocumentTitle(const std::u16string& leixin, const std::u16string& set) {
  if (!protocol::IsText(std::u16string_view(leixin), protocol::kInventionKind)) {
    return u"实用新型专利说明书";
  }
  return set == u"gk" ? u"发明专利申请公开说明书" : u"发明专利说明书";
}
// The lookup's page count `pages` (decimal) is above the cap.
inline std::u16string PageCountText(const std::u16string& pages) {
  return u"下载遇到问题，查询到的页数不合理（" + pages +
         u" 页），可能是服务器的回答有误，请稍后再次下载。";
}
// Pages given up, `pages` one line each: the file's name and why.
inline std::u16string GivenUpText(const std::u16string& pages) {
  return u"下载遇到问题，以下页面未能下载: \r\r" + pages +
         u"\r\r已下载的页面保留在文件夹中，请稍后再次下载。";
}
// The PDF was written, but the text of some pages could not be recognised; `pages` one line
// each: the file's name and why.
inline std::u16string UnreadText(const std::u16string& pages) {
  return u"PDF文件已生成，但以下页面未能识别文字，这些页面没有文字层: \r\r" + pages;
}
// The combination failed for `reason`.
inline std::u16string CombineFailedText(const std::u16string& reason) {
  return u"合并PDF文件时遇到问题: \r\r" + reason;
}

// What a lookup that found no pages tells (`result.Cause` is not kFound; empty for kFound), and
// its caption.
std::u16string LookupText(const LookupResult& result);
std::u16string_view LookupCaption(const LookupResult& result);

// What the end of a download tells, and its caption: the pages given up or left without text,
// one line each with the file's name and why (made safe to show), the combination's failure, or
// the error that stopped the download. Empty for a PDF made with every page's text.
std::u16string OutcomeText(const DownloadOutcome& outcome);
std::u16string_view OutcomeCaption(const DownloadOutcome& outcome);

}  // namespace brevis
