// Captions and texts of the window's message boxes; "\r" breaks a line.
#pragma once

#include <string_view>

namespace brevis {

// The application's title, the caption of its error report.
inline constexpr std::u16string_view kAppTitle = u"BREVISFETCH";

inline constexpr std::u16string_view kDownloadProblem = u"下载问题";
inline constexpr std::u16string_view kMirrorFailed =
    u"下载遇到问题，可能的原因是: \r\r网络问题，请检查您是否已经正常连接到互联网。";
inline constexpr std::u16string_view kSearchFailed =
    u"下载遇到问题，可能的原因是: \r\r1. 网络问题，请检查您是否已经正常连接到互联网；\r2. "
    u"近期国家知识产权局网站访问速度缓慢，容易发生中断，请稍后再次下载。\r\r针对第2个问题，"
    u"Tesvaro正在建设镜像下载站点，建设完成后您的下载速度将极大提高。";
inline constexpr std::u16string_view kNothingFoundCaption = u"未发现全文下载";
inline constexpr std::u16string_view kNothingFound =
    u"未发现全文下载，可能的原因是：\r\r您输入了错误的专利申请号，请检查后重新输入。";
inline constexpr std::u16string_view kUpdateCaption = u"更新通知";
inline constexpr std::u16string_view kUpdateQuestion =
    u"检查到软件有新的更新，需要访问更新网站吗？";
inline constexpr std::u16string_view kCombineProblem = u"合并问题";

}  // namespace brevis
