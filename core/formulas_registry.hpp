// The formulas registry: constant records keyed by name in a sharded store.
//
// Each name is hashed once with SipHash-1-3 (the name's bytes plus 0xFF)
// under the registry's own key pair. The bits just below the top seven pick
// the shard; the shard's table takes its slot tags from the top seven bits
// and its probe start from the low bits of the same value.
//
// Layout. Everything a registry stores comes from one arena that it owns:
// the shard array, every entry, every slot table. A shard is a 4-byte lock
// and a table pointer that stays null until the shard receives a name, so a
// shard without names costs 16 zeroed bytes and nothing else, and building
// the built-in table usually costs a single arena allocation whatever the
// shard count (plus what the records' own long texts and lists allocate).
// Entries are linked into one list so that tearing down never visits shards.
//
// Locking. Every shard has its own reader-writer lock: insert holds one shard
// exclusively, get holds one shard shared, len and sorted_names walk the
// shards in index order holding at most two shared at a time. Inserts come
// from one thread at a time (the registry is filled by the code that builds
// it, and never changed afterwards), so the arena and the entry list, which
// only insert touches, need no lock of their own; lookups, counts and
// listings may run beside an insert.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/arena.hpp"
#include "core/constant_record.hpp"
#include "core/hash_keys.hpp"
#include "core/registry_error.hpp"
#include "core/shard_lock.hpp"
#include "core/shard_table.hpp"

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

    // Stores `record` under `name`. If the name is present its record is
    // replaced and the earlier one handed back; the stored key stays. Not to
    // be called from two threads at once (see Locking above).
    std::optional<ConstantRecord> insert(std::string name, ConstantRecord record);

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

    // Precondition: shard_amount passed check_shard_amount.
    FormulasRegistry(std::size_t shard_amount, std::size_t expected_entries);

    std::uint64_t hash_name(std::string_view name) const noexcept;

    void destroy_entries() noexcept;

    Arena arena_;
    Shard* shards_ = nullptr;
    ShardEntry* entries_ = nullptr;
    std::size_t shard_amount_ = 0;
    unsigned shift_ = 64;
    HashKeys keys_;
    // Number of entries, kept only to size the listing's buffer. Only insert
    // writes it, but a listing may read it meanwhile, hence relaxed atomics.
    std::atomic<std::uint64_t> entry_count_{0};
};

}  // namespace brenvalis::core
