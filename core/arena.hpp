// A bump allocator whose memory is released all at once with its owner.
//
// A formulas registry is built in one go and dropped in one go, so its shard
// array, its entries and its slot tables come from a few chunks here instead
// of one allocation each. That keeps the allocation count of a build flat in
// the number of shards and the number of names. Objects placed in an arena
// are not destroyed by it: whoever constructs them must destroy them before
// the arena goes away.
//
// Not thread-safe; the owner serialises allocations.
#pragma once

#include <cstddef>
#include <new>

namespace brenvalis::core {

class Arena {
public:
    Arena() noexcept = default;
    // The first chunk holds at least `first_chunk_bytes`; later chunks are
    // allocated on demand, each at least twice the previous one.
    explicit Arena(std::size_t first_chunk_bytes);

    Arena(Arena&& other) noexcept;
    Arena& operator=(Arena&& other) noexcept;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena();

    // Uninitialised storage; `align` is a power of two no larger than
    // alignof(std::max_align_t). Throws std::bad_alloc like operator new.
    void* allocate(std::size_t bytes, std::size_t align) {
        std::size_t pad = (align - reinterpret_cast<std::size_t>(cursor_)) & (align - 1);
        if (static_cast<std::size_t>(end_ - cursor_) < pad + bytes) [[unlikely]] {
            add_chunk(bytes + align);
            pad = (align - reinterpret_cast<std::size_t>(cursor_)) & (align - 1);
        }
        std::byte* result = cursor_ + pad;
        cursor_ = result + bytes;
        return result;
    }

    template <class T>
    T* allocate_array(std::size_t count) {
        static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned types need their own allocator");
        return static_cast<T*>(allocate(sizeof(T) * count, alignof(T)));
    }

    // Number of chunks held (for tests of the allocation pattern).
    std::size_t chunk_count() const noexcept;

private:
    struct Chunk {
        Chunk* previous;
        std::size_t bytes;  // including this header
    };
    static_assert(sizeof(Chunk) % alignof(std::max_align_t) == 0, "chunk payloads must start max-aligned");

    void add_chunk(std::size_t at_least);
    void release() noexcept;

    Chunk* last_ = nullptr;
    std::byte* cursor_ = nullptr;
    std::byte* end_ = nullptr;
};

}  // namespace brenvalis::core
