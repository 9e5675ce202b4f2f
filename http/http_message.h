// The head of an HTTP message as fields: the request and response records, the table that binds
// header names to those fields, and the byte-level parsing of status, Content-Type,
// Content-Range and chunk-size lines. Pure text work: nothing here touches a socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/http_date.h"
#include "common/stream.h"
#include "http/header_list.h"
#include "http/net/net_types.h"

namespace brevis {

enum HttpVersion { pv1_0, pv1_1 };

// Header fields shared by requests and responses.
struct EntityHeaderInfo {
  HeaderList RawHeaders{1024};
  std::u16string CacheControl;
  std::u16string Connection;
  std::u16string ContentDisposition;
  std::u16string ContentEncoding;
  std::u16string ContentLanguage;
  std::u16string ContentType;
  std::u16string CharSet;
  std::u16string ContentVersion;
  std::u16string ETag;
  std::u16string Pragma;
  std::int64_t ContentLength = -1;  // -1: none
  std::optional<SysSeconds> Date;
  std::optional<SysSeconds> Expires;
  std::optional<SysSeconds> LastModified;
  std::int64_t ContentRangeStart = 0;
  std::int64_t ContentRangeEnd = 0;
  std::int64_t ContentRangeInstanceLength = 0;

  bool HasContentLength() const { return ContentLength >= 0; }
};

struct HttpRequest : EntityHeaderInfo {
  std::u16string URL;  // the request target actually sent
  std::u16string Method = u"GET";
  Stream* Source = nullptr;  // sent after the head; none for GET
  brevis::IPVersion IPVersion = ivIPv4;

  std::u16string Accept = u"text/html, */*";
  std::u16string UserAgent = u"Mozilla/3.0 (compatible; Tesvaro Fetch)";
  std::u16string AcceptCharSet;
  std::u16string AcceptEncoding;
  std::u16string AcceptLanguage;
  std::u16string From;
  std::u16string Referer;
  std::u16string Host;
  std::u16string ProxyConnection;
  std::u16string Range;
  HeaderList CustomHeaders{1024};
};

struct HttpResponse : EntityHeaderInfo {
  HttpResponse() { ContentType = u"text/html"; }

  std::u16string ResponseText;  // the status line as received
  // The number after the status line's first word; -1 when it is not one.
  int ResponseCode() const;
  HttpVersion ResponseVersion = pv1_1;
  bool KeepAlive = false;  // computed when a fetch ends
  Stream* ContentStream = nullptr;
  std::u16string Location;
  std::u16string Server;
  std::u16string ProxyConnection;
  std::u16string AcceptRanges;
  std::vector<std::u16string> WWWAuthenticate;
  std::vector<std::u16string> ProxyAuthenticate;
};

// The number after the status line's first word; -1 when it is none or does not fit in 32 bits.
int ParseStatusCode(std::u16string_view status_line);

// "type; charset=x; more": the type with its other parameters ("type; more") and the charset
// (quotes removed); both empty for an empty value.
struct ContentTypeValue {
  std::u16string type;
  std::u16string charset;
};
ContentTypeValue ParseContentType(std::u16string_view value);

// "bytes start-end/instance"; each part 0 when it is not a number.
struct ContentRangeValue {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::int64_t instanceLength = 0;
};
ContentRangeValue ParseContentRange(std::u16string_view value);

// The size at the head of a chunk-size line, without chunk extensions (";name=value") and
// anything after a blank; nothing when it is not a hexadecimal number.
std::optional<std::int64_t> ParseChunkSize(std::u16string_view line);

// Sets the RawHeaders of `request` (cleared first) from its fields, in the order they go on the
// wire; empty fields are left out. Cookies are added by the client afterwards.
void WriteRequestHeaders(HttpRequest& request);

// Fills the fields of `response` from its RawHeaders and its status line (ResponseVersion).
void ReadResponseHeaders(HttpResponse& response);

}  // namespace brevis
