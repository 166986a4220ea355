#include "core/quark_registry.hpp"

#include <algorithm>
#include <array>

#include "core/name_order.hpp"

namespace brenvalis::core {

namespace {

struct QuarkRow {
    const char* name;
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
    registry.quarks_.reserve(kStandardQuarks.size());
    for (const QuarkRow& row : kStandardQuarks) {
        registry.insert(Quark{row.name, row.generation, row.phi_exponent, row.mass_mev, row.mass_ratio, {}});
    }
    return registry;
}

void QuarkRegistry::insert(Quark quark) {
    std::string key = quark.name;
    quarks_.insert_or_assign(std::move(key), std::move(quark));
}

std::vector<std::string> QuarkRegistry::sorted_names() const {
    std::vector<std::string> names;
    names.reserve(std::max<std::size_t>(4, quarks_.size()));
    for (const auto& [name, quark] : quarks_) {
        names.push_back(name);
    }
    sort_names(names);
    return names;
}

const Quark* QuarkRegistry::find(const std::string& name) const {
    auto it = quarks_.find(name);
    return it == quarks_.end() ? nullptr : &it->second;
}

}  // namespace brenvalis::core
