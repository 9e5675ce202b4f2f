// Locked socket set; the readiness wait uses poll(), which has no limit on descriptor numbers.
#include "http/net/socket_list.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace brevis {

void SocketList::Add(SocketId handle) {
  if (handle == kInvalidSocket) return;
  std::lock_guard<std::mutex> guard(lock_);
  if (std::find(handles_.begin(), handles_.end(), handle) == handles_.end()) {
    handles_.push_back(handle);
  }
}

void SocketList::Remove(SocketId handle) {
  std::lock_guard<std::mutex> guard(lock_);
  handles_.erase(std::remove(handles_.begin(), handles_.end(), handle), handles_.end());
}

void SocketList::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  handles_.clear();
}

bool SocketList::Contains(SocketId handle) const {
  std::lock_guard<std::mutex> guard(lock_);
  return std::find(handles_.begin(), handles_.end(), handle) != handles_.end();
}

std::size_t SocketList::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return handles_.size();
}

bool SocketList::SelectRead(int milliseconds) const {
  std::vector<SocketId> handles;
  {
    std::lock_guard<std::mutex> guard(lock_);
    handles = handles_;
  }
  if (handles.empty()) return false;
  if (handles.size() == 1) return SocketStack::WaitReadable(handles.front(), milliseconds);
  std::vector<pollfd> fds;
  for (SocketId h : handles) fds.push_back({h, POLLIN, 0});
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int rc =
        ::poll(fds.data(), static_cast<nfds_t>(fds.size()), RemainingMs(milliseconds, start));
    if (rc >= 0) return rc > 0;
    if (errno != EINTR) SocketStack::RaiseLastSocketError();
  }
}

}  // namespace brevis
