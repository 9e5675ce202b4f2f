// One socket with its local and peer addresses (its binding); reused across connects.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "http/net/local_binding.h"
#include "http/net/socket_list.h"
#include "http/net/socket_stack.h"

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

  uint16_t ClientPortMin() const { return local_.PortMin; }
  uint16_t ClientPortMax() const { return local_.PortMax; }
  void SetClientPortMin(uint16_t port) { local_.PortMin = port; }
  void SetClientPortMax(uint16_t port) { local_.PortMax = port; }

  SocketId Handle() const { return handle_.load(); }
  bool HandleAllocated() const { return handleAllocated_.load(); }

  const std::string& IP() const { return local_.IP; }
  void SetIP(const std::string& ip) { local_.IP = ip; }
  uint16_t Port() const { return local_.Port; }
  void SetPort(uint16_t port) { local_.Port = port; }
  const std::string& PeerIP() const { return peerIP_; }
  uint16_t PeerPort() const { return peerPort_; }

  IPVersion GetIPVersion() const { return local_.IPVersion; }
  // Throws NetCannotSetIPVersionWhenConnected when another version is set while a socket exists.
  void SetIPVersion(IPVersion ip_version);
  // Takes the local address, port, port range and IP version (as SetIPVersion does) at once.
  void SetLocal(const LocalBinding& local);

  bool OverLapped() const { return false; }
  bool BroadcastEnabled() const { return false; }
  SocketList& ReadList() { return readList_; }

  // Closes any socket the binding still has and makes a new one of the binding's family: a
  // stream socket, or one of the given platform type and protocol.
  void AllocateSocket();
  void AllocateSocket(int socket_type, int protocol);
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

  std::atomic<SocketId> handle_{kInvalidSocket};
  std::atomic<bool> handleAllocated_{false};
  LocalBinding local_;  // the address actually bound once a socket is bound or connected
  std::string peerIP_;
  uint16_t peerPort_ = 0;
  SocketList readList_;
  std::mutex connectionLock_;
  SocketStackUsage usage_;
};

}  // namespace brevis
