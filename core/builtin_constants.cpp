#include "core/builtin_constants.hpp"

#include <iterator>
#include <span>

#include "core/decimal_text.hpp"

namespace brenvalis::core {

namespace {

using Kind = BuiltinConstant::Kind;

constexpr BuiltinConstant seed(std::string_view name, double value, std::string_view units) {
    return {Kind::Seed, name, units, value, {}, {}, 0};
}
constexpr BuiltinConstant numeric_formula(std::string_view name, double number, std::string_view units) {
    return {Kind::FormulaNumber, name, units, number, {}, {}, 0};
}
constexpr BuiltinConstant text_formula(std::string_view name, std::string_view formula, std::string_view units,
                                       std::string_view first, std::string_view second = {}) {
    return {Kind::FormulaText,
            name,
            units,
            0.0,
            formula,
            {first, second},
            static_cast<std::uint8_t>(second.empty() ? 1 : 2)};
}

constexpr BuiltinConstant kTable[] = {
    seed("b3", 24.0, "dimensionless"),
    seed("chi_eff", 72.0, "dimensionless"),
    seed("n_gen", 3.0, "count"),
    seed("roots_total", 288.0, "count"),
    seed("visible_sector", 125.0, "count"),
    seed("sterile_sector", 163.0, "count"),
    seed("phi", 1.618033988749895, "dimensionless"),
    seed("gamma_em", 0.5772156649015329, "dimensionless"),
    seed("jc_constant", 153.0, "count"),
    seed("logic_closure", 288.0, "count"),
    numeric_formula("v_higgs_mev", 246220.0, "MeV"),
    text_formula("sterile_check", "roots_total - visible_sector", "count", "roots_total", "visible_sector"),
    text_formula("n_gen_sq", "n_gen * n_gen", "count", "n_gen"),
    numeric_formula("h0_central", 70.0, "km/s/Mpc"),
    numeric_formula("w0_central", -1.0, "dimensionless"),
    numeric_formula("m_tau_mev", 1776.86, "MeV"),
    text_formula("topo_gen_check", "chi_eff / b3", "count", "chi_eff", "b3"),
};
static_assert(std::size(kTable) == 17);

constexpr bool names_are_distinct() {
    for (std::size_t i = 0; i < std::size(kTable); ++i) {
        for (std::size_t j = i + 1; j < std::size(kTable); ++j) {
            if (kTable[i].name == kTable[j].name) {
                return false;
            }
        }
    }
    return true;
}
static_assert(names_are_distinct(), "a repeated name would replace an earlier row in every registry");

constexpr std::size_t name_bytes() {
    std::size_t total = 0;
    for (const BuiltinConstant& row : kTable) {
        total += row.name.size();
    }
    return total;
}

}  // namespace

std::span<const BuiltinConstant> builtin_constants() noexcept { return kTable; }

std::size_t builtin_name_bytes() noexcept { return name_bytes(); }

ConstantRecord make_builtin_record(const BuiltinConstant& row) {
    switch (row.kind) {
        case Kind::Seed: return ConstantRecord::seed(row.name, row.value, row.units);
        case Kind::FormulaNumber:
            // Rendered on every build: the table holds the number, and its
            // text is written into the record each time a registry is made.
            return ConstantRecord::derived(row.name, FormulaNumber(row.value), row.units);
        case Kind::FormulaText: break;
    }
    return ConstantRecord::derived(row.name, row.formula, row.units,
                                   std::span(row.depends_on.data(), row.depends_on_count));
}

}  // namespace brenvalis::core
