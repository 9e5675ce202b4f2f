// The I/O handler the TCP client uses by default: connects through the socket layer, with an
// optional connect time-out, and notices a peer that has ended the stream.
#pragma once

#include "http/net/io_handler_socket.h"

namespace brevis {

class IOHandlerStack : public IOHandlerSocket {
 public:
  IOHandlerStack();
  ~IOHandlerStack() override;

  // When the peer has ended the stream, closes the socket (reporting hsDisconnected); the
  // handler then counts as disconnected, as it does whenever the binding has no socket.
  void CheckForDisconnect(bool raise_if_disconnected = true, bool ignore_buffer = false) override;
  // Polls the socket once (moving waiting bytes into the input buffer), then answers whether
  // the socket is still there and has not ended, or unread bytes are waiting.
  bool Connected() override;
  bool Readable(int milliseconds = kTimeoutDefault) override;

 protected:
  void ConnectSocket() override;
  // Connects on a ConnectThread and gives up after `timeout` ms (-1 and -2: no limit):
  // closes the handler and throws NetConnectTimeout.
  void ConnectWithTimeout(int timeout);

  bool SourceIsAvailable() const override;
  std::size_t ReadDataFromSource(uint8_t* buffer, std::size_t size) override;
  std::size_t WriteDataToTarget(const uint8_t* data, std::size_t size) override;
};

}  // namespace brevis
