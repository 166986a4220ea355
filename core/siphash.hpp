// SipHash-c-d, written once and instantiated with the round counts we need.
//
// The registry hashes a constant's name followed by one extra byte 0xFF. That
// byte is passed separately and folded into the message tail, so the name is
// never copied into a scratch buffer: words are read straight out of the
// caller's bytes, and only the last partial word is assembled by hand.
//
// The 2-4 instance exists to prove the shared code against the published
// reference vectors; the registry uses 1-3.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/little_endian.hpp"

namespace brenvalis::core {

namespace sip_detail {

struct State {
    std::uint64_t v0, v1, v2, v3;

    State(std::uint64_t k0, std::uint64_t k1) noexcept
        : v0(k0 ^ 0x736f6d6570736575ull),
          v1(k1 ^ 0x646f72616e646f6dull),
          v2(k0 ^ 0x6c7967656e657261ull),
          v3(k1 ^ 0x7465646279746573ull) {}

    void round() noexcept {
        v0 += v1;
        v1 = std::rotl(v1, 13);
        v1 ^= v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = std::rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = std::rotl(v1, 17);
        v1 ^= v2;
        v2 = std::rotl(v2, 32);
    }

    template <int C>
    void compress(std::uint64_t word) noexcept {
        v3 ^= word;
        for (int i = 0; i < C; ++i) {
            round();
        }
        v0 ^= word;
    }

    template <int D>
    std::uint64_t finish() noexcept {
        v2 ^= 0xff;
        for (int i = 0; i < D; ++i) {
            round();
        }
        return v0 ^ v1 ^ v2 ^ v3;
    }
};

// The message is `bytes` followed by `SuffixLen` (0 or 1) copies of `suffix`.
// The suffix length is a template argument so that each instance folds away
// the branches it does not need.
template <int C, int D, std::size_t SuffixLen>
std::uint64_t hash(std::uint64_t k0, std::uint64_t k1, std::string_view bytes, unsigned char suffix) noexcept {
    static_assert(SuffixLen <= 1, "one suffix byte at most");
    constexpr std::size_t suffix_len = SuffixLen;
    static_assert(C >= 1 && D >= 1, "SipHash needs at least one round of each kind");
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const std::size_t full_end = n & ~std::size_t{7};

    State s(k0, k1);
    for (std::size_t i = 0; i < full_end; i += 8) {
        s.compress<C>(load_little_endian<std::uint64_t>(p + i));
    }

    // The leftover name bytes (0..7) plus the suffix can fill a whole word when
    // seven bytes are left over; then that word is a normal block and the
    // length block that closes the message carries no data bytes.
    const std::size_t rest = n - full_end;
    std::uint64_t tail = load_little_endian_partial(p + full_end, rest);
    if constexpr (suffix_len != 0) {
        tail |= std::uint64_t{suffix} << (8 * rest);
    }
    if (rest + suffix_len == 8) {
        s.compress<C>(tail);
        tail = 0;
    }
    // Only the low byte of the total length goes into the last block.
    const std::uint64_t total = n + suffix_len;
    s.compress<C>(tail | (total << 56));
    return s.finish<D>();
}

}  // namespace sip_detail

// SipHash-C-D of `bytes` under the 128-bit key (k0, k1), each half read as a
// little-endian word of the key's bytes.
template <int C, int D>
std::uint64_t sip_hash(std::uint64_t k0, std::uint64_t k1, std::string_view bytes) noexcept {
    return sip_detail::hash<C, D, 0>(k0, k1, bytes, 0);
}

// SipHash-C-D of `bytes` followed by the single byte `suffix`.
template <int C, int D>
std::uint64_t sip_hash_suffixed(std::uint64_t k0, std::uint64_t k1, std::string_view bytes,
                                unsigned char suffix) noexcept {
    return sip_detail::hash<C, D, 1>(k0, k1, bytes, suffix);
}

}  // namespace brenvalis::core
