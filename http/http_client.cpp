// HttpClient: request head, status and header block, response decisions and body reading.
#include "http/http_client.h"

#include <algorithm>
#include <stdexcept>

#include "common/ascii_text.h"
#include "common/http_date.h"
#include "common/text.h"
#include "http/http_errors.h"

namespace brevis {

namespace {

int ClassOf(int code) { return code / 100; }

bool Contains(const std::vector<int>& list, int value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

std::string Narrow(std::u16string_view text) { return ascii::ToAsciiBytes(text); }

// A Retry-After value: delta-seconds (digits only) or an HTTP-date, as a wait from now; nothing
// for anything else. Waits beyond a day are a day: the pacer cuts them shorter still.
std::optional<std::chrono::seconds> ParseRetryAfter(std::u16string_view text) {
  constexpr std::chrono::seconds kLongest = std::chrono::hours(24);
  text = ascii::Trim(text);
  if (text.empty()) return std::nullopt;
  if (ascii::IsDigits(text)) {
    std::chrono::seconds wait{0};
    for (const char16_t c : text) {
      wait = std::min(wait * 10 + std::chrono::seconds(c - u'0'), kLongest);
    }
    return wait;
  }
  const std::optional<SysSeconds> date = ParseInternetDate(text);
  if (!date) return std::nullopt;
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return std::clamp<std::chrono::seconds>(*date - now, std::chrono::seconds(0), kLongest);
}

// Body text in the response's character set; without one the platform's default (UTF-8).
std::u16string DecodeBody(const std::vector<uint8_t>& bytes, std::u16string_view charset) {
  const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const std::u16string cs = ascii::ToLower(ascii::Trim(charset));
  if (cs == u"iso-8859-1" || cs == u"latin1" || cs == u"us-ascii" || cs == u"ascii" ||
      cs == u"windows-1252") {
    return Latin1ToUtf16(raw);
  }
  return Utf8ToUtf16(raw);
}

// True when `text` holds CR, LF, NUL or another control byte that a peer may take for the end
// of a line; a tab is allowed inside header lines.
bool HasLineBreakingControl(std::string_view text, bool allow_tab) {
  return std::any_of(text.begin(), text.end(), [allow_tab](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && !(allow_tab && c == '\t')) || byte == 0x7F;
  });
}

// Puts the caller's stream back as the response's destination when a scope ends.
class ContentStreamSwap {
 public:
  ContentStreamSwap(HttpResponse& response, Stream* replacement)
      : response_(response), saved_(response.ContentStream) {
    response.ContentStream = replacement;
  }
  ~ContentStreamSwap() { response_.ContentStream = saved_; }
  ContentStreamSwap(const ContentStreamSwap&) = delete;
  ContentStreamSwap& operator=(const ContentStreamSwap&) = delete;

 private:
  HttpResponse& response_;
  Stream* saved_;
};

// Forwards to a destination stream and fails as soon as more than `limit` bytes were written:
// a body read until the peer closes has no length to check in advance.
class LimitedStream final : public Stream {
 public:
  LimitedStream(Stream& target, std::int64_t limit) : target_(target), limit_(limit) {}
  int64_t Position() const override { return target_.Position(); }
  void SetPosition(int64_t position) override { target_.SetPosition(position); }
  int64_t Size() const override { return target_.Size(); }
  void SetSize(int64_t size) override { target_.SetSize(size); }
  std::size_t Read(uint8_t* data, std::size_t count) override { return target_.Read(data, count); }
  void Write(const uint8_t* data, std::size_t count) override {
    written_ += static_cast<std::int64_t>(count);
    if (written_ > limit_) throw BodyTooLarge(limit_);
    target_.Write(data, count);
  }

