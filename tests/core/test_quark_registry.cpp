#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "core/quark_registry.hpp"

namespace brenvalis::core {
namespace {

double parse(const char* text) {
    double value = 0.0;
    std::from_chars(text, text + std::char_traits<char>::length(text), value);
    return value;
}

TEST(QuarkRegistry, StandardTableIsExact) {
    const QuarkRegistry registry = QuarkRegistry::standard();
    EXPECT_EQ(registry.len(), 6u);
    struct Row {
        const char* name;
        unsigned generation;
        unsigned phi_exponent;
        const char* mass_mev;
        const char* mass_ratio;
    };
    const Row rows[] = {
        {"up", 1, 12, "764.665760128228", "0.003105620015141857"},
        {"down", 1, 11, "1237.2551899207474", "0.005024998740641489"},
        {"strange", 2, 8, "5241.0970900186985", "0.02128623625220818"},
        {"charm", 2, 5, "22201.643549995544", "0.09016994374947422"},
        {"bottom", 3, 4, "35923.013870002665", "0.14589803375031543"},
        {"top", 3, 0, "246220.0", "1.0"},
    };
    const double phi = parse("1.618033988749895");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Quark* quark = registry.find(row.name);
        ASSERT_NE(quark, nullptr);
        EXPECT_EQ(quark->name, row.name);
        EXPECT_EQ(quark->generation, row.generation);
        EXPECT_EQ(quark->phi_exponent, row.phi_exponent);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(quark->mass_mev), std::bit_cast<std::uint64_t>(parse(row.mass_mev)));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(quark->mass_ratio), std::bit_cast<std::uint64_t>(parse(row.mass_ratio)));
        EXPECT_TRUE(quark->properties.empty());
        // The table's own consistency: mass = 246220 * ratio exactly, ratio ~ phi^-n.
        EXPECT_EQ(quark->mass_mev, 246220.0 * quark->mass_ratio);
        const double expected_ratio = std::pow(phi, -static_cast<double>(quark->phi_exponent));
        const double ulp = std::nextafter(expected_ratio, INFINITY) - expected_ratio;
        EXPECT_LE(std::fabs(quark->mass_ratio - expected_ratio), 4 * ulp);
    }
}

TEST(QuarkRegistry, SortedNamesAndEmptyRegistry) {
    EXPECT_EQ(QuarkRegistry::standard().sorted_names(),
              (std::vector<std::string>{"bottom", "charm", "down", "strange", "top", "up"}));
    const QuarkRegistry empty = QuarkRegistry::new_();
    EXPECT_EQ(empty.len(), 0u);
    EXPECT_TRUE(empty.sorted_names().empty());
}

TEST(QuarkRegistry, InsertReplacesSameName) {
    QuarkRegistry registry = QuarkRegistry::new_();
    registry.insert(Quark{"up", 1, 12, 1.0, 2.0, {}});
    registry.insert(Quark{"down", 1, 11, 5.0, 6.0, {}});
    registry.insert(Quark{"up", 1, 12, 3.0, 4.0, {}});
    EXPECT_EQ(registry.len(), 2u);
    EXPECT_EQ(registry.find("up")->mass_mev, 3.0);
    EXPECT_EQ(registry.find("down")->mass_mev, 5.0);
    EXPECT_EQ(registry.sorted_names(), (std::vector<std::string>{"down", "up"}));
}

}  // namespace
}  // namespace brenvalis::core
