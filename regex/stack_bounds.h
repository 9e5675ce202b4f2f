// Stack bounds of the calling thread, and how far down the pattern matcher's recursive walk may
// use them before it reports kErrorNestingTooDeep instead of overflowing the stack.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define BREVIS_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define BREVIS_ALWAYS_INLINE inline
#endif

namespace brevis {

// An address in the current stack frame; the stack grows downwards on every target we build.
// Unlike a local's address, the frame address stays on the thread's stack when an
// instrumented build moves locals to a heap-allocated frame.
BREVIS_ALWAYS_INLINE uintptr_t FramePosition() {
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}

// Lowest frame address a walk starting at frame address `here` may reach: `reserve` (or a
// quarter of a smaller stack) above the end of the thread's stack; where the stack's extent is
// unknown, or `here` is not on it, `max_bytes` below `here`.
uintptr_t WalkStackLimit(uintptr_t here, size_t reserve, size_t max_bytes);

}  // namespace brevis