 private:
  Stream& target_;
  std::int64_t limit_;
  std::int64_t written_ = 0;
};

}  // namespace

HttpClient::HttpClient() = default;
HttpClient::~HttpClient() = default;

IOHandler& HttpClient::IO() const {
  IOHandler* io = GetIOHandler();
  if (io == nullptr) throw NetError(kMsgNotConnected);
  return *io;
}

void HttpClient::Get(std::u16string_view url, Stream& stream) {
  DoRequest(u"GET", url, nullptr, &stream, {});
}

void HttpClient::DoRequest(std::u16string_view method, std::u16string_view url, Stream* source,
                           Stream* response_stream, const std::vector<int>& ignore_replies) {
  RedirectCount = 0;
  request_.URL = std::u16string(url);
  request_.Method = std::u16string(method);
  request_.Source = source;
  response_.ContentStream = response_stream;
  retryAfter_.reset();
  try {
    // The pacer's wait may be long: the exchange's deadline starts after it.
    WaitForPacer();
    ApplyLimits();
    ApplyRequestURL();
    SendRequest();
    for (int interim = 0;; ++interim) {
      response_.ResponseText = ReadHeaderLine();
      CheckStatusLine();
      RetrieveHeaders();
      StoreResponseCookies();
      if (response_.ResponseCode() != 100) break;
      // A peer that never stops sending interim answers must not keep the fetch forever.
      if (interim == kMaxInterimResponses) {
        throw HttpResponseError("Response has more than " + std::to_string(kMaxInterimResponses) +
                                " interim answers.");
      }
    }
    ProcessResponse(ignore_replies);
  } catch (...) {
    LiftLimits();
    // A failed fetch may leave the rest of a response on the wire: never reuse it.
    response_.KeepAlive = false;
    response_.ContentStream = nullptr;
    try {
      DropConnection();
    } catch (...) {
      // The fetch's own failure is the one to report.
    }
    throw;
  }
  LiftLimits();
  response_.ContentStream = nullptr;
  if (response_stream != nullptr && response_stream->Size() > response_stream->Position()) {
    response_stream->SetSize(response_stream->Position());
  }
  response_.KeepAlive = ComputeKeepAlive();
  if (!response_.KeepAlive) DropConnection();
}

void HttpClient::WaitForPacer() {
  if (Pacer != nullptr && !Pacer->Acquire(CancelFlag)) throw NetFetchCancelled();
}

void HttpClient::TakeRetryAfter() {
  retryAfter_.reset();
  const int code = response_.ResponseCode();
  if (code != 429 && code != 503) return;
  retryAfter_ = ParseRetryAfter(response_.RawHeaders.Values(u"Retry-After"));
  if (retryAfter_ && Pacer != nullptr) Pacer->HoldOff(*retryAfter_);
}

void HttpClient::ApplyLimits() {
  WaitLimits limits;
  if (FetchDeadline > 0) {
    limits.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FetchDeadline);
    limits.BudgetMs = FetchDeadline;
  }
  limits.Cancel = CancelFlag;
  SetLimits(limits);
}

void HttpClient::LiftLimits() { SetLimits(WaitLimits{}); }

void HttpClient::DropConnection() {
  Disconnect();
  // Bytes left from the old connection must never be read as the next response.
  if (IOHandler* io = GetIOHandler()) io->InputBuffer().Clear();
}

void HttpClient::ApplyRequestURL() {
  const Uri next(request_.URL);
  url_.Path = MergePath(url_.Path, next.Path);
  url_.Document = next.Document;
  url_.Params = next.Params;
  if (!next.Host.empty()) url_.Host = next.Host;

  if (!next.Protocol.empty()) {
    url_.Protocol = next.Protocol;
  } else {
    url_.Protocol = ascii::EqualsIgnoreCase(url_.Protocol, u"https") ? u"https" : u"http";
  }

  if (!next.Port.empty()) {
    url_.Port = next.Port;
  } else if (ascii::EqualsIgnoreCase(next.Protocol, u"http")) {
    url_.Port = u"80";
  } else if (ascii::EqualsIgnoreCase(next.Protocol, u"https")) {
    url_.Port = u"443";
  } else if (url_.Port.empty()) {
    throw NetUnknownProtocol();
  }

  request_.URL = url_.GetPathAndParams();
  request_.IPVersion = next.IPVersion;
  url_.IPVersion = next.IPVersion;
  request_.ContentLength = request_.Source != nullptr ? request_.Source->Size() : -1;

  // An IPv6 literal needs its brackets in the Host header, or the port would run into it.
  std::u16string host = url_.Host;
  if (url_.IPVersion == ivIPv6) host = u"[" + host + u"]";
  request_.Host = url_.Port == u"80" ? host : host + u":" + url_.Port;
}

void HttpClient::SelectEndpoint() {
  if (connectedIPVersion_ != url_.IPVersion && Connected()) DropConnection();

  const auto port_number = ascii::ParseInt64(url_.Port);
  const std::int64_t port = port_number ? *port_number : 80;
  const std::string host = Narrow(url_.Host);
  if ((!ascii::EqualsIgnoreCase(Latin1ToUtf16(Host()), url_.Host) || Port() != port) &&
      Connected()) {
    DropConnection();
  }
  if (ascii::EqualsIgnoreCase(url_.Protocol, u"HTTPS")) throw NetIOHandlerPropInvalid();
  if (port < 0 || port > 65535) throw std::out_of_range("Range check error");
  SetHost(host);
  SetPort(static_cast<std::uint16_t>(port));
}

