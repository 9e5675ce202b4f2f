// A locked set of sockets handed to the platform's readiness wait.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "http/net/socket_stack.h"

namespace brevis {

class SocketList {
 public:
  void Add(SocketId handle);
  void Remove(SocketId handle);
  void Clear();
  bool Contains(SocketId handle) const;
  std::size_t Count() const;
  // Waits until one of the sockets is readable. -1 and -2 wait without limit, 0 polls.
  // An empty list answers false at once.
  bool SelectRead(int milliseconds) const;

 private:
  mutable std::mutex lock_;
  std::vector<SocketId> handles_;
};

}  // namespace brevis
