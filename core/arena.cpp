#include "core/arena.hpp"

#include <algorithm>
#include <utility>

namespace brenvalis::core {

namespace {
constexpr std::size_t kMinChunkBytes = 1024;
}

Arena::Arena(std::size_t first_chunk_bytes) { add_chunk(first_chunk_bytes); }

Arena::Arena(Arena&& other) noexcept
    : last_(std::exchange(other.last_, nullptr)),
      cursor_(std::exchange(other.cursor_, nullptr)),
      end_(std::exchange(other.end_, nullptr)) {}

Arena& Arena::operator=(Arena&& other) noexcept {
    if (this != &other) {
        release();
        last_ = std::exchange(other.last_, nullptr);
        cursor_ = std::exchange(other.cursor_, nullptr);
        end_ = std::exchange(other.end_, nullptr);
    }
    return *this;
}

Arena::~Arena() { release(); }

std::size_t Arena::chunk_count() const noexcept {
    std::size_t count = 0;
    for (const Chunk* chunk = last_; chunk != nullptr; chunk = chunk->previous) {
        ++count;
    }
    return count;
}

void Arena::add_chunk(std::size_t at_least) {
    const std::size_t previous_bytes = last_ != nullptr ? last_->bytes : 0;
    const std::size_t bytes = sizeof(Chunk) + std::max({at_least, kMinChunkBytes, 2 * previous_bytes});
    // Raw storage, owned by the chunk list and given back in release().
    void* memory = ::operator new(bytes);
    auto* chunk = static_cast<Chunk*>(memory);
    chunk->previous = last_;
    chunk->bytes = bytes;
    last_ = chunk;
    cursor_ = static_cast<std::byte*>(memory) + sizeof(Chunk);
    end_ = static_cast<std::byte*>(memory) + bytes;
}

void Arena::release() noexcept {
    while (last_ != nullptr) {
        Chunk* previous = last_->previous;
        ::operator delete(static_cast<void*>(last_), last_->bytes);
        last_ = previous;
    }
    cursor_ = nullptr;
    end_ = nullptr;
}

}  // namespace brenvalis::core
