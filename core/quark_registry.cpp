#include "core/quark_registry.hpp"

#include <array>

#include "core/name_order.hpp"

namespace brenvalis::core {

namespace {

struct QuarkRow {
    std::string_view name;
    std::uint8_t generation;
    std::uint32_t phi_exponent;
    double mass_mev;
    double mass_ratio;
};

// Stored as written, never recomputed: each mass is 246220.0 times its ratio
// in binary64, and each ratio is phi to the minus exponent within a few ulp.
constexpr std::array<QuarkRow, 6> kStandardQuarks{{
    {"up", 1, 12, 764.665760128228, 0.003105620015141857},
    {"down", 1, 11, 1237.2551899207474, 0.005024998740641489},
    {"strange", 2, 8, 5241.0970900186985, 0.02128623625220818},
    {"charm", 2, 5, 22201.643549995544, 0.09016994374947422},
    {"bottom", 3, 4, 35923.013870002665, 0.14589803375031543},
    {"top", 3, 0, 246220.0, 1.0},
}};

}  // namespace

QuarkRegistry QuarkRegistry::new_() { return QuarkRegistry{}; }

QuarkRegistry QuarkRegistry::standard() {
    QuarkRegistry registry;
    registry.entries_.reserve(kStandardQuarks.size());
    for (const QuarkRow& row : kStandardQuarks) {
        registry.insert_with([&row] {
            return Quark{std::string(row.name), row.generation, row.phi_exponent, row.mass_mev, row.mass_ratio, {}};
        });
    }
    return registry;
}

// The keys are ordered as they stand and each name copied once, straight into
// its place: nothing else can touch the keys while this runs.
std::vector<std::string> QuarkRegistry::sorted_names() const {
    NameViews keys;
    for (const Entry& entry : entries_) {
        keys.push_back(entry.key);
    }
    return sorted_copies(keys.names(), 4);
}

const Quark* QuarkRegistry::find(std::string_view name) const {
    for (const Entry& entry : entries_) {
        if (entry.key == name) {
            return &entry.quark;
        }
    }
    return nullptr;
}

}  // namespace brenvalis::core
