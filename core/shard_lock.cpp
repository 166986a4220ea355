#include "core/shard_lock.hpp"

namespace brenvalis::core {

// Both slow paths follow one pattern: take the lock if it is free for us,
// otherwise make sure the waiting bit is set in the exact value we then sleep
// on. wait() returns at once if the word no longer holds that value, so a
// release between our check and our sleep is never missed.

void ShardLock::sleep_from(std::uint32_t seen) noexcept {
    if ((seen & kWaiting) == 0 &&
        !state_.compare_exchange_weak(seen, seen | kWaiting, std::memory_order_relaxed, std::memory_order_relaxed)) {
        return;
    }
    state_.wait(seen | kWaiting, std::memory_order_relaxed);
}

void ShardLock::lock_slow() noexcept {
    for (;;) {
        std::uint32_t seen = state_.load(std::memory_order_relaxed);
        if ((seen & ~kWaiting) == 0) {
            // Free. Taking it drops the waiting bit: the release that made it
            // free has woken (or is about to wake) every sleeper, and each of
            // them sets the bit again before sleeping on.
            if (state_.compare_exchange_weak(seen, kWriter, std::memory_order_acquire, std::memory_order_relaxed)) {
                return;
            }
            continue;
        }
        sleep_from(seen);
    }
}

void ShardLock::lock_shared_slow() noexcept {
    for (;;) {
        std::uint32_t seen = state_.load(std::memory_order_relaxed);
        if ((seen & kWriter) == 0) {
            if (state_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
                return;
            }
            continue;
        }
        sleep_from(seen);
    }
}

}  // namespace brenvalis::core
