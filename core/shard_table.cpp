#include "shard_table.hpp"

#include <new>

namespace brenvalis::core {

ShardTable::Block* ShardTable::new_block(std::uint32_t capacity, Arena& arena) {
    const std::size_t bytes = sizeof(Block) + capacity + std::size_t{capacity} * sizeof(ShardEntry*);
    void* memory = arena.allocate(bytes, alignof(ShardEntry*));
    Block* block = ::new (memory) Block{0, capacity};
    std::memset(block->ctrl(), shard_probe::kEmpty, capacity);
    return block;
}

void ShardTable::place(Block* block, ShardEntry* entry) noexcept {
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

void ShardTable::insert_new(ShardEntry* entry, Arena& arena) {
    if (block_ == nullptr) {
        block_ = new_block(kMinCapacity, arena);
    } else if (std::size_t{block_->size} + 1 > std::size_t{block_->capacity} / 8 * 7) {
        Block* grown = new_block(block_->capacity * 2, arena);
        const std::uint8_t* ctrl = block_->ctrl();
        ShardEntry* const* slots = block_->slots();
        for (std::uint32_t i = 0; i < block_->capacity; ++i) {
            if (ctrl[i] != shard_probe::kEmpty) {
                place(grown, slots[i]);
            }
        }
        block_ = grown;
    }
    place(block_, entry);
}

}  // namespace brenvalis::core
