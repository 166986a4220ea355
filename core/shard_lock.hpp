// A four-byte reader-writer lock for one registry shard.
//
// std::shared_mutex is 56 bytes; a registry has up to hundreds of shards and
// is rebuilt on every call of some module functions, so the shard array must
// be small and free to zero. The whole state is one 32-bit word:
//
//   bit 31      a writer holds the lock
//   bit 30      someone is asleep on the word and must be woken
//   bits 0..29  number of readers holding the lock
//
// Taking and releasing an uncontended lock is one atomic read-modify-write
// each. A blocked thread sleeps on the word (futex-backed std::atomic::wait)
// after setting bit 30; whoever makes the lock free again with bit 30 set
// clears nothing and wakes everyone, and each woken thread re-checks and
// re-announces itself if it must sleep again. No writer preference: this
// lock only ever sees writers while a registry is being filled.
#pragma once

#include <atomic>
#include <cstdint>

namespace brenvalis::core {

class ShardLock {
public:
    constexpr ShardLock() noexcept = default;
    ShardLock(const ShardLock&) = delete;
    ShardLock& operator=(const ShardLock&) = delete;

    void lock() noexcept {
        std::uint32_t expected = 0;
        if (!state_.compare_exchange_strong(expected, kWriter, std::memory_order_acquire, std::memory_order_relaxed))
            [[unlikely]] {
            lock_slow();
        }
    }

    void unlock() noexcept {
        if (state_.exchange(0, std::memory_order_release) & kWaiting) [[unlikely]] {
            state_.notify_all();
        }
    }

    void lock_shared() noexcept {
        std::uint32_t seen = state_.load(std::memory_order_relaxed);
        if ((seen & kWriter) != 0 || !state_.compare_exchange_strong(seen, seen + 1, std::memory_order_acquire,
                                                                     std::memory_order_relaxed)) [[unlikely]] {
            lock_shared_slow();
        }
    }

    void unlock_shared() noexcept {
        const std::uint32_t before = state_.fetch_sub(1, std::memory_order_release);
        if (before == (kWaiting | 1)) [[unlikely]] {
            state_.notify_all();
        }
    }

private:
    static constexpr std::uint32_t kWriter = 1u << 31;
    static constexpr std::uint32_t kWaiting = 1u << 30;
    static constexpr std::uint32_t kReaderMask = kWaiting - 1;

    void lock_slow() noexcept;
    void lock_shared_slow() noexcept;
    // Marks that someone waits and sleeps until the state leaves `seen`; the
    // caller then looks again. Returns at once if the state moved meanwhile.
    void sleep_from(std::uint32_t seen) noexcept;

    std::atomic<std::uint32_t> state_{0};
};
static_assert(sizeof(ShardLock) == 4, "the lock must stay one word: a registry holds one per shard");

// Scoped holders, so no early return can leave a shard locked.
class SharedHold {
public:
    explicit SharedHold(ShardLock& lock) noexcept : lock_(lock) { lock_.lock_shared(); }
    ~SharedHold() { lock_.unlock_shared(); }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

private:
    ShardLock& lock_;
};

class ExclusiveHold {
public:
    explicit ExclusiveHold(ShardLock& lock) noexcept : lock_(lock) { lock_.lock(); }
    ~ExclusiveHold() { lock_.unlock(); }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

private:
    ShardLock& lock_;
};

}  // namespace brenvalis::core
