// Unaligned little-endian loads, for code that reads bytes a word at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace brenvalis::core {

// The sizeof(Word) bytes at p as a little-endian number, whatever the
// platform's byte order and p's alignment.
template <class Word>
inline Word load_little_endian(const unsigned char* p) noexcept {
    static_assert(std::is_unsigned_v<Word>);
    Word word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = std::byteswap(word);
    }
    return word;
}

// The 0..7 bytes at p as the low bytes of a little-endian word, the rest
// zero, without reading a byte past the end (the bytes may sit at the end of
// a page). Overlapping loads put every byte in its place at most twice, and
// OR-ing a byte with itself changes nothing.
inline std::uint64_t load_little_endian_partial(const unsigned char* p, std::size_t len) noexcept {
    if (len >= 4) {
        return load_little_endian<std::uint32_t>(p) |
               (std::uint64_t{load_little_endian<std::uint32_t>(p + len - 4)} << (8 * (len - 4)));
    }
    if (len == 0) {
        return 0;
    }
    return std::uint64_t{p[0]} | (std::uint64_t{p[len / 2]} << (8 * (len / 2))) |
           (std::uint64_t{p[len - 1]} << (8 * (len - 1)));
}

}  // namespace brenvalis::core
