#include "core/shard_table.hpp"

#include <new>

namespace brenvalis::core {

ShardTable::Block* ShardTable::new_block(std::uint32_t capacity, Arena& arena) {
    const std::size_t bytes = sizeof(Block) + capacity + std::size_t{capacity} * sizeof(ShardEntry*);
    void* memory = arena.allocate(bytes, alignof(ShardEntry*));
    Block* block = ::new (memory) Block{0, capacity};
    // Whole groups at a time: most blocks are one group, and a call to
    // memset for eight bytes costs more than the store.
    constexpr std::uint64_t kAllEmpty = shard_probe::kLowBits * shard_probe::kEmpty;
    for (std::uint32_t i = 0; i < capacity; i += shard_probe::kGroupWidth) {
        std::memcpy(block->ctrl() + i, &kAllEmpty, sizeof kAllEmpty);
    }
    return block;
}

void ShardTable::make_room(Arena& arena) {
    if (block_ == nullptr) {
        block_ = new_block(kMinCapacity, arena);
        return;
    }
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

}  // namespace brenvalis::core
