// The runtime's process-wide thread-safe switch.
//
// Everything an agent does runs on its single event-loop thread, so reference
// counts, allocation counters and slab free lists are updated with plain loads
// and stores. A process that shares entities between threads turns the switch
// on before it starts those threads: from then on reference counts are raised
// and lowered atomically and the slab pools serialise their free lists.
//
// Thread safety: reading the switch is always safe. Turning it on or off while
// more than one thread touches entities is not.
#pragma once

#include <atomic>

namespace Vesk {

namespace detail {
inline std::atomic<bool> threadSafeModeFlag{false};
}  // namespace detail

inline bool threadSafeMode() noexcept {
  return detail::threadSafeModeFlag.load(std::memory_order_relaxed);
}

// REQUIRES: no other thread is using entities at the moment of the call.
inline void threadSafeModeIs(bool on) noexcept {
  detail::threadSafeModeFlag.store(on, std::memory_order_seq_cst);
}

}  // namespace Vesk
