// Where a thread's hash keys come from when the preferred source fails:
// getrandom, then /dev/urandom, then the clocks. The failures are staged
// through fake_platform; each draw happens on a new thread, because a thread
// draws its keys once, at its first registry.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "core/hash_keys.hpp"
#include "tests/core/fake_platform.hpp"

namespace brenvalis::core {
namespace {

using fake_platform::Chunk;

class HashKeySources : public ::testing::Test {
protected:
    void SetUp() override { fake_platform::reset(); }
    void TearDown() override { fake_platform::reset(); }
};

HashKeys first_keys_of_a_new_thread() {
    HashKeys keys;
    std::thread([&] { keys = next_map_keys(); }).join();
    return keys;
}

std::vector<unsigned char> sixteen_bytes(unsigned char first) {
    std::vector<unsigned char> bytes(16);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

HashKeys keys_from(const std::vector<unsigned char>& bytes) {
    HashKeys keys;
    std::memcpy(&keys.k0, bytes.data(), 8);
    std::memcpy(&keys.k1, bytes.data() + 8, 8);
    return keys;
}

std::vector<unsigned char> slice(const std::vector<unsigned char>& bytes, std::size_t from, std::size_t to) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to)};
}

TEST_F(HashKeySources, GetrandomIsRetriedAfterInterruptionsAndShortReads) {
    const std::vector<unsigned char> bytes = sixteen_bytes(0x40);
    fake_platform::stage().getrandom = {
        {EINTR, {}}, {0, slice(bytes, 0, 5)}, {EINTR, {}}, {0, slice(bytes, 5, 6)}, {0, slice(bytes, 6, 16)}};
    EXPECT_EQ(first_keys_of_a_new_thread(), keys_from(bytes));
    EXPECT_TRUE(fake_platform::stage().getrandom.empty());
    EXPECT_EQ(fake_platform::stage().urandom_closes, 0);  // never needed
}

TEST_F(HashKeySources, UrandomStandsInWhenGetrandomIsRefused) {
    for (const int refusal : {ENOSYS, EPERM}) {
        SCOPED_TRACE(refusal);
        fake_platform::reset();
        const std::vector<unsigned char> bytes = sixteen_bytes(0x90);
        fake_platform::Stage& stage = fake_platform::stage();
        stage.getrandom = {{refusal, {}}};
        stage.urandom_open = {0};
        stage.urandom_read = {{EINTR, {}}, {0, slice(bytes, 0, 3)}, {EINTR, {}}, {0, slice(bytes, 3, 16)}};
        EXPECT_EQ(first_keys_of_a_new_thread(), keys_from(bytes));
        EXPECT_TRUE(stage.urandom_read.empty());
        EXPECT_EQ(stage.urandom_closes, 1);
    }
}

TEST_F(HashKeySources, ClocksStandInWhenNeitherSourceDelivers) {
    struct Case {
        const char* what;
        int open_error;
        std::deque<Chunk> reads;
        int closes;
    };
    const std::vector<unsigned char> staged = sixteen_bytes(0x10);
    const Case cases[] = {
        {"no /dev/urandom", ENOENT, {}, 0},
        {"end of file after 4 bytes", 0, {{0, slice(staged, 0, 4)}, {0, {}}}, 1},
        {"read error after 8 bytes", 0, {{0, slice(staged, 0, 8)}, {EIO, {}}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<HashKeys> drawn;
        for (int thread = 0; thread < 2; ++thread) {
            fake_platform::reset();
            fake_platform::Stage& stage = fake_platform::stage();
            stage.getrandom = {{ENOSYS, {}}};
            stage.urandom_open = {c.open_error};
            stage.urandom_read = c.reads;
            drawn.push_back(first_keys_of_a_new_thread());
            EXPECT_TRUE(stage.urandom_read.empty());
            EXPECT_EQ(stage.urandom_closes, c.closes);  // the descriptor is never leaked
        }
        // Partial random bytes are not used; the clock-based keys still
        // differ from thread to thread.
        EXPECT_NE(drawn[0], keys_from(staged));
        EXPECT_NE(drawn[0].k0, drawn[1].k0);
        EXPECT_NE(drawn[0].k1, drawn[1].k1);
    }
}

}  // namespace
}  // namespace brenvalis::core
