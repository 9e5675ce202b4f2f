// Stack bounds of the calling thread, asked once per thread.
#include "regex/stack_bounds.h"

#include <pthread.h>

#include <algorithm>

namespace brevis {
namespace {

// The bounds of the calling thread's stack, [low, high), or {0, 0} when they are not known.
struct StackBounds {
  uintptr_t Low = 0;
  uintptr_t High = 0;
};

[[gnu::noinline]] StackBounds QueryStackBounds() {
  StackBounds bounds;
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return bounds;
  void* addr = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr != nullptr && size != 0) {
    bounds.Low = reinterpret_cast<uintptr_t>(addr);
    bounds.High = bounds.Low + size;
  }
  pthread_attr_destroy(&attr);
#endif
  return bounds;
}

// Asked once per thread: for the main thread the query reads the process's memory map.
// Constant-initialised, so that reading the cache needs no initialisation guard.
thread_local StackBounds t_stack_bounds;
thread_local bool t_stack_queried = false;

const StackBounds& ThreadStackBounds() {
  if (!t_stack_queried) {
    t_stack_bounds = QueryStackBounds();
    t_stack_queried = true;
  }
  return t_stack_bounds;
}

}  // namespace

uintptr_t WalkStackLimit(uintptr_t here, size_t reserve, size_t max_bytes) {
  const StackBounds& stack = ThreadStackBounds();
  if (stack.Low != 0 && here > stack.Low && here < stack.High) {
    // Keep a reserve for what runs below the deepest level (the steps of a level, a case
    // inversion function, raising the error): a quarter of a small stack, at most `reserve`.
    return stack.Low + std::min<uintptr_t>(reserve, (stack.High - stack.Low) / 4);
  }
  // Unknown stack (or running on one the thread does not own): a fixed budget.
  return here > max_bytes ? here - max_bytes : 0;
}

}  // namespace brevis
