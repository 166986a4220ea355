// Unaligned little-endian loads, for code that reads bytes a word at a time.
#pragma once

#include <bit>
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

}  // namespace brenvalis::core
