// Copies of short texts without a call into the C library.
//
// Names, units and most formula texts are under sixteen bytes. memcpy with a
// length known only at run time is a call whose size dispatch costs more than
// such a copy, and a registry build makes a few dozen of them. Up to sixteen
// bytes are moved here as two overlapping loads and stores of one width (the
// overlap writes the same bytes twice); longer texts still go to memcpy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brenvalis::core {

namespace byte_copy_detail {

// n bytes, sizeof(Word) <= n <= 2 * sizeof(Word), as the first and the last
// sizeof(Word) of them: between them they cover every byte.
template <class Word>
inline void copy_head_and_tail(char* out, const char* in, std::size_t n) noexcept {
    Word head;
    Word tail;
    std::memcpy(&head, in, sizeof head);
    std::memcpy(&tail, in + n - sizeof tail, sizeof tail);
    std::memcpy(out, &head, sizeof head);
    std::memcpy(out + n - sizeof tail, &tail, sizeof tail);
}

}  // namespace byte_copy_detail

// Copies n bytes from `in` to `out`; the two ranges must not overlap. Reads
// and writes nothing outside them.
inline void copy_bytes(char* out, const char* in, std::size_t n) noexcept {
    if (n > 16) {
        std::memcpy(out, in, n);
    } else if (n >= 8) {
        byte_copy_detail::copy_head_and_tail<std::uint64_t>(out, in, n);
    } else if (n >= 4) {
        byte_copy_detail::copy_head_and_tail<std::uint32_t>(out, in, n);
    } else if (n != 0) {
        // One to three bytes: first, middle and last cover them all.
        const char first = in[0];
        const char middle = in[n / 2];
        const char last = in[n - 1];
        out[0] = first;
        out[n / 2] = middle;
        out[n - 1] = last;
    }
}

// Writes n '0' characters, n > 16, and returns their end: a huge number
// written out in full. Out of line on purpose: inlined where n is known to
// be small, GCC 16 gives the memset in it a length range that its own
// analysis invents on a path no call takes, and warns that it is too large.
char* write_long_zeros(char* out, std::size_t n) noexcept;

// Writes n '0' characters and returns their end. The runs a number's text
// needs are short, and memset would be a call.
inline char* write_zeros(char* out, std::size_t n) noexcept {
    static constexpr char kZeros[16] = {'0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};
    if (n > 16) [[unlikely]] {
        return write_long_zeros(out, n);
    }
    copy_bytes(out, kZeros, n);
    return out + n;
}

}  // namespace brenvalis::core
