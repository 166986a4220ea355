// The formulas registry: constant records keyed by name in a sharded store.
//
// Each name is hashed once with SipHash-1-3 (the name's bytes plus 0xFF)
// under the registry's own key pair. The bits just below the top seven pick
// the shard; the shard's table takes its slot tags from the top seven bits
// and its probe start from the low bits of the same value.
//
// Layout. Everything a registry stores comes from one arena that it owns:
// the shard array, every entry with its key's bytes, every slot table. A
// shard is a 4-byte lock and a table pointer that stays null until the shard
// receives a name, so a shard without names costs 16 zeroed bytes and nothing
// else, and building the built-in table costs a single arena allocation
// whatever the shard count (plus the one record whose texts do not fit inside
// it). A record is built straight into its entry and its key copied straight
// behind it; tearing down frees the arena and destroys only the records that
// own memory of their own, which are threaded into one list as they arrive.
//
// Locking. Every shard has its own reader-writer lock: insert holds one shard
// exclusively, get holds one shard shared, len and sorted_names walk the
// shards in index order holding at most two shared at a time. Inserts come
// from one thread at a time (the registry is filled by the code that builds
// it, and never changed afterwards), so the arena and the owner list, which
// only insert touches, need no lock of their own; lookups, counts and
// listings may run beside an insert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/arena.hpp"
#include "core/constant_record.hpp"
#include "core/hash_keys.hpp"
#include "core/registry_error.hpp"
#include "core/shard_lock.hpp"
#include "core/shard_table.hpp"
#include "core/siphash.hpp"

namespace brenvalis::core {

class FormulasRegistry {
public:
    // The seventeen built-in records with the process's shard count.
    static FormulasRegistry new_();
    // The built-in records with a chosen shard count (a power of two > 1).
    static FormulasRegistry new_with_shards(std::size_t shard_amount);
    // Empty, with a chosen shard count (a power of two > 1); throws
    // std::invalid_argument otherwise.
    static FormulasRegistry with_shards(std::size_t shard_amount);

    FormulasRegistry(FormulasRegistry&& other) noexcept;
    FormulasRegistry& operator=(FormulasRegistry&& other) noexcept;
    FormulasRegistry(const FormulasRegistry&) = delete;
    FormulasRegistry& operator=(const FormulasRegistry&) = delete;
    // A moved-from registry holds no shards: it reads as empty, and inserting
    // into it throws std::logic_error.
    ~FormulasRegistry();

    // Stores the record that `make()` returns under a copy of `name`, built
    // straight into its entry. If the name is present its record is replaced
    // (the new one built in its place) and the earlier one handed back; the
    // stored key stays. Not to be called from two threads at once (see
    // Locking above).
    template <class Make>
    std::optional<ConstantRecord> insert_with(std::string_view name, Make&& make);

    // The same for a record already made.
    std::optional<ConstantRecord> insert(std::string_view name, ConstantRecord record) {
        return insert_with(name, [&record] { return std::move(record); });
    }

    // Byte-exact lookup; a hit is a full copy that shares nothing with the
    // store, a miss is NotFound carrying the name as given.
    std::expected<ConstantRecord, RegistryError> get(std::string_view name) const;

    // Sum of the shards' entry counts.
    std::uint64_t len() const;

    // Every name once, in ascending byte order.
    std::vector<std::string> sorted_names() const;

    std::size_t shard_amount() const noexcept { return shard_amount_; }

    // The shard a hash value selects (exposed for tests of the bit layout).
    std::size_t shard_index(std::uint64_t hash) const noexcept {
        return static_cast<std::size_t>((hash << 7) >> shift_);
    }

    // Entries held by one shard; std::out_of_range for an index at or past
    // shard_amount() (exposed for tests of the bit layout).
    std::uint64_t shard_len(std::size_t index) const;

private:
    struct Shard {
        ShardLock lock;
        ShardTable table;
    };

    // Precondition: shard_amount passed check_shard_amount. `entry_bytes` is
    // the arena room the entries to come are expected to need.
    FormulasRegistry(std::size_t shard_amount, std::size_t expected_entries, std::size_t entry_bytes);

    std::uint64_t hash_name(std::string_view name) const noexcept {
        return sip_hash_suffixed<1, 3>(keys_.k0, keys_.k1, name, 0xFF);
    }

    Shard& shard_to_fill(std::uint64_t hash) {
        if (shards_ == nullptr) [[unlikely]] {
            refuse_insert_after_move();
        }
        return shards_[shard_index(hash)];
    }
    [[noreturn]] static void refuse_insert_after_move();

    // Puts the entry on the owner list if its record owns memory and the
    // entry is not there yet.
    void note_owner(ShardEntry& entry) noexcept {
        if (entry.record.owns_allocation() && !entry.on_owner_list) [[unlikely]] {
            entry.next_owner = owners_;
            entry.on_owner_list = true;
            owners_ = &entry;
        }
    }

    void destroy_owners() noexcept;

    Arena arena_;
    Shard* shards_ = nullptr;
    ShardEntry* owners_ = nullptr;
    std::size_t shard_amount_ = 0;
    unsigned shift_ = 64;
    HashKeys keys_;
};

template <class Make>
std::optional<ConstantRecord> FormulasRegistry::insert_with(std::string_view name, Make&& make) {
    const std::uint64_t hash = hash_name(name);
    Shard& shard = shard_to_fill(hash);
    ExclusiveHold hold(shard.lock);
    if (ShardEntry* existing = shard.table.find(hash, name)) [[unlikely]] {
        // The new record is made first: should making it fail, the stored one
        // stays as it was.
        std::optional<ConstantRecord> earlier = std::exchange(existing->record, std::forward<Make>(make)());
        note_owner(*existing);
        return earlier;
    }
    ShardEntry* entry = ShardEntry::create(arena_, hash, name, std::forward<Make>(make));
    note_owner(*entry);
    shard.table.insert_new(entry, arena_);
    return std::nullopt;
}

}  // namespace brenvalis::core
