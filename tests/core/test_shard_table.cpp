#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/arena.hpp"
#include "core/shard_table.hpp"

namespace brenvalis::core {
namespace {

using namespace shard_probe;

// Byte-at-a-time reference for the word-wide matcher.
std::uint64_t naive_match(std::uint64_t group, std::uint8_t byte) {
    std::uint64_t mask = 0;
    for (int i = 0; i < 8; ++i) {
        if (static_cast<std::uint8_t>(group >> (8 * i)) == byte) {
            mask |= std::uint64_t{0x80} << (8 * i);
        }
    }
    return mask;
}

TEST(ShardProbe, TagIsTheTopSevenBits) {
    EXPECT_EQ(tag_of(0xFE00000000000000ull), 0x7F);
    EXPECT_EQ(tag_of(0x0200000000000000ull), 0x01);
    EXPECT_EQ(tag_of(0x01FFFFFFFFFFFFFFull), 0x00);
    EXPECT_EQ(tag_of(0xFFFFFFFFFFFFFFFFull), 0x7F);
}

TEST(ShardProbe, MatchByteIsExact) {
    struct Case {
        std::uint64_t group;
        std::uint8_t byte;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {0x8080808080808080ull, kEmpty, 0x8080808080808080ull},
        {0x8080808080808080ull, 0x00, 0},
        {0x0000000000000000ull, 0x00, 0x8080808080808080ull},
        {0x8080808080801280ull, 0x12, 0x0000000000008000ull},
        // Byte 0 matches and byte 1 differs from it only in bit 0: the usual
        // has-zero-byte shortcut would report byte 1 as well.
        {0x8080808080800100ull, 0x00, 0x0000000000000080ull},
        {0x8080808080801312ull, 0x12, 0x0000000000000080ull},
        {0x127F120012340112ull, 0x12, 0x8000800080000080ull},
        {0x7F7F7F7F7F7F7F7Full, 0x7F, 0x8080808080808080ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.group);
        EXPECT_EQ(match_byte(c.group, c.byte), c.expected);
    }
    // Groups made of few distinct, neighbouring values, where carries and
    // borrows between bytes would show.
    std::mt19937_64 rng(7);
    for (int round = 0; round < 20000; ++round) {
        std::uint64_t group = 0;
        const std::uint8_t base = static_cast<std::uint8_t>(rng() & 0x7F);
        for (int i = 0; i < 8; ++i) {
            const std::uint64_t pick = rng() % 4;
            const std::uint8_t byte = pick == 3 ? kEmpty : static_cast<std::uint8_t>((base ^ pick) & 0x7F);
            group |= std::uint64_t{byte} << (8 * i);
        }
        for (std::uint8_t probe : {base, static_cast<std::uint8_t>(base ^ 1), kEmpty}) {
            ASSERT_EQ(match_byte(group, probe), naive_match(group, probe)) << std::hex << group << " " << +probe;
        }
        ASSERT_EQ(match_empty(group), naive_match(group, kEmpty));
    }
}

TEST(ShardProbe, SequenceStartsAtLowBitsAndVisitsEveryGroupOnce) {
    EXPECT_EQ(ProbeSeq(0xFFFF'FFFF'FFFF'FF35ull, 15).group(), 5u);
    EXPECT_EQ(ProbeSeq(0x8000'0000'0000'0000ull, 7).group(), 0u);
    for (std::size_t groups = 1; groups <= 1024; groups *= 2) {
        for (std::uint64_t start : {0ull, 1ull, 0x9E3779B97F4A7C15ull, ~0ull}) {
            ProbeSeq seq(start, groups - 1);
            std::vector<bool> seen(groups, false);
            for (std::size_t i = 0; i < groups; ++i, seq.next()) {
                ASSERT_LT(seq.group(), groups);
                ASSERT_FALSE(seen[seq.group()]) << "groups=" << groups << " step=" << i;
                seen[seq.group()] = true;
            }
        }
    }
}

// Entries live in their own arena, as a registry's do; their records hold
// no allocation, so nothing needs destroying.
class TableFixture {
public:
    ShardEntry* make(std::string_view key, std::uint64_t hash) {
        ShardEntry* entry = ShardEntry::create(entries_, hash, key, [] { return ConstantRecord::seed("", 0.0, ""); });
        EXPECT_EQ(entry->key(), key);
        return entry;
    }

    Arena arena;
    ShardTable table;

private:
    Arena entries_;
};

TEST(ShardTable, EmptyTableHasNoStorage) {
    TableFixture f;
    EXPECT_EQ(f.table.find(0, ""), nullptr);
    EXPECT_EQ(f.table.size(), 0u);
    EXPECT_EQ(f.table.capacity(), 0u);
    EXPECT_EQ(f.arena.chunk_count(), 0u);
    int visits = 0;
    f.table.for_each([&](const ShardEntry&) { ++visits; });
    EXPECT_EQ(visits, 0);
}

// Every entry has the same hash: same tag, same start group. Each lookup has
// to walk the full chain and tell the entries apart by their keys, and a miss
// must still end at an empty slot. The keys differ from one another in a
// single byte, at every position of every length up to 20, so each part of
// the byte comparison (one partial word, two overlapping words, the long
// path) must look at every byte.
TEST(ShardTable, ConstantHashForcesFullProbeChains) {
    std::vector<std::string> keys;
    for (std::size_t length = 0; length <= 20; ++length) {
        keys.push_back(std::string(length, 'a'));
        for (std::size_t at = 0; at < length; ++at) {
            keys.push_back(std::string(length, 'a'));
            keys.back()[at] = 'b';
        }
    }
    for (const std::uint64_t hash : {0ull, 0xFFFFFFFFFFFFFFFFull, 0x5A5A5A5A5A5A5A5Aull}) {
        SCOPED_TRACE(hash);
        TableFixture f;
        std::vector<ShardEntry*> entries;
        for (const std::string& key : keys) {
            ShardEntry* entry = f.make(key, hash);
            ASSERT_EQ(f.table.find(hash, entry->key()), nullptr);
            f.table.insert_new(entry, f.arena);
            entries.push_back(entry);
            ASSERT_EQ(f.table.find(hash, entry->key()), entry);
        }
        EXPECT_EQ(f.table.size(), keys.size());
        EXPECT_LE(f.table.size(), f.table.capacity() / 8 * 7);
        for (ShardEntry* entry : entries) {
            ASSERT_EQ(f.table.find(hash, entry->key()), entry) << entry->key();
        }
        for (std::size_t length = 1; length <= 20; ++length) {
            std::string other(length, 'a');
            other[length - 1] = 'c';
            EXPECT_EQ(f.table.find(hash, other), nullptr) << other;
        }
        EXPECT_EQ(f.table.find(hash, std::string(21, 'a')), nullptr);
        EXPECT_EQ(f.table.find(hash ^ 1, "a"), nullptr);  // same tag and start group, other hash
        std::set<std::string> visited;
        f.table.for_each(
            [&](const ShardEntry& entry) { EXPECT_TRUE(visited.insert(std::string(entry.key())).second); });
        EXPECT_EQ(visited.size(), keys.size());
    }
}

TEST(ShardTable, GrowsAndKeepsEveryEntry) {
    TableFixture f;
    std::mt19937_64 rng(11);
    std::vector<ShardEntry*> entries;
    std::uint32_t last_capacity = 0;
    for (int i = 0; i < 1000; ++i) {
        ShardEntry* entry = f.make(std::to_string(i), rng());
        f.table.insert_new(entry, f.arena);
        entries.push_back(entry);
        EXPECT_LE(f.table.size(), f.table.capacity() / 8 * 7);
        if (f.table.capacity() != last_capacity) {
            // Right after growing, everything inserted so far is still found.
            for (ShardEntry* old : entries) {
                ASSERT_EQ(f.table.find(old->hash, old->key()), old);
            }
            last_capacity = f.table.capacity();
        }
    }
    EXPECT_EQ(f.table.size(), 1000u);
    EXPECT_EQ(f.table.capacity(), 2048u);
    for (ShardEntry* entry : entries) {
        ASSERT_EQ(f.table.find(entry->hash, entry->key()), entry);
        // The full hash is compared before the key: the right key under a
        // different hash is a miss.
        ASSERT_EQ(f.table.find(entry->hash + 1, entry->key()), nullptr);
    }
}

}  // namespace
}  // namespace brenvalis::core
