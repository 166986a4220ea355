#include <gtest/gtest.h>

#include <thread>

#include "core/hash_keys.hpp"

namespace brenvalis::core {
namespace {

TEST(HashKeys, EachMapAdvancesTheThreadsK0) {
    const HashKeys first = next_map_keys();
    const HashKeys second = next_map_keys();
    const HashKeys third = next_map_keys();
    EXPECT_EQ(second.k0, first.k0 + 1);
    EXPECT_EQ(third.k0, first.k0 + 2);
    EXPECT_EQ(second.k1, first.k1);
    EXPECT_EQ(third.k1, first.k1);
}

TEST(HashKeys, ThreadsDrawTheirOwnKeys) {
    const HashKeys here = next_map_keys();
    HashKeys there_first;
    HashKeys there_second;
    std::thread other([&] {
        there_first = next_map_keys();
        there_second = next_map_keys();
    });
    other.join();
    // 128 random bits: equal pairs would mean the source is not random at all.
    EXPECT_NE(here.k1, there_first.k1);
    EXPECT_EQ(there_second.k0, there_first.k0 + 1);
    // The other thread's draws left this thread's sequence alone.
    EXPECT_EQ(next_map_keys().k0, here.k0 + 1);
}

}  // namespace
}  // namespace brenvalis::core
