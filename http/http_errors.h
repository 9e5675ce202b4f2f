// Failures of the HTTP layer (addresses, protocols, status codes), on top of the NetError family.
#pragma once

#include <cstdint>
#include <string>

#include "http/net/net_error.h"

namespace brevis {

// An address could not be rebuilt because a required part is missing.
class NetUriError : public NetError {
 public:
  using NetError::NetError;
};

// An address names no port and its scheme has no default one.
class NetUnknownProtocol : public NetError {
 public:
  NetUnknownProtocol() : NetError("Unknown Protocol") {}
};

// The address needs an I/O handler this client does not have (a secure one for "https").
class NetIOHandlerPropInvalid : public NetError {
 public:
  NetIOHandlerPropInvalid() : NetError("IOHandler value is not valid") {}
};

// A response that the client does not accept.
class NetReplyError : public NetError {
 public:
  using NetError::NetError;
};

class NetReplyRFCError : public NetReplyError {
 public:
  using NetReplyError::NetReplyError;
};

// A status outside 2xx (or a redirect). The message is the status line as received;
// ErrorCode() the status code (-1 when the line has none); ErrorMessage() the response body
// as text.
class HttpProtocolError : public NetReplyRFCError {
 public:
  HttpProtocolError(int error_code, const std::string& status_line, std::u16string error_message)
      : NetReplyRFCError(status_line),
        errorCode_(error_code),
        errorMessage_(std::move(error_message)) {}
  int ErrorCode() const noexcept { return errorCode_; }
  const std::u16string& ErrorMessage() const noexcept { return errorMessage_; }

 private:
  int errorCode_;
  std::u16string errorMessage_;
};

// A request that cannot be sent as asked: a header line (a caller's own header, a cookie) with
// a control character that would end the line early and let the rest pass for headers of its
// own. Nothing of the request has been sent.
class HttpRequestError : public NetError {
 public:
  using NetError::NetError;
};

// A response violated a limit this client sets for safety (too many header lines, a body or
// chunk larger than a page can need, a body cut short).
class HttpResponseError : public NetReplyError {
 public:
  using NetReplyError::NetReplyError;
};

// A body beyond the `limit` bytes a fetch accepts.
inline HttpResponseError BodyTooLarge(std::int64_t limit) {
  return HttpResponseError("Response body is larger than the " + std::to_string(limit) +
                           " bytes a fetch accepts.");
}

}  // namespace brevis
