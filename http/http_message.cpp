// HTTP message heads: the header-name table, and reading and writing header fields.
#include "http/http_message.h"

#include <algorithm>
#include <cstdint>

#include "common/ascii_text.h"
#include "common/text.h"

namespace brevis {
namespace {

// How a header's value maps onto its field.
enum FieldKind { fkText, fkDate, fkContentType, fkContentLength };

// One header of the fields requests and responses share.
struct EntityField {
  std::u16string_view name;
  FieldKind kind;
  std::u16string EntityHeaderInfo::*text = nullptr;
  std::optional<SysSeconds> EntityHeaderInfo::*date = nullptr;
};

// In the order a request writes them.
const EntityField kEntityFields[] = {
    {u"Connection", fkText, &EntityHeaderInfo::Connection},
    {u"Content-Version", fkText, &EntityHeaderInfo::ContentVersion},
    {u"Content-Disposition", fkText, &EntityHeaderInfo::ContentDisposition},
    {u"Content-Encoding", fkText, &EntityHeaderInfo::ContentEncoding},
    {u"Content-Language", fkText, &EntityHeaderInfo::ContentLanguage},
    {u"Content-Type", fkContentType},
    {u"Content-Length", fkContentLength},
    {u"Cache-control", fkText, &EntityHeaderInfo::CacheControl},
    {u"Date", fkDate, nullptr, &EntityHeaderInfo::Date},
    {u"ETag", fkText, &EntityHeaderInfo::ETag},
    {u"Expires", fkDate, nullptr, &EntityHeaderInfo::Expires},
    {u"Pragma", fkText, &EntityHeaderInfo::Pragma},
};

// Request headers written after the custom ones, in order.
struct RequestField {
  std::u16string_view name;
  std::u16string HttpRequest::*text;
};
const RequestField kRequestFields[] = {
    {u"Proxy-Connection", &HttpRequest::ProxyConnection},
    {u"Host", &HttpRequest::Host},
    {u"Accept", &HttpRequest::Accept},
    {u"Accept-Charset", &HttpRequest::AcceptCharSet},
    {u"Accept-Encoding", &HttpRequest::AcceptEncoding},
    {u"Accept-Language", &HttpRequest::AcceptLanguage},
    {u"From", &HttpRequest::From},
    {u"Referer", &HttpRequest::Referer},
    {u"User-Agent", &HttpRequest::UserAgent},
};

// Response headers read into text fields of their own.
struct ResponseField {
  std::u16string_view name;
  std::u16string HttpResponse::*text;
};
const ResponseField kResponseFields[] = {
    {u"Location", &HttpResponse::Location},
    {u"Server", &HttpResponse::Server},
    {u"Proxy-Connection", &HttpResponse::ProxyConnection},
    {u"Accept-Ranges", &HttpResponse::AcceptRanges},
};

// Everything after the first blank, or nothing without one.
std::u16string_view AfterBlank(std::u16string_view text) {
  const std::size_t blank = text.find(u' ');
  return blank == std::u16string_view::npos ? std::u16string_view() : text.substr(blank + 1);
}

}  // namespace

int HttpResponse::ResponseCode() const { return ParseStatusCode(ResponseText); }

int ParseStatusCode(std::u16string_view status_line) {
  std::u16string_view rest = ascii::Trim(AfterBlank(status_line));
  rest = rest.substr(0, rest.find(u' '));
  const auto code = ascii::ParseInt64(rest);
  if (!code || *code < INT32_MIN || *code > INT32_MAX) return -1;
  return static_cast<int>(*code);
}

ContentTypeValue ParseContentType(std::u16string_view value) {
  ContentTypeValue result;
  std::u16string_view params = value;
  bool first = true;
  while (!params.empty() || first) {
    const std::size_t semi = params.find(u';');
    const std::u16string_view item = params.substr(0, semi);
    params = semi == std::u16string_view::npos ? std::u16string_view() : params.substr(semi + 1);
    const std::u16string_view trimmed = ascii::Trim(item);
    if (!first && ascii::StartsWithIgnoreCase(trimmed, u"charset=")) {
      std::u16string_view cs = ascii::Trim(trimmed.substr(8));
      if (cs.size() >= 2 && cs.front() == u'"' && cs.back() == u'"') {
        cs = cs.substr(1, cs.size() - 2);
      }
      result.charset = std::u16string(cs);
    } else if (first) {
      result.type = std::u16string(trimmed);
    } else if (!trimmed.empty()) {
      result.type += u"; ";
      result.type += trimmed;
    }
    first = false;
  }
  return result;
}

ContentRangeValue ParseContentRange(std::u16string_view value) {
  const std::u16string_view span = AfterBlank(value);
  const std::size_t dash = span.find(u'-');
  const std::size_t slash = span.find(u'/');
  auto number = [](std::u16string_view s) { return ascii::ParseInt64(s).value_or(0); };
  ContentRangeValue range;
  range.start = number(span.substr(0, dash));
  range.end =
      dash == std::u16string_view::npos ? 0 : number(span.substr(dash + 1, slash - dash - 1));
  range.instanceLength = slash == std::u16string_view::npos ? 0 : number(span.substr(slash + 1));
  return range;
}

std::optional<std::int64_t> ParseChunkSize(std::u16string_view line) {
  std::u16string_view size = line;
  size = size.substr(0, size.find(u' '));
  size = size.substr(0, size.find(u';'));
  return ascii::ParseHex64(ascii::Trim(size));
}

void WriteRequestHeaders(HttpRequest& request) {
  HeaderList& raw = request.RawHeaders;
  raw.Clear();
  auto set = [&raw](std::u16string_view name, std::u16string_view value) {
    if (!value.empty()) raw.SetValues(name, value);
  };
  auto set_date = [&set](std::u16string_view name, const std::optional<SysSeconds>& when) {
    if (when) set(name, FormatCookieDate(*when));
  };
  for (const EntityField& field : kEntityFields) {
    switch (field.kind) {
      case fkText:
        set(field.name, request.*field.text);
        break;
      case fkDate:
        set_date(field.name, request.*field.date);
        break;
      case fkContentType:
        if (!request.ContentType.empty()) {
          set(field.name, request.CharSet.empty()
                              ? request.ContentType
                              : request.ContentType + u"; charset=" + request.CharSet);
        }
        break;
      case fkContentLength:
        if (request.ContentLength >= 0) {
          set(field.name, Latin1ToUtf16(std::to_string(request.ContentLength)));
        }
        break;
    }
  }
  for (const std::u16string& line : request.CustomHeaders.Lines()) raw.Add(line);
  for (const RequestField& field : kRequestFields) set(field.name, request.*field.text);
  if (!request.Range.empty()) set(u"Range", u"bytes=" + request.Range);
  set_date(u"If-Modified-Since", request.LastModified);
}

void ReadResponseHeaders(HttpResponse& response) {
  const HeaderList& raw = response.RawHeaders;
  for (const EntityField& field : kEntityFields) {
    switch (field.kind) {
      case fkText:
        response.*field.text = raw.Values(field.name);
        break;
      case fkDate:
        response.*field.date = ParseInternetDate(raw.Values(field.name));
        break;
      case fkContentType: {
        ContentTypeValue type = ParseContentType(raw.Values(field.name));
        response.ContentType = std::move(type.type);
        response.CharSet = std::move(type.charset);
        break;
      }
      case fkContentLength:
        response.ContentLength = ascii::ParseInt64(raw.Values(field.name)).value_or(-1);
        break;
    }
  }
  const ContentRangeValue range = ParseContentRange(raw.Values(u"Content-Range"));
  response.ContentRangeStart = range.start;
  response.ContentRangeEnd = range.end;
  response.ContentRangeInstanceLength = range.instanceLength;
  response.LastModified = ParseInternetDate(raw.Values(u"Last-Modified"));
  for (const ResponseField& field : kResponseFields) {
    response.*field.text = raw.Values(field.name);
  }
  response.WWWAuthenticate.clear();
  raw.Extract(u"WWW-Authenticate", response.WWWAuthenticate);
  response.ProxyAuthenticate.clear();
  raw.Extract(u"Proxy-Authenticate", response.ProxyAuthenticate);

  const std::u16string_view version =
      std::u16string_view(response.ResponseText)
          .substr(std::min<std::size_t>(5, response.ResponseText.size()), 3);
  // Set for every answer, so that one never inherits the version of the answer before it.
  response.ResponseVersion = version == u"1.0" ? pv1_0 : pv1_1;
}

}  // namespace brevis
