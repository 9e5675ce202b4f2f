// Socket I/O handler: binding lifetime across connects.
#include "http/net/io_handler_socket.h"

namespace brevis {

IOHandlerSocket::IOHandlerSocket() = default;

IOHandlerSocket::~IOHandlerSocket() = default;

void IOHandlerSocket::Open() {
  IOHandler::Open();
  if (binding_ == nullptr) {
    binding_ = std::make_unique<SocketHandle>();
  } else {
    // A socket left over from an earlier connection is closed, not just forgotten.
    binding_->CloseSocket();
    binding_->Reset(true);
  }
  binding_->SetClientPortMin(local_.PortMin);
  binding_->SetClientPortMax(local_.PortMax);
  if (!Host().empty() && Port() > 0) ConnectSocket();
}

void IOHandlerSocket::Close() {
  if (binding_ != nullptr) binding_->CloseSocket();
  IOHandler::Close();
}

}  // namespace brevis