void HttpClient::SendRequest() {
  SelectEndpoint();
  if (ProtocolVersion == pv1_0 && request_.Connection.empty()) {
    request_.Connection = u"keep-alive";
  }
  if (ascii::FindIgnoreCase(request_.AcceptEncoding, u"identity") == std::u16string::npos) {
    request_.AcceptEncoding =
        request_.AcceptEncoding.empty() ? u"identity" : request_.AcceptEncoding + u", identity";
  }
  EnsureConnected();
  BuildAndSendRequest();
  if (request_.Source != nullptr) IO().Write(*request_.Source, -1);
}

void HttpClient::EnsureConnected() {
  if (!response_.KeepAlive) DropConnection();
  CheckForGracefulDisconnect(false);
  if (!Connected()) {
    Local().IPVersion = url_.IPVersion;
    Connect();
    connectedIPVersion_ = url_.IPVersion;
  }
}

void HttpClient::AddRequestCookies() {
  if (!cookieManager_) return;
  const std::u16string cookies =
      cookieManager_->GenerateCookieList(url_, ascii::EqualsIgnoreCase(url_.Protocol, u"HTTPS"));
  if (cookies.empty()) return;
  request_.RawHeaders.SetValues(u"Cookie", cookies);
  request_.RawHeaders.SetValues(u"Cookie2", u"$Version=\"1\"");
}

void HttpClient::BuildAndSendRequest() {
  WriteRequestHeaders(request_);
  AddRequestCookies();

  std::string head;
  head.reserve(512);
  head += Narrow(request_.Method);
  head += ' ';
  head += Narrow(request_.URL);
  if (HasLineBreakingControl(head, false)) {
    throw HttpRequestError("Request line contains a control character.");
  }
  head += ProtocolVersion == pv1_0 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n";
  for (const std::u16string& line : request_.RawHeaders.Lines()) {
    if (line.empty()) continue;
    const std::string bytes = Narrow(line);
    // Stripping would send a header the caller never wrote; refusing says what went wrong.
    if (HasLineBreakingControl(bytes, true)) {
      throw HttpRequestError(
          "Request header contains a control character: " + bytes.substr(0, bytes.find(':')) + ".");
    }
    head += bytes;
    head += "\r\n";
  }
  head += "\r\n";

  IOHandler& io = IO();
  const bool opened_here = !io.WriteBufferingActive();
  if (opened_here) io.WriteBufferOpen();
  try {
    io.Write(head);
    if (opened_here) io.WriteBufferClose();
  } catch (...) {
    if (opened_here) io.WriteBufferCancel();
    throw;
  }
}

std::u16string HttpClient::ReadHeaderLine() {
  IOHandler& io = IO();
  std::string line = io.ReadLn("\n", -1, -1);
  if (io.ReadLnTimedOut()) throw NetReadTimeout();
  return Latin1ToUtf16(line);
}

void HttpClient::CheckStatusLine() const {
  const std::u16string& line = response_.ResponseText;
  if (ascii::Trim(line).empty()) throw HttpResponseError("Response status line is empty.");
  if (response_.ResponseCode() == -1 && !ascii::StartsWithIgnoreCase(line, u"HTTP/")) {
    // Quoted only in part: a hostile line may be as long as a line may be.
    constexpr std::size_t kQuoted = 80;
    const std::string quoted = Narrow(line.substr(0, kQuoted));
    throw HttpResponseError("Response status line is not HTTP: " + quoted +
                            (line.size() > kQuoted ? "..." : ""));
  }
}

void HttpClient::RetrieveHeaders() {
  HeaderList& raw = response_.RawHeaders;
  raw.Clear();
  try {
    while (true) {
      std::u16string line = ReadHeaderLine();
      if (line.empty()) break;
      if (raw.Count() >= static_cast<std::size_t>(std::max(MaxHeaderLines, 0))) {
        throw HttpResponseError("Response header has more than " + std::to_string(MaxHeaderLines) +
                                " lines.");
      }
      raw.Add(std::move(line));
    }
  } catch (const NetConnClosedGracefully&) {
    Disconnect();
  }

  ReadResponseHeaders(response_);
}

void HttpClient::StoreResponseCookies() {
  if (!cookieManager_ && AllowCookies) cookieManager_ = std::make_unique<CookieManager>();
  if (!cookieManager_) return;
  std::vector<std::u16string> cookies;
  std::vector<std::u16string> cookies2;
  response_.RawHeaders.Extract(u"Set-cookie", cookies);
  response_.RawHeaders.Extract(u"Set-cookie2", cookies2);
  auto name_of = [](std::u16string_view text) { return text.substr(0, text.find(u'=')); };
  for (const std::u16string& c2 : cookies2) {
    const auto same = std::find_if(cookies.begin(), cookies.end(), [&](const std::u16string& c) {
      return ascii::EqualsIgnoreCase(name_of(c), name_of(c2));
    });
    if (same != cookies.end()) cookies.erase(same);
  }
  for (const std::u16string& c : cookies) cookieManager_->AddCookie(c, url_);
  for (const std::u16string& c : cookies2) cookieManager_->AddCookie2(c, url_);
}

