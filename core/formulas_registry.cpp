#include "core/formulas_registry.hpp"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "core/builtin_constants.hpp"
#include "core/name_order.hpp"
#include "core/shard_count.hpp"

namespace brenvalis::core {

namespace {

std::size_t check_shard_amount(std::size_t shard_amount) {
    // The shard index is a bit field of the hash, so the count must be a
    // power of two; one shard would need a shift by 64, which C++ leaves
    // undefined. The ceiling is the largest count the process rule yields.
    // (x & (x - 1)) == 0 rather than std::has_single_bit, which compiles to a
    // call into the compiler's runtime where the CPU baseline has no popcount.
    if (shard_amount < 2 || (shard_amount & (shard_amount - 1)) != 0 || shard_amount > kMaxShardAmount) {
        throw std::invalid_argument("FormulasRegistry: the shard count must be a power of two between 2 and 65536");
    }
    return shard_amount;
}

// Bytes of a table block of `capacity` slots: header, control bytes, slots.
constexpr std::size_t table_block_bytes(std::size_t capacity) {
    return 2 * sizeof(std::uint32_t) + capacity + capacity * sizeof(ShardEntry*);
}

// Releases the previous shard's shared hold only once the next one is held,
// and whatever it still holds when the walk ends or unwinds.
class HandOverHold {
public:
    HandOverHold() noexcept = default;
    HandOverHold(const HandOverHold&) = delete;
    HandOverHold& operator=(const HandOverHold&) = delete;
    ~HandOverHold() {
        if (held_ != nullptr) {
            held_->unlock_shared();
        }
    }

    void move_to(ShardLock& next) noexcept {
        next.lock_shared();
        if (held_ != nullptr) {
            held_->unlock_shared();
        }
        held_ = &next;
    }

private:
    ShardLock* held_ = nullptr;
};

}  // namespace

FormulasRegistry::FormulasRegistry(std::size_t shard_amount, std::size_t expected_entries, std::size_t entry_bytes)
    : arena_([&] {
          // Room for the shards, the entries, a minimal table in as many
          // shards as could receive a name, and one doubled table for the odd
          // crowded shard: a build normally fits in this one chunk.
          const std::size_t tables = std::min(shard_amount, expected_entries);
          return shard_amount * sizeof(Shard) + entry_bytes +
                 tables * (table_block_bytes(ShardTable::kMinCapacity) + alignof(ShardEntry*)) +
                 (expected_entries != 0 ? table_block_bytes(2 * ShardTable::kMinCapacity) : 0) +
                 alignof(std::max_align_t);
      }()),
      shard_amount_(shard_amount),
      shift_(64u - static_cast<unsigned>(std::countr_zero(shard_amount))),
      keys_(next_map_keys()) {
    static_assert(std::is_trivially_destructible_v<Shard>, "shards are released with the arena, never destroyed");
    static_assert(sizeof(Shard) <= 16, "an empty shard must stay cheap");
    shards_ = arena_.allocate_array<Shard>(shard_amount_);
    std::uninitialized_value_construct_n(shards_, shard_amount_);
}

FormulasRegistry FormulasRegistry::new_() { return new_with_shards(process_shard_amount()); }

FormulasRegistry FormulasRegistry::new_with_shards(std::size_t shard_amount) {
    const std::span<const BuiltinConstant> rows = builtin_constants();
    // Each entry, its key behind it, and the padding up to the next entry.
    const std::size_t entry_bytes = rows.size() * (sizeof(ShardEntry) + alignof(ShardEntry) - 1) + builtin_name_bytes();
    FormulasRegistry registry(check_shard_amount(shard_amount), rows.size(), entry_bytes);
    for (const BuiltinConstant& row : rows) {
        // The built-in names are distinct, so nothing is ever handed back.
        registry.insert_with(row.name, [&row] { return make_builtin_record(row); });
    }
    return registry;
}

FormulasRegistry FormulasRegistry::with_shards(std::size_t shard_amount) {
    return FormulasRegistry(check_shard_amount(shard_amount), 0, 0);
}

FormulasRegistry::FormulasRegistry(FormulasRegistry&& other) noexcept
    : arena_(std::move(other.arena_)),
      shards_(std::exchange(other.shards_, nullptr)),
      owners_(std::exchange(other.owners_, nullptr)),
      shard_amount_(std::exchange(other.shard_amount_, 0)),
      shift_(std::exchange(other.shift_, 64)),
      keys_(other.keys_) {}

FormulasRegistry& FormulasRegistry::operator=(FormulasRegistry&& other) noexcept {
    if (this != &other) {
        destroy_owners();
        arena_ = std::move(other.arena_);
        shards_ = std::exchange(other.shards_, nullptr);
        owners_ = std::exchange(other.owners_, nullptr);
        shard_amount_ = std::exchange(other.shard_amount_, 0);
        shift_ = std::exchange(other.shift_, 64);
        keys_ = other.keys_;
    }
    return *this;
}

FormulasRegistry::~FormulasRegistry() { destroy_owners(); }

// Entries whose record owns nothing are never destroyed one by one: their
// memory goes with the arena, and their destructors would free nothing.
void FormulasRegistry::destroy_owners() noexcept {
    for (ShardEntry* entry = owners_; entry != nullptr;) {
        ShardEntry* next = entry->next_owner;
        std::destroy_at(entry);
        entry = next;
    }
    owners_ = nullptr;
}

void FormulasRegistry::refuse_insert_after_move() {
    throw std::logic_error("FormulasRegistry::insert on a moved-from registry");
}

std::expected<ConstantRecord, RegistryError> FormulasRegistry::get(std::string_view name) const {
    const std::uint64_t hash = hash_name(name);
    if (shards_ != nullptr) [[likely]] {
        Shard& shard = shards_[shard_index(hash)];
        SharedHold hold(shard.lock);
        if (const ShardEntry* entry = shard.table.find(hash, name)) {
            // The copy is made before the hold is released.
            return std::expected<ConstantRecord, RegistryError>(std::in_place, entry->record);
        }
    }
    return std::unexpected(RegistryError::not_found(name));
}

std::uint64_t FormulasRegistry::len() const {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < shard_amount_; ++i) {
        SharedHold hold(shards_[i].lock);
        total += shards_[i].table.size();
    }
    return total;
}

std::uint64_t FormulasRegistry::shard_len(std::size_t index) const {
    if (index >= shard_amount_) {
        throw std::out_of_range("FormulasRegistry::shard_len: no such shard");
    }
    SharedHold hold(shards_[index].lock);
    return shards_[index].table.size();
}

// Keys never change or move once stored, and live as long as the registry,
// so the walk gathers views of them under the locks; they are then ordered,
// and each name copied once, straight into its place in the list.
std::vector<std::string> FormulasRegistry::sorted_names() const {
    NameViews keys;
    {
        HandOverHold hold;
        for (std::size_t i = 0; i < shard_amount_; ++i) {
            hold.move_to(shards_[i].lock);
            shards_[i].table.for_each([&keys](const ShardEntry& entry) { keys.push_back(entry.key()); });
        }
    }
    return sorted_copies(keys.names());
}

}  // namespace brenvalis::core
