#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/name_order.hpp"

namespace brenvalis::core {
namespace {

// What a listing hands out: copies of the names, sorted.
std::vector<std::string> sorted(const std::vector<std::string>& names) {
    const std::vector<std::string_view> views(names.begin(), names.end());
    return sorted_copies(views);
}

TEST(NameOrder, ByteOrderTraps) {
    std::vector<std::string> names{"n_gen_sq", "visible_sector", "a",        "_",    "Z", "9",
                                   "n_gen",    "v_higgs_mev",    "\xc3\xa9", "\x7f", "",  "b"};
    EXPECT_EQ(sorted(names), (std::vector<std::string>{"", "9", "Z", "_", "a", "b", "n_gen", "n_gen_sq", "v_higgs_mev",
                                                       "visible_sector", "\x7f", "\xc3\xa9"}));
    // Longer than the insertion-sort limit: the merge path must agree.
    std::vector<std::string> many;
    for (int i = 0; i < 50; ++i) {
        many.push_back(std::string(1, static_cast<char>('z' - (i % 26))) + std::to_string(i));
    }
    std::vector<std::string> expected = many;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted(many), expected);
}

TEST(NameOrder, EveryShortListSortsLikeStdSort) {
    // Random short lists exercise the insertion sort, including duplicates
    // (which must stay stable).
    std::mt19937 rng(12345);
    using namespace std::string_literals;
    // Names that agree in their first eight bytes, and names that differ
    // from another only by trailing NUL bytes, need more than the first
    // eight bytes to be ordered.
    const std::vector<std::string> pool{
        "b3",     "n_gen",         "n_gen_sq",       "_",       "A",   "a", "", "\xff", "phi", "phi2",
        "phi\0"s, "sterile_check", "sterile_sector", "a\0\0b"s, "a\0"s};
    for (int round = 0; round < 5000; ++round) {
        const std::size_t n = rng() % 21;
        std::vector<std::string> names;
        for (std::size_t i = 0; i < n; ++i) {
            names.push_back(pool[rng() % pool.size()] + (rng() % 3 == 0 ? std::to_string(i) : ""));
        }
        std::vector<std::string> expected = names;
        std::stable_sort(expected.begin(), expected.end());
        ASSERT_EQ(sorted(names), expected) << "round " << round;
    }
}

}  // namespace
}  // namespace brenvalis::core
