// HttpClient: the HTTP/1.1 GET exchange on top of the TCP client. Fetches one address into a
// caller's stream over a kept connection, with the chunked coding and a per-client cookie store.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stream.h"
#include "http/cookie_manager.h"
#include "http/http_message.h"
#include "http/net/tcp_client.h"
#include "http/request_pacer.h"
#include "http/uri.h"

namespace brevis {

class HttpClient : public TcpClientBase {
 public:
  // Default of MaxBodySize: the largest body (Content-Length, chunk size or sum of chunks) a
  // fetch accepts, so that a hostile length cannot make the client allocate it.
  static constexpr std::int64_t kMaxBodySize = std::int64_t{256} << 20;
  // Most interim ("100 Continue") answers a fetch reads before the final one.
  static constexpr int kMaxInterimResponses = 32;

  HttpClient();
  ~HttpClient() override;

  // Fetches `url` into `stream` from its position. On return the stream holds the entity body
  // of a 2xx response (chunked coding removed), positioned just past it and cut there. Every
  // other outcome throws: HttpProtocolError for a status outside 2xx or a redirect, a NetError
  // for transport failures, HttpResponseError when the response breaks this client's limits
  // (more than MaxHeaderLines header lines, a body over MaxBodySize), NetFetchTimeout when the
  // whole exchange takes longer than FetchDeadline, NetFetchCancelled when *CancelFlag turns
  // true while it waits, HttpRequestError for a request header that would break the request's
  // framing. After any failure the connection is closed. With a Pacer, each request waits for
  // it before it is sent (that wait does not count against FetchDeadline), and a 429 or 503
  // answer's Retry-After holds the pacer off before the error is thrown.
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
  // The wait the last answer asked for: a 429 or 503 status with a Retry-After of delta-seconds
  // or an HTTP-date (a date in the past: zero). Nothing for any other answer, for a value that is
  // neither, and before the first answer of a fetch.
  std::optional<std::chrono::seconds> RetryAfter() const { return retryAfter_; }

  bool AllowCookies = true;
  HttpVersion ProtocolVersion = pv1_1;
  int MaxHeaderLines = 255;
  int RedirectCount = 0;
  // Allowance in milliseconds for one whole exchange (connect, request, head, body), on top of
  // the read time-out of each wait; 0 or less: none.
  int FetchDeadline = 0;
  // Largest body a fetch accepts (see kMaxBodySize).
  std::int64_t MaxBodySize = kMaxBodySize;
  // Owned by the caller, who may set it from another thread to stop the exchange under way;
  // null: none.
  const std::atomic<bool>* CancelFlag = nullptr;
  // Shared by the process's clients, owned by the caller and outliving the fetches; null: every
  // request goes at once and Retry-After holds nothing back.
  RequestPacer* Pacer = nullptr;

 private:
  void ApplyRequestURL();
  // Points the connection at url_'s host and port, dropping one open to another.
  void SelectEndpoint();
  void SendRequest();
  void EnsureConnected();
  void BuildAndSendRequest();
  // Waits for the pacer's slot; throws NetFetchCancelled when *CancelFlag turns true meanwhile.
  void WaitForPacer();
  // Reads a 429 or 503 answer's Retry-After into retryAfter_ and holds the pacer off by it.
  void TakeRetryAfter();
  // The exchange's deadline and cancel flag on the connection, or none.
  void ApplyLimits();
  void LiftLimits();
  std::u16string ReadHeaderLine();
  // Fails for a status line that is empty, or that has no status code and is not HTTP at all,
  // so that the failure says what happened instead of quoting nothing.
  void CheckStatusLine() const;
  void RetrieveHeaders();
  void StoreResponseCookies();
  void AddRequestCookies();
  void ProcessResponse(const std::vector<int>& ignore_replies);
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
  brevis::IPVersion connectedIPVersion_ = ivIPv4;
  std::optional<std::chrono::seconds> retryAfter_;
};

}  // namespace brevis
