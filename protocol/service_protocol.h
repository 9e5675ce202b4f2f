// The service protocol between BrevisFetch and its services (the maker's mirror, update service
// and product page; the patent office's search page and page servers): request targets and the
// answers' formats, for the client's UTF-16 text and the stand-in servers' UTF-8 text alike.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>

#include "protocol/version.h"

namespace brevis::protocol {

// Every piece below is ASCII; Text gives it in the caller's code units.
template <typename Char>
std::basic_string<Char> Text(std::string_view ascii) {
  return std::basic_string<Char>(ascii.begin(), ascii.end());
}

// Whether `text` is the ASCII text `ascii`, in any code units.
template <typename Char>
constexpr bool IsText(std::basic_string_view<Char> text, std::string_view ascii) {
  return text.size() == ascii.size() &&
         std::equal(ascii.begin(), ascii.end(), text.begin(),
                    [](char a, Char c) { return static_cast<Char>(a) == c; });
}

// Patent kinds, the search page's "leixin": invention patent and utility model.
inline constexpr std::string_view kInventionKind = "fmzl";
inline constexpr std::string_view kUtilityKind = "syxx";

// Mirror service: GET /cgi-bin/fturl.cgi?s=<cipher text of the number>. The answer is the cipher
// text of MirrorAnswer, or empty when the mirror does not hold the patent.
inline constexpr std::string_view kMirrorScript = "/cgi-bin/fturl.cgi";
inline constexpr std::string_view kMirrorParam = "s";
// The mirror answer's two fields, the page count and the base address, stand either side of it.
inline constexpr char kMirrorSeparator = '\t';
// The largest page count a lookup answer may announce; a client takes a larger one as a broken
// answer, and a server announces none.
inline constexpr int kMaxAnnouncedPages = 10000;
// What the client searches the deciphered answer for: group 1 the count, group 2 the address.
inline constexpr std::u16string_view kMirrorAnswerPattern = u"(\\d+)\\t(.+)";

// Search page: GET /sipo/zljs/hyjs-yx-new.jsp?recid=CN<number>&leixin=<kind>&title=&ipc=. For a
// patent the office holds, the page carries SearchFragment of its kind.
inline constexpr std::string_view kSearchScript = "/sipo/zljs/hyjs-yx-new.jsp";
inline constexpr std::string_view kSearchNumberParam = "recid";
inline constexpr std::string_view kSearchKindParam = "leixin";
inline constexpr std::string_view kSearchTail = "&title=&ipc=";
inline constexpr std::string_view kNumberPrefix = "CN";
// The fragment's tag: 'fm' for invention patents, 'xx' for every other kind.
inline constexpr std::string_view kInventionTag = "fm";
inline constexpr std::string_view kOtherTag = "xx";
// The search fragment's first page, after the base address and a '/'.
inline constexpr std::string_view kFirstPageFile = "000001.tif";
// What the client searches the page for, by tag: group 1 the count, group 2 the base address.
inline constexpr std::u16string_view kInventionFragmentPattern =
    u"'fm','(\\d+)','(.*?)/\\d+\\.tif'";
inline constexpr std::u16string_view kOtherFragmentPattern = u"'xx','(\\d+)','(.*?)/\\d+\\.tif'";
static_assert(IsText(kInventionFragmentPattern.substr(1, 2), kInventionTag));
static_assert(IsText(kOtherFragmentPattern.substr(1, 2), kOtherTag));

// Update service: GET /cgi-bin/update.cgi?pro=brevisfetch&ver=<kVersion>. The answer is the
// address of the new version's page, or empty when there is none.
inline constexpr std::string_view kUpdateScript = "/cgi-bin/update.cgi";
inline constexpr std::string_view kUpdateProductParam = "pro";
inline constexpr std::string_view kUpdateVersionParam = "ver";
inline constexpr std::string_view kProductName = "brevisfetch";
inline constexpr std::string_view kProductVersion = kVersion;

// The product page, opened in the browser.
inline constexpr std::string_view kProductPage = "/brevisfetch.html";

// The stand-in servers' page files lie under /pages/<number>/<NNNNNN>.tif, so their base
// addresses are http://<host>/pages/<number>. The client takes any base address it is given.
inline constexpr std::string_view kPagesPrefix = "/pages/";

template <typename Char>
std::basic_string<Char> MirrorTarget(std::basic_string_view<Char> cipher) {
  return Text<Char>(kMirrorScript) + Char('?') + Text<Char>(kMirrorParam) + Char('=') +
         std::basic_string<Char>(cipher);
}

template <typename Char>
std::basic_string<Char> SearchTarget(std::basic_string_view<Char> number,
                                     std::basic_string_view<Char> kind) {
  return Text<Char>(kSearchScript) + Char('?') + Text<Char>(kSearchNumberParam) + Char('=') +
         Text<Char>(kNumberPrefix) + std::basic_string<Char>(number) + Char('&') +
         Text<Char>(kSearchKindParam) + Char('=') + std::basic_string<Char>(kind) +
         Text<Char>(kSearchTail);
}

template <typename Char>
std::basic_string<Char> UpdateTarget() {
  return Text<Char>(kUpdateScript) + Char('?') + Text<Char>(kUpdateProductParam) + Char('=') +
         Text<Char>(kProductName) + Char('&') + Text<Char>(kUpdateVersionParam) + Char('=') +
         Text<Char>(kProductVersion);
}

// "<pages>\t<base address>", before it is enciphered; `pages` is decimal digits.
inline std::string MirrorAnswer(std::string_view pages, std::string_view base) {
  return std::string(pages) + kMirrorSeparator + std::string(base);
}

// The search fragment's tag for a patent of `kind`.
template <typename Char>
std::string_view SearchTag(std::basic_string_view<Char> kind) {
  return IsText(kind, kInventionKind) ? kInventionTag : kOtherTag;
}

// The pattern the client reads a search page with, for a patent of `kind`.
template <typename Char>
std::u16string_view SearchFragmentPattern(std::basic_string_view<Char> kind) {
  return IsText(kind, kInventionKind) ? kInventionFragmentPattern : kOtherFragmentPattern;
}

// "'fm','<pages>','<base address>/000001.tif'" for an invention patent, "'xx',..." otherwise.
inline std::string SearchFragment(std::string_view kind, std::string_view pages,
                                  std::string_view base) {
  std::string fragment(1, '\'');
  for (const std::string_view piece :
       {SearchTag(kind), std::string_view("','"), pages, std::string_view("','"), base,
        std::string_view("/"), kFirstPageFile, std::string_view("'")}) {
    fragment += piece;
  }
  return fragment;
}

}  // namespace brevis::protocol
