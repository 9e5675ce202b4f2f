// LocalBinding: where and how a connection's socket is bound on this side, set on the TCP
// client and handed down to its I/O handler and socket in one piece.
#pragma once

#include <cstdint>
#include <string>

#include "http/net/net_types.h"

namespace brevis {

struct LocalBinding {
  std::string IP;        // local address; empty: any
  uint16_t Port = 0;     // local port; 0: the highest free one of the range, or any
  uint16_t PortMin = 0;  // client port range, used while port is 0 and both ends are set
  uint16_t PortMax = 0;
  brevis::IPVersion IPVersion = ivIPv4;
  bool ReuseSocket = false;  // ask for local address reuse before binding

  // Without a local address, port or port range the platform chooses both at connect time; an
  // explicit bind to port 0 would only tie up an ephemeral port per destination.
  bool NeedsBind() const { return !IP.empty() || Port != 0 || (PortMin != 0 && PortMax != 0); }
};

}  // namespace brevis