void HttpClient::ProcessResponse(const std::vector<int>& ignore_replies) {
  // Before the body is read, so that the server's wish holds even when its body fails.
  TakeRetryAfter();
  const int code = response_.ResponseCode();
  const int status_class = ClassOf(code);
  // Redirects are never followed: every 3xx but 304, and any status but 201 that names a
  // Location, fails the fetch.
  if ((status_class == 3 && code != 304) || (!response_.Location.empty() && code != 201)) {
    ++RedirectCount;
    RaiseProtocolError(code, -1, ignore_replies);
    return;
  }
  if (status_class != 2) {
    // No credentials are ever sent, so 401 and 407 fail like any other status.
    RaiseProtocolError(code, (status_class == 1 || code == 304) ? 100 : -1, ignore_replies);
    return;
  }
  if (request_.Method == u"HEAD" || code == 204) {
    DiscardBody(100);
  } else {
    ReadBody(-1);
  }
}

void HttpClient::RaiseProtocolError(int code, int unexpected_content_timeout,
                                    const std::vector<int>& ignore_replies) {
  MemoryStream body;
  {
    ContentStreamSwap swap(response_, &body);
    ReadBody(unexpected_content_timeout);
  }
  if (Contains(ignore_replies, code)) return;
  throw HttpProtocolError(code, Narrow(response_.ResponseText),
                          DecodeBody(body.Bytes(), response_.CharSet));
}

void HttpClient::DiscardBody(int timeout) {
  ContentStreamSwap swap(response_, nullptr);
  ReadBody(timeout);
}

std::int64_t HttpClient::ReadChunkSize() {
  const auto value = ParseChunkSize(ReadHeaderLine());
  // Anything else means the body is corrupted or cut: never take what came so far for all of it.
  if (!value) throw HttpResponseError("Chunk size line is not a hexadecimal number.");
  return *value;
}

void HttpClient::ReadBody(int unexpected_content_timeout) {
  IOHandler& io = IO();
  if (unexpected_content_timeout != -1 && io.InputBufferIsEmpty()) {
    // Content that may or may not come: read it only when bytes arrive in time.
    if (!io.CheckForDataOnSource(unexpected_content_timeout)) return;
  }
  Stream* destination = response_.ContentStream;

  const std::u16string encoding = ascii::ToLower(response_.RawHeaders.Values(u"Transfer-Encoding"));
  if (encoding.find(u"chunked") != std::u16string::npos) {
    std::int64_t total = 0;
    std::int64_t size = ReadChunkSize();
    while (size > 0) {
      if (size > MaxBodySize - total) throw BodyTooLarge(MaxBodySize);
      total += size;
      if (destination != nullptr) {
        io.ReadStream(*destination, size, false);
      } else {
        io.Discard(size);
      }
      // The chunk's data ends with an empty line; other text there means the size was wrong.
      if (!ReadHeaderLine().empty()) {
        throw HttpResponseError("Chunk data is not followed by a line end.");
      }
      size = ReadChunkSize();
    }
    // Trailer lines, if any, up to the empty line that ends the body.
    for (int lines = 0; !ReadHeaderLine().empty(); ++lines) {
      if (lines >= MaxHeaderLines) {
        throw HttpResponseError("Response trailer has more than " + std::to_string(MaxHeaderLines) +
                                " lines.");
      }
    }
  } else if (response_.ContentLength > 0) {
    if (response_.ContentLength > MaxBodySize) throw BodyTooLarge(MaxBodySize);
    // A peer that closes before every byte arrived fails the read: a short body is never
    // taken for a complete one.
    if (destination != nullptr) {
      io.ReadStream(*destination, response_.ContentLength, false);
    } else {
      io.Discard(response_.ContentLength);
    }
  } else if (!response_.HasContentLength()) {
    if (destination != nullptr) {
      LimitedStream limited(*destination, MaxBodySize);
      io.ReadStream(limited, -1, true);
    } else {
      io.DiscardAll();
    }
  }
}

bool HttpClient::ComputeKeepAlive() {
  if (!Connected()) return false;
  auto says = [](std::u16string_view value, std::u16string_view word) {
    return ascii::EqualsIgnoreCase(ascii::Trim(value), word);
  };
  // An HTTP/1.0 answer means close unless the server announced keep-alive, whatever this side
  // asked for.
  if (ProtocolVersion == pv1_1 && response_.ResponseVersion == pv1_1) {
    return !says(response_.Connection, u"CLOSE") && !says(response_.ProxyConnection, u"CLOSE");
  }
  return says(response_.Connection, u"KEEP-ALIVE") ||
         says(response_.ProxyConnection, u"KEEP-ALIVE");
}

}  // namespace brevis
