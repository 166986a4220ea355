// The open-addressing table of one registry shard.
//
// Design. Slots are grouped eight to a group. Every slot has one control
// byte: 0x80 while empty, otherwise the 7-bit tag of the entry's hash, taken
// from the TOP seven bits (the shard index sits in the bits just below them
// and the probe start in the low bits, so the three uses of one hash overlap
// nowhere). A lookup reads the eight control bytes of a group as one word,
// compares all eight tags at once, and checks the full hash and the key bytes
// only on a tag match. Groups are visited in triangular order from the group
// chosen by the low bits of the hash; that order visits every group once when
// the group count is a power of two, so a probe always ends.
//
// Nothing is ever removed from a table, so there are no tombstones: an entry
// is always found before the first group of its probe sequence that has an
// empty slot, which is where lookups stop and where inserts place new keys.
// The load stays at most 7/8, so at least one slot is always empty and every
// probe finds one.
//
// Slots hold pointers to entries that live elsewhere (the registry allocates
// them and owns their lifetime). Growing therefore moves only pointers, and
// the stored hash makes rehashing free. A table without entries has no
// storage at all: an empty shard costs one null pointer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "core/arena.hpp"
#include "core/byte_copy.hpp"
#include "core/constant_record.hpp"
#include "core/little_endian.hpp"

namespace brenvalis::core {

// One stored name with its record, placed in an arena with its key's bytes
// right behind it. The key is the entry's own copy of the name: when the
// record is replaced, the key stays. `next_owner` threads the entries whose
// record owns memory of its own into one list, so that tearing a registry
// down visits those and nothing else.
struct ShardEntry {
    // Allocates the entry in `arena`, copies `key` behind it and builds the
    // record that `make()` returns straight into it. Nothing else refers to
    // the entry yet.
    template <class Make>
    static ShardEntry* create(Arena& arena, std::uint64_t key_hash, std::string_view key, Make&& make) {
        void* memory = arena.allocate(sizeof(ShardEntry) + key.size(), alignof(ShardEntry));
        auto* entry = ::new (memory) ShardEntry(key_hash, key.size(), std::forward<Make>(make));
        copy_bytes(reinterpret_cast<char*>(entry + 1), key.data(), key.size());
        return entry;
    }

    std::string_view key() const noexcept { return {reinterpret_cast<const char*>(this + 1), key_size}; }

    std::uint64_t hash;
    std::size_t key_size;
    ShardEntry* next_owner = nullptr;
    bool on_owner_list = false;
    ConstantRecord record;

private:
    template <class Make>
    ShardEntry(std::uint64_t key_hash, std::size_t size, Make&& make)
        : hash(key_hash), key_size(size), record(std::forward<Make>(make)()) {}
};

namespace shard_probe {

inline constexpr std::uint8_t kEmpty = 0x80;
inline constexpr std::size_t kGroupWidth = 8;
inline constexpr std::uint64_t kLowBits = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

inline constexpr std::uint8_t tag_of(std::uint64_t hash) noexcept { return static_cast<std::uint8_t>(hash >> 57); }
static_assert(tag_of(~std::uint64_t{0}) < kEmpty, "a tag can never look like an empty slot");

// Bit 7 of byte i is set exactly when byte i of `group` equals `byte`. Exact,
// not the usual has-zero-byte approximation: adding 0x7f to the low seven bits
// of a byte cannot carry into the next byte, so no match leaks upwards.
inline constexpr std::uint64_t match_byte(std::uint64_t group, std::uint8_t byte) noexcept {
    const std::uint64_t x = group ^ (kLowBits * byte);
    return ~(((x & ~kHighBits) + ~kHighBits) | x | ~kHighBits);
}

// Empty is the only control value with its high bit set.
inline constexpr std::uint64_t match_empty(std::uint64_t group) noexcept { return group & kHighBits; }

// Slot index within the group of the lowest match, and the mask without it.
inline constexpr std::size_t lowest_slot(std::uint64_t matches) noexcept {
    return static_cast<std::size_t>(std::countr_zero(matches)) / 8;
}
inline constexpr std::uint64_t clear_lowest(std::uint64_t matches) noexcept { return matches & (matches - 1); }

// Groups in triangular order: start, start+1, start+3, start+6, ... modulo
// the group count (a power of two, given as count - 1).
class ProbeSeq {
public:
    constexpr ProbeSeq(std::uint64_t hash, std::size_t group_mask) noexcept
        : group_(static_cast<std::size_t>(hash) & group_mask), mask_(group_mask) {}

    constexpr std::size_t group() const noexcept { return group_; }
    constexpr void next() noexcept {
        ++step_;
        group_ = (group_ + step_) & mask_;
    }

private:
    std::size_t group_;
    std::size_t mask_;
    std::size_t step_ = 0;
};

}  // namespace shard_probe

class ShardTable {
public:
    constexpr ShardTable() noexcept = default;

    std::uint32_t size() const noexcept { return block_ != nullptr ? block_->size : 0; }
    std::uint32_t capacity() const noexcept { return block_ != nullptr ? block_->capacity : 0; }

