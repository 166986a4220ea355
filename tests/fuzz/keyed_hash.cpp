// The keyed name hash against a second SipHash written here from the
// algorithm alone, byte by byte: the message is materialised whole (name,
// suffix byte, zero padding, length byte) and read back one byte at a time,
// so none of the core's word loads, partial loads or suffix folding is
// shared with the reference.
//
// Input: 16 key bytes, one suffix byte, then the name. The name is copied
// into an allocation of exactly its size, so a read past its end is an
// AddressSanitizer report rather than a stray byte of libFuzzer's buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "core/siphash.hpp"

namespace {

std::uint64_t rotate_left(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct Reference {
    std::uint64_t v[4];

    void sip_round() {
        v[0] += v[1];
        v[1] = rotate_left(v[1], 13);
        v[1] ^= v[0];
        v[0] = rotate_left(v[0], 32);
        v[2] += v[3];
        v[3] = rotate_left(v[3], 16);
        v[3] ^= v[2];
        v[0] += v[3];
        v[3] = rotate_left(v[3], 21);
        v[3] ^= v[0];
        v[2] += v[1];
        v[1] = rotate_left(v[1], 17);
        v[1] ^= v[2];
        v[2] = rotate_left(v[2], 32);
    }
};

std::uint64_t reference_siphash(int c, int d, std::uint64_t k0, std::uint64_t k1, const std::vector<unsigned char>& m) {
    Reference s{{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
                 k1 ^ 0x7465646279746573ull}};
    std::vector<unsigned char> padded(m);
    while (padded.size() % 8 != 7) {
        padded.push_back(0);
    }
    padded.push_back(static_cast<unsigned char>(m.size() & 0xff));
    for (std::size_t block = 0; block < padded.size(); block += 8) {
        std::uint64_t word = 0;
        for (int i = 7; i >= 0; --i) {
            word = (word << 8) | padded[block + static_cast<std::size_t>(i)];
        }
        s.v[3] ^= word;
        for (int r = 0; r < c; ++r) {
            s.sip_round();
        }
        s.v[0] ^= word;
    }
    s.v[2] ^= 0xff;
    for (int r = 0; r < d; ++r) {
        s.sip_round();
    }
    return s.v[0] ^ s.v[1] ^ s.v[2] ^ s.v[3];
}

std::uint64_t key_word(const std::uint8_t* p) {
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i) {
        word = (word << 8) | p[i];
    }
    return word;
}

void check(const char* what, std::uint64_t got, std::uint64_t expected, std::size_t length) {
    if (got != expected) {
        std::fprintf(stderr, "%s of a %zu-byte name: %016llx, reference %016llx\n", what, length,
                     static_cast<unsigned long long>(got), static_cast<unsigned long long>(expected));
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 17) {
        return 0;
    }
    const std::uint64_t k0 = key_word(data);
    const std::uint64_t k1 = key_word(data + 8);
    const unsigned char suffix = data[16];
    const std::size_t length = size - 17;
    const auto name = std::make_unique<char[]>(length);
    std::memcpy(name.get(), data + 17, length);
    const std::string_view view(name.get(), length);

    std::vector<unsigned char> message(data + 17, data + size);
    check("SipHash-1-3", brenvalis::core::sip_hash<1, 3>(k0, k1, view), reference_siphash(1, 3, k0, k1, message),
          length);
    check("SipHash-2-4", brenvalis::core::sip_hash<2, 4>(k0, k1, view), reference_siphash(2, 4, k0, k1, message),
          length);
    message.push_back(suffix);
    check("suffixed SipHash-1-3", brenvalis::core::sip_hash_suffixed<1, 3>(k0, k1, view, suffix),
          reference_siphash(1, 3, k0, k1, message), length);
    message.back() = 0xFF;
    check("name hash (SipHash-1-3 with 0xFF)", brenvalis::core::sip_hash_suffixed<1, 3>(k0, k1, view, 0xFF),
          reference_siphash(1, 3, k0, k1, message), length);
    return 0;
}
