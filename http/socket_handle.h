// One socket with its local and peer addresses (its binding); reused across connects.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "http/socket_list.h"
#include "http/socket_stack.h"

namespace brevis {

// Used by one thread at a time, except that a connect running on another thread may finish
// while the owner closes the socket: the connection lock keeps the close and the read-back of
// the addresses at the end of the connect apart.
class SocketHandle {
 public:
  SocketHandle();
  ~SocketHandle();
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  uint16_t ClientPortMin() const { return clientPortMin_; }
  uint16_t ClientPortMax() const { return clientPortMax_; }
  void SetClientPortMin(uint16_t port) { clientPortMin_ = port; }
  void SetClientPortMax(uint16_t port) { clientPortMax_ = port; }

  SocketId Handle() const { return handle_.load(); }
  bool HandleAllocated() const { return handleAllocated_.load(); }

  const std::string& IP() const { return ip_; }
  void SetIP(const std::string& ip) { ip_ = ip; }
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port) { port_ = port; }
  const std::string& PeerIP() const { return peerIP_; }
  uint16_t PeerPort() const { return peerPort_; }

  IPVersion GetIPVersion() const { return ipVersion_; }
  // Throws NetCannotSetIPVersionWhenConnected when another version is set while a socket exists.
  void SetIPVersion(IPVersion ip_version);

  bool OverLapped() const { return false; }
  bool BroadcastEnabled() const { return false; }
  SocketList& ReadList() { return readList_; }

  // Closes any socket the binding still has and makes a new one of the binding's family.
  void AllocateSocket(int socket_type = SOCK_STREAM, int protocol = 0);
  // Binds to IP (any when empty) and Port, or to the highest free port of the client port range.
  // Throws NetCouldNotBindSocket, NetInvalidPortRange or NetCanNotBindPortInRange.
  void Bind();
  // Connects to the peer set by SetPeer; blocks until connected or failed (NetSocketError).
  // `cancel_fd`: see SocketStack::Connect.
  void Connect(int cancel_fd = -1);
  // Shuts the socket down for sending and closes it; does nothing without a socket.
  void CloseSocket();
  void SetPeer(const std::string& ip, uint16_t port, IPVersion ip_version);
  // Waits for readability; -1 and -2 wait without limit, 0 polls. Throws NetConnClosedGracefully
  // when there is no socket.
  bool Readable(int milliseconds);
  bool Select(int milliseconds);
  std::size_t Receive(uint8_t* buffer, std::size_t size);
  std::size_t Send(const uint8_t* data, std::size_t size);
  void SetSockOpt(int level, int option, int value);
  void UpdateBindingLocal();
  void UpdateBindingPeer();
  // Forgets the socket (without closing it), the peer and the IP version; with `reset_local`
  // also the local address and port.
  void Reset(bool reset_local = true);

 private:
  void SetHandle(SocketId handle);
  SocketId RequireHandle() const;

  uint16_t clientPortMin_ = 0;
  uint16_t clientPortMax_ = 0;
  std::atomic<SocketId> handle_{kInvalidSocket};
  std::atomic<bool> handleAllocated_{false};
  std::string ip_;
  std::string peerIP_;
  uint16_t port_ = 0;
  uint16_t peerPort_ = 0;
  SocketList readList_;
  IPVersion ipVersion_ = IPVersion::ivIPv4;
  std::mutex connectionLock_;
  SocketStackUsage usage_;
};

}  // namespace brevis