    // Forced inline: every lookup and every insert probes once, and an
    // out-of-line probe (as Clang leaves it) pays a frame and keeps its loop's
    // values on the stack.
    [[gnu::always_inline]] ShardEntry* find(std::uint64_t hash, std::string_view key) const noexcept {
        if (block_ == nullptr) {
            return nullptr;
        }
        const std::uint8_t tag = shard_probe::tag_of(hash);
        const std::uint8_t* ctrl = block_->ctrl();
        ShardEntry* const* slots = block_->slots();
        for (shard_probe::ProbeSeq seq(hash, block_->group_mask());; seq.next()) {
            const std::size_t base = seq.group() * shard_probe::kGroupWidth;
            const std::uint64_t group = load_group(ctrl + base);
            for (std::uint64_t m = shard_probe::match_byte(group, tag); m != 0; m = shard_probe::clear_lowest(m)) {
                ShardEntry* entry = slots[base + shard_probe::lowest_slot(m)];
                if (entry->hash == hash && same_bytes(entry->key(), key)) {
                    return entry;
                }
            }
            if (shard_probe::match_empty(group) != 0) {
                return nullptr;
            }
        }
    }

    // Adds an entry whose key the table does not hold yet (callers make sure
    // of that). New storage, when the table must grow, comes from `arena`;
    // the old storage is simply abandoned there.
    void insert_new(ShardEntry* entry, Arena& arena) {
        if (block_ == nullptr || block_->size + 1 > block_->capacity / 8 * 7) [[unlikely]] {
            make_room(arena);
        }
        place(block_, entry);
    }

    // Visits the entries in slot order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        if (block_ == nullptr) {
            return;
        }
        const std::uint8_t* ctrl = block_->ctrl();
        ShardEntry* const* slots = block_->slots();
        for (std::uint32_t i = 0; i < block_->capacity; ++i) {
            if (ctrl[i] != shard_probe::kEmpty) {
                visit(static_cast<const ShardEntry&>(*slots[i]));
            }
        }
    }

    static constexpr std::uint32_t kMinCapacity = shard_probe::kGroupWidth;

private:
    // Laid out as: this header, `capacity` control bytes, `capacity` slots.
    struct Block {
        std::uint32_t size;
        std::uint32_t capacity;  // a power of two, at least one group

        std::uint8_t* ctrl() noexcept { return reinterpret_cast<std::uint8_t*>(this + 1); }
        const std::uint8_t* ctrl() const noexcept { return reinterpret_cast<const std::uint8_t*>(this + 1); }
        ShardEntry** slots() noexcept { return reinterpret_cast<ShardEntry**>(ctrl() + capacity); }
        ShardEntry* const* slots() const noexcept { return reinterpret_cast<ShardEntry* const*>(ctrl() + capacity); }
        std::size_t group_mask() const noexcept { return capacity / shard_probe::kGroupWidth - 1; }
    };
    static_assert(alignof(Block) <= alignof(ShardEntry*) && sizeof(Block) % alignof(ShardEntry*) == 0 &&
                      shard_probe::kGroupWidth % alignof(ShardEntry*) == 0,
                  "slot pointers must be aligned behind the control bytes of whole groups");

    // Control byte i of the group is byte i of the word, counting from the
    // least significant end, on every platform.
    // Byte equality without a call for the short names every lookup compares:
    // eight to sixteen bytes as two overlapping words, which together cover
    // every byte, and fewer one byte at a time.
    static bool same_bytes(std::string_view a, std::string_view b) noexcept {
        if (a.size() != b.size()) {
            return false;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(a.data());
        const auto* q = reinterpret_cast<const unsigned char*>(b.data());
        const std::size_t n = a.size();
        if (n > 16) {
            return std::memcmp(p, q, n) == 0;
        }
        if (n >= 8) {
            return load_little_endian<std::uint64_t>(p) == load_little_endian<std::uint64_t>(q) &&
                   load_little_endian<std::uint64_t>(p + n - 8) == load_little_endian<std::uint64_t>(q + n - 8);
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i] != q[i]) {
                return false;
            }
        }
        return true;
    }

    static std::uint64_t load_group(const std::uint8_t* p) noexcept { return load_little_endian<std::uint64_t>(p); }

    static Block* new_block(std::uint32_t capacity, Arena& arena);
    // Creates the first block, or moves every entry into one twice the size.
    void make_room(Arena& arena);

    // The first empty slot of the entry's probe sequence. Nothing is ever
    // removed, so every key before it in the sequence is a different key.
    static void place(Block* block, ShardEntry* entry) noexcept {
        std::uint8_t* ctrl = block->ctrl();
        for (shard_probe::ProbeSeq seq(entry->hash, block->group_mask());; seq.next()) {
            const std::size_t base = seq.group() * shard_probe::kGroupWidth;
            const std::uint64_t empties = shard_probe::match_empty(load_group(ctrl + base));
            if (empties != 0) {
                const std::size_t slot = base + shard_probe::lowest_slot(empties);
                ctrl[slot] = shard_probe::tag_of(entry->hash);
                block->slots()[slot] = entry;
                ++block->size;
                return;
            }
        }
    }

    Block* block_ = nullptr;
};

}  // namespace brenvalis::core
