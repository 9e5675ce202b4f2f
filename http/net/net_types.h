// Small types the transport shares with the HTTP layer (addresses, headers): the IP version, the
// socket handle and the time-out constants. Holds no socket API, so that its includers see none.
#pragma once

namespace brevis {

enum IPVersion { ivIPv4, ivIPv6 };

// A platform socket handle; kInvalidSocket when there is none.
using SocketId = int;
inline constexpr SocketId kInvalidSocket = -1;

// Time-outs of the socket layer, in milliseconds.
inline constexpr int kTimeoutDefault = -1;   // the object's default (a single wait: no limit)
inline constexpr int kTimeoutInfinite = -2;  // wait without limit

}  // namespace brevis
