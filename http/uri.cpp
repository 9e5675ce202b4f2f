// Uri parsing and rebuilding, and MergePath.
#include "http/uri.h"

#include <algorithm>

#include "common/ascii_text.h"
#include "http/http_errors.h"

namespace brevis {

namespace {

constexpr auto npos = std::u16string_view::npos;

bool IsDefaultPort(std::u16string_view protocol, std::u16string_view port) {
  if (ascii::EqualsIgnoreCase(protocol, u"HTTP")) return port == u"80";
  if (ascii::EqualsIgnoreCase(protocol, u"HTTPS")) return port == u"443";
  if (ascii::EqualsIgnoreCase(protocol, u"FTP")) return port == u"21";
  return false;
}

}  // namespace

Uri::Uri(std::u16string_view uri) {
  if (!uri.empty()) SetURI(uri);
}

std::u16string Uri::NormalizePath(std::u16string_view path) {
  // A backslash never occurs inside a surrogate pair, so unit-wise replacement steps over pairs.
  std::u16string out(path);
  std::replace(out.begin(), out.end(), u'\\', u'/');
  return out;
}

void Uri::SetURI(std::u16string_view uri) {
  const std::u16string text = NormalizePath(uri);
  *this = Uri();
  std::u16string_view rest = text;

  const std::size_t scheme_end = rest.find(u"://");
  // Splits off the parameters at the first "?"; a "#" after it stays in them.
  auto split_params = [&] {
    const std::size_t q = rest.find(u'?');
    if (q != npos) {
      Params = std::u16string(rest.substr(q + 1));
      rest = rest.substr(0, q);
    }
  };

  if (scheme_end != npos) {
    Protocol = std::u16string(rest.substr(0, scheme_end));
    rest.remove_prefix(scheme_end + 3);
    split_params();

    std::u16string_view authority = rest;
    const std::size_t slash = rest.find(u'/');
    if (slash != npos) {
      authority = rest.substr(0, slash);
      rest.remove_prefix(slash + 1);
    } else {
      rest = {};
    }

    const std::size_t at = authority.find(u'@');
    if (at != npos) {
      const std::u16string_view userinfo = authority.substr(0, at);
      const std::size_t colon = userinfo.find(u':');
      Username = std::u16string(userinfo.substr(0, colon));
      if (colon != npos) Password = std::u16string(userinfo.substr(colon + 1));
      if (Username.empty()) Password.clear();
      authority.remove_prefix(at + 1);
    }

    const std::size_t open = authority.find(u'[');
    const std::size_t close = open == npos ? npos : authority.find(u']', open + 1);
    if (close != npos) {
      Host = std::u16string(authority.substr(open + 1, close - open - 1));
      const std::size_t colon = authority.find(u':', close + 1);
      if (colon != npos) Port = std::u16string(authority.substr(colon + 1));
      IPVersion = ivIPv6;
    } else {
      const std::size_t colon = authority.find(u':');
      Host = std::u16string(authority.substr(0, colon));
      if (colon != npos) Port = std::u16string(authority.substr(colon + 1));
    }

    const std::size_t last_slash = rest.rfind(u'/');
    if (last_slash != npos) {
      Path = u"/";
      Path += rest.substr(0, last_slash + 1);
      rest.remove_prefix(last_slash + 1);
    } else {
      Path = u"/";
    }
  } else {
    split_params();
    const std::size_t last_slash = rest.rfind(u'/');
    if (last_slash != npos) {
      Path = std::u16string(rest.substr(0, last_slash + 1));
      rest.remove_prefix(last_slash + 1);
    }
  }

  const std::size_t hash = rest.find(u'#');
  Document = std::u16string(rest.substr(0, hash));
  if (hash != npos) Bookmark = std::u16string(rest.substr(hash + 1));
}

std::u16string Uri::GetPathAndParams() const {
  std::u16string out = Path + Document;
  if (!Params.empty()) {
    out += u'?';
    out += Params;
  }
  return out;
}

std::u16string Uri::GetFullURI(unsigned optional_fields) const {
  if (Protocol.empty()) throw NetUriError("Protocol field is empty");
  if (Host.empty()) throw NetUriError("Host field is empty");
  std::u16string out = Protocol + u"://";
  if ((optional_fields & ofAuthInfo) != 0 && !Username.empty()) {
    out += Username;
    if (!Password.empty()) {
      out += u':';
      out += Password;
    }
    out += u"@";
  }
  out += Host;
  if (!Port.empty() && !IsDefaultPort(Protocol, Port)) {
    out += u':';
    out += Port;
  }
  out += GetPathAndParams();
  if ((optional_fields & ofBookmark) != 0 && !Bookmark.empty()) {
    out += u'#';
    out += Bookmark;
  }
  return out;
}

std::u16string MergePath(std::u16string_view base_path, std::u16string_view path,
                         std::u16string_view delimiter) {
  if (delimiter.empty()) return std::u16string(base_path) + std::u16string(path);
  if (path.substr(0, delimiter.size()) == delimiter) return std::u16string(path);

  const bool keep_trailing = path.empty() || path.ends_with(delimiter);
  std::u16string work(base_path);
  if (!work.empty() && !work.ends_with(delimiter)) work += delimiter;
  work += path;

  std::u16string result;
  std::size_t i = 0;
  while (i < work.size()) {
    if (work.compare(i, delimiter.size(), delimiter) == 0) {
      // Runs of delimiters collapse into one.
      if (i == 0 || !result.ends_with(delimiter)) result += delimiter;
      i += delimiter.size();
    } else if (work[i] == u'.' && result.ends_with(delimiter) && i + 1 < work.size() &&
               work[i + 1] == u'.') {
      // ".." removes the last segment: its trailing delimiter, then back to the one before.
      result.resize(result.size() - delimiter.size());
      const std::size_t prev = result.rfind(delimiter);
      result.resize(prev == std::u16string::npos ? 0 : prev + delimiter.size());
      i += 2;
    } else {
      result += work[i];
      ++i;
    }
  }
  if (result != delimiter && result.ends_with(delimiter) && !keep_trailing) {
    result.resize(result.size() - delimiter.size());
  }
  return result;
}

}  // namespace brevis
