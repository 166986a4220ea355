#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "core/arena.hpp"
#include "core/shard_lock.hpp"

namespace brenvalis::core {
namespace {

// Widens a critical section so that a broken lock is caught in the act.
void dawdle() {
    for (int i = 0; i < 64; ++i) {
        asm volatile("" ::: "memory");
    }
}

// Writers keep two plain counters equal under the exclusive hold; a reader
// that ever sees them differ, or a lost increment, means the lock let two
// parties in at once. With more threads than cores the slow paths (sleeping
// and waking) run constantly.
TEST(ShardLock, ExcludesWritersFromEachOtherAndFromReaders) {
    ShardLock lock;
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    std::atomic<int> torn_reads{0};
    constexpr int kWriters = 3;
    constexpr int kReaders = 3;
    constexpr int kRounds = 100000;

    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                ExclusiveHold hold(lock);
                ++first;
                dawdle();
                ++second;
            }
        });
    }
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                SharedHold hold(lock);
                const std::uint64_t seen_first = first;
                dawdle();
                if (seen_first != second) {
                    torn_reads.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(torn_reads.load(), 0);
    EXPECT_EQ(first, std::uint64_t{kWriters} * kRounds);
    EXPECT_EQ(second, first);
}

TEST(ShardLock, ReadersShareAndWriterWaitsForThem) {
    ShardLock lock;
    lock.lock_shared();
    lock.lock_shared();  // a second reader gets in while the first holds it
    std::atomic<bool> writer_in{false};
    std::thread writer([&] {
        lock.lock();
        writer_in.store(true);
        lock.unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(writer_in.load());
    lock.unlock_shared();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(writer_in.load());  // one reader is still inside
    lock.unlock_shared();
    writer.join();  // the last reader out must wake the sleeping writer
    EXPECT_TRUE(writer_in.load());
}

TEST(Arena, AlignedDisjointAllocationsAcrossChunks) {
    Arena arena(64);
    std::vector<std::pair<unsigned char*, std::size_t>> blocks;
    for (std::size_t i = 0; i < 400; ++i) {
        const std::size_t bytes = 1 + (i * 37) % 300;
        const std::size_t align = std::size_t{1} << (i % 5);  // 1..16
        auto* p = static_cast<unsigned char*>(arena.allocate(bytes, align));
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % align, 0u);
        std::memset(p, static_cast<int>(i & 0xFF), bytes);
        blocks.emplace_back(p, bytes);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        for (std::size_t b = 0; b < blocks[i].second; ++b) {
            ASSERT_EQ(blocks[i].first[b], static_cast<unsigned char>(i & 0xFF)) << "block " << i << " overwritten";
        }
    }
    EXPECT_GT(arena.chunk_count(), 1u);
    Arena moved = std::move(arena);
    EXPECT_EQ(arena.chunk_count(), 0u);
    EXPECT_GT(moved.chunk_count(), 1u);
}

}  // namespace
}  // namespace brenvalis::core
