#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/siphash.hpp"

namespace brenvalis::core {
namespace {

// Key bytes 00 01 .. 0f, read as two little-endian words.
constexpr std::uint64_t kRefK0 = 0x0706050403020100ull;
constexpr std::uint64_t kRefK1 = 0x0f0e0d0c0b0a0908ull;

std::string counting_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(i);
    }
    return s;
}

// The published SipHash-2-4 vectors: key 00..0f, message 00..(n-1), n = 0..63.
constexpr std::uint64_t kSip24Vectors[64] = {
    0x726fdb47dd0e0e31ull, 0x74f839c593dc67fdull, 0x0d6c8009d9a94f5aull, 0x85676696d7fb7e2dull, 0xcf2794e0277187b7ull,
    0x18765564cd99a68dull, 0xcbc9466e58fee3ceull, 0xab0200f58b01d137ull, 0x93f5f5799a932462ull, 0x9e0082df0ba9e4b0ull,
    0x7a5dbbc594ddb9f3ull, 0xf4b32f46226bada7ull, 0x751e8fbc860ee5fbull, 0x14ea5627c0843d90ull, 0xf723ca908e7af2eeull,
    0xa129ca6149be45e5ull, 0x3f2acc7f57c29bdbull, 0x699ae9f52cbe4794ull, 0x4bc1b3f0968dd39cull, 0xbb6dc91da77961bdull,
    0xbed65cf21aa2ee98ull, 0xd0f2cbb02e3b67c7ull, 0x93536795e3a33e88ull, 0xa80c038ccd5ccec8ull, 0xb8ad50c6f649af94ull,
    0xbce192de8a85b8eaull, 0x17d835b85bbb15f3ull, 0x2f2e6163076bcfadull, 0xde4daaaca71dc9a5ull, 0xa6a2506687956571ull,
    0xad87a3535c49ef28ull, 0x32d892fad841c342ull, 0x7127512f72f27cceull, 0xa7f32346f95978e3ull, 0x12e0b01abb051238ull,
    0x15e034d40fa197aeull, 0x314dffbe0815a3b4ull, 0x027990f029623981ull, 0xcadcd4e59ef40c4dull, 0x9abfd8766a33735cull,
    0x0e3ea96b5304a7d0ull, 0xad0c42d6fc585992ull, 0x187306c89bc215a9ull, 0xd4a60abcf3792b95ull, 0xf935451de4f21df2ull,
    0xa9538f0419755787ull, 0xdb9acddff56ca510ull, 0xd06c98cd5c0975ebull, 0xe612a3cb9ecba951ull, 0xc766e62cfcadaf96ull,
    0xee64435a9752fe72ull, 0xa192d576b245165aull, 0x0a8787bf8ecb74b2ull, 0x81b3e73d20b49b6full, 0x7fa8220ba3b2eceaull,
    0x245731c13ca42499ull, 0xb78dbfaf3a8d83bdull, 0xea1ad565322a1a0bull, 0x60e61c23a3795013ull, 0x6606d7e446282b93ull,
    0x6ca4ecb15c5f91e1ull, 0x9f626da15c9625f3ull, 0xe51b38608ef25f57ull, 0x958a324ceb064572ull,
};

TEST(SipHash, TwoFourMatchesReferenceVectors) {
    // The worked example of the SipHash paper, checked on its own so that a
    // mistyped table cannot hide a broken round function.
    EXPECT_EQ((sip_hash<2, 4>(kRefK0, kRefK1, counting_bytes(15))), 0xa129ca6149be45e5ull);
    for (std::size_t n = 0; n < 64; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ((sip_hash<2, 4>(kRefK0, kRefK1, counting_bytes(n))), kSip24Vectors[n]);
    }
}

// hash(bytes) of CPython 3.12 under PYTHONHASHSEED=0, which is SipHash-1-3
// with both keys zero (read as a signed 64-bit value).
TEST(SipHash, OneThreeMatchesCPythonZeroKey) {
    struct Case {
        std::size_t length;
        std::int64_t cpython_hash;
    };
    const Case cases[] = {
        {1, 7541581120933061747},   {2, 75343234424780393},     {3, 5569996484167262381},  {4, 8990380680374275517},
        {5, 6538700447601091189},   {6, -2034959046543467301},  {7, 3389392686435873370},  {8, -1525574692105212182},
        {9, 8471974163824919394},   {10, -5791779039405073891}, {11, -115740592296166145}, {12, -6432559758609227326},
        {13, -6859208656633754099}, {14, 9189037121149337191},  {15, -932606700130547222}, {16, -8542738587087157833},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(std::bit_cast<std::int64_t>(sip_hash<1, 3>(0, 0, counting_bytes(c.length))), c.cpython_hash);
    }
}

// The registry's name hash: the name's bytes plus 0xFF. Expected values are
// CPython's hash(name + b"\xff") under PYTHONHASHSEED=0.
TEST(SipHash, OneThreeNamePlusSuffixMatchesCPython) {
    struct Case {
        std::string_view name;
        std::int64_t cpython_hash;
    };
    const Case cases[] = {
        {"", 3476900567878811119},
        {"b3", 870370817191133949},
        {"phi", 96590580540882225},
        {"n_gen", -5826681988450372800},
        {"1234567", -5069660037085929404},  // seven bytes: the suffix completes a word
        {"visible_sector", 8628422619649123364},
        {"topo_gen_check", 5473703924558839112},
        {"\xc3\xa9t\xc3\xa9", 3754506868571335257},  // "été" in UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::bit_cast<std::int64_t>(sip_hash_suffixed<1, 3>(0, 0, c.name, 0xFF)), c.cpython_hash);
    }
}

// With a non-zero key, from a plain reference implementation of the algorithm.
TEST(SipHash, OneThreeWithReferenceKey) {
    struct Case {
        std::size_t length;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {0, 0xabac0158050fc4dcull},  {1, 0xc9f49bf37d57ca93ull},  {7, 0xd3927d989bb11140ull},
        {8, 0x369095118d299a8eull},  {15, 0xd320d86d2a519956ull}, {16, 0xcc4fdd1a7d908b66ull},
        {63, 0x9d199062b7bbb3a8ull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ((sip_hash<1, 3>(kRefK0, kRefK1, counting_bytes(c.length))), c.expected);
    }
    EXPECT_EQ((sip_hash_suffixed<1, 3>(kRefK0, kRefK1, counting_bytes(7), 0xFF)), 0xc26c80a2339ed774ull);
    EXPECT_EQ((sip_hash_suffixed<1, 3>(kRefK0, kRefK1, counting_bytes(15), 0xFF)), 0xada2a219e625f7f0ull);
}

// The suffix path must agree with hashing the concatenated bytes at every
// tail length, including the one where the suffix completes a word.
TEST(SipHash, SuffixEqualsAppendedByte) {
    for (std::size_t n = 0; n < 40; ++n) {
        SCOPED_TRACE(n);
        const std::string name = counting_bytes(n);
        const std::string appended = name + '\xff';
        EXPECT_EQ((sip_hash_suffixed<1, 3>(kRefK0, kRefK1, name, 0xFF)), (sip_hash<1, 3>(kRefK0, kRefK1, appended)));
        EXPECT_EQ((sip_hash_suffixed<2, 4>(kRefK0, kRefK1, name, 0x00)), (sip_hash<2, 4>(kRefK0, kRefK1, name + '\0')));
    }
}

}  // namespace
}  // namespace brenvalis::core
