// HttpClient: the HTTP/1.1 GET exchange on top of the TCP client. Fetches one address into a
// caller's stream over a kept connection, with the chunked coding and a per-client cookie store.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stream.h"
#include "http/cookie_manager.h"
#include "http/header_list.h"
#include "http/http_date.h"
#include "http/tcp_client.h"
#include "http/uri.h"

namespace brevis {

enum class HttpVersion { pv1_0, pv1_1 };
enum class HttpConnectionType { ctNormal, ctSSL, ctProxy, ctSSLProxy };
enum class HttpNextStep { nsDone, nsRedirect, nsAuthRetry };

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
  HttpConnectionType UseProxy = HttpConnectionType::ctNormal;
  brevis::IPVersion IPVersion = brevis::IPVersion::ivIPv4;

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
  std::u16string Username;
  std::u16string Password;
  HeaderList CustomHeaders{1024};
};

struct HttpResponse : EntityHeaderInfo {
  HttpResponse() { ContentType = u"text/html"; }

  std::u16string ResponseText;  // the status line as received
  // The number after the status line's first word; -1 when it is not one.
  int ResponseCode() const;
  HttpVersion ResponseVersion = HttpVersion::pv1_1;
  bool KeepAlive = false;  // computed when a fetch ends
  Stream* ContentStream = nullptr;
  std::u16string Location;
  std::u16string Server;
  std::u16string ProxyConnection;
  std::u16string AcceptRanges;
  std::vector<std::u16string> WWWAuthenticate;
  std::vector<std::u16string> ProxyAuthenticate;
};

class HttpClient : public TcpClientBase {
 public:
  // Largest body (Content-Length, chunk size or sum of chunks) a fetch accepts: a page never
  // needs more, and a hostile length must not make the client allocate it.
  static constexpr std::int64_t kMaxBodySize = std::int64_t{256} << 20;
  // Most interim ("100 Continue") answers a fetch reads before the final one.
  static constexpr int kMaxInterimResponses = 32;

  HttpClient();
  ~HttpClient() override;

  // Fetches `url` into `stream` from its position. On return the stream holds the entity body
  // of a 2xx response (chunked coding removed), positioned just past it and cut there. Every
  // other outcome throws: HttpProtocolError for a status outside 2xx or a redirect, a NetError
  // for transport failures, HttpResponseError when the response breaks this client's limits
  // (more than MaxHeaderLines header lines, a body over kMaxBodySize). After any failure the
  // connection is closed.
  void Get(std::u16string_view url, Stream& stream);
  // Runs one exchange; a status code in `ignore_replies` ends it without an exception.
  void DoRequest(std::u16string_view method, std::u16string_view url, Stream* source,
                 Stream* response_stream, const std::vector<int>& ignore_replies);

  int ResponseCode() const { return response_.ResponseCode(); }
  const std::u16string& ResponseText() const { return response_.ResponseText; }
  HttpRequest& Request() { return request_; }
  const HttpResponse& Response() const { return response_; }
  // The cookie store, made by the first response when AllowCookies; null before.
  CookieManager* GetCookieManager() const { return cookieManager_.get(); }
  const Uri& CurrentURL() const { return url_; }

  bool AllowCookies = true;
  HttpVersion ProtocolVersion = HttpVersion::pv1_1;
  int MaxHeaderLines = 255;
  int RedirectCount = 0;

 private:
  void ApplyRequestURL();
  HttpConnectionType SelectEndpoint();
  void SendRequest();
  void EnsureConnected();
  void BuildAndSendRequest();
  std::u16string ReadHeaderLine();
  // Fails for a status line that is empty, or that has no status code and is not HTTP at all,
  // so that the failure says what happened instead of quoting nothing.
  void CheckStatusLine() const;
  void RetrieveHeaders();
  void StoreResponseCookies();
  void AddRequestCookies();
  HttpNextStep ProcessResponse(const std::vector<int>& ignore_replies);
  void RaiseProtocolError(int code, int unexpected_content_timeout,
                          const std::vector<int>& ignore_replies);
  void DiscardBody(int timeout);
  void ReadBody(int unexpected_content_timeout);
  std::int64_t ReadChunkSize();
  bool ComputeKeepAlive();
  // Disconnects and empties the input buffer.
  void DropConnection();
  // The connection's I/O handler; throws NetError "Not Connected" when there is none.
  IOHandler& IO() const;

  HttpRequest request_;
  HttpResponse response_;
  Uri url_;
  std::unique_ptr<CookieManager> cookieManager_;
  // IP version of the open connection, to drop it when an address needs the other one.
  brevis::IPVersion connectedIPVersion_ = brevis::IPVersion::ivIPv4;
};

}  // namespace brevis
