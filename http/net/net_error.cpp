// Texts of the Windows Sockets error numbers that the socket layer reports.
#include "http/net/net_error.h"

namespace brevis {
namespace {

struct NetErrorText {
  int number;
  const char* text;
};

constexpr NetErrorText kErrorTexts[] = {
    {WSAEINTR, "Interrupted system call."},
    {WSAEBADF, "Bad file number."},
    {WSAEACCES, "Access denied."},
    {WSAEFAULT, "Buffer fault."},
    {WSAEINVAL, "Invalid argument."},
    {WSAEMFILE, "Too many open files."},
    {WSAEWOULDBLOCK, "Operation would block."},
    {WSAEINPROGRESS, "Operation now in progress."},
    {WSAEALREADY, "Operation already in progress."},
    {WSAENOTSOCK, "Socket operation on non-socket."},
    {WSAEDESTADDRREQ, "Destination address required."},
    {WSAEMSGSIZE, "Message too long."},
    {WSAEPROTOTYPE, "Protocol wrong type for socket."},
    {WSAENOPROTOOPT, "Bad protocol option."},
    {WSAEPROTONOSUPPORT, "Protocol not supported."},
    {WSAESOCKTNOSUPPORT, "Socket type not supported."},
    {WSAEOPNOTSUPP, "Operation not supported on socket."},
    {WSAEPFNOSUPPORT, "Protocol family not supported."},
    {WSAEAFNOSUPPORT, "Address family not supported by protocol family."},
    {WSAEADDRINUSE, "Address already in use."},
    {WSAEADDRNOTAVAIL, "Cannot assign requested address."},
    {WSAENETDOWN, "Network is down."},
    {WSAENETUNREACH, "Network is unreachable."},
    {WSAENETRESET, "Net dropped connection or reset."},
    {WSAECONNABORTED, "Software caused connection abort."},
    {WSAECONNRESET, "Connection reset by peer."},
    {WSAENOBUFS, "No buffer space available."},
    {WSAEISCONN, "Socket is already connected."},
    {WSAENOTCONN, "Socket is not connected."},
    {WSAESHUTDOWN, "Cannot send or receive after socket is closed."},
    {WSAETOOMANYREFS, "Too many references, cannot splice."},
    {WSAETIMEDOUT, "Connection timed out."},
    {WSAECONNREFUSED, "Connection refused."},
    {WSAELOOP, "Too many levels of symbolic links."},
    {WSAENAMETOOLONG, "File name too long."},
    {WSAEHOSTDOWN, "Host is down."},
    {WSAEHOSTUNREACH, "No route to host."},
    {WSAENOTEMPTY, "Directory not empty"},
    {WSAHOST_NOT_FOUND, "Host not found."},
};

}  // namespace

std::string WSTranslateSocketErrorMsg(int error_number) {
  std::string message = "Socket Error # " + std::to_string(error_number) + "\r\n";
  for (const NetErrorText& entry : kErrorTexts) {
    if (entry.number == error_number) {
      message += entry.text;
      break;
    }
  }
  return message;
}

std::string SecondsText(int milliseconds) {
  std::string text = std::to_string(milliseconds / 1000);
  int fraction = milliseconds % 1000;
  if (fraction != 0) {
    std::string digits = std::to_string(1000 + fraction).substr(1);
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text + " s";
}

}  // namespace brevis
