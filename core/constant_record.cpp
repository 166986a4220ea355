#include "core/constant_record.hpp"

namespace brenvalis::core {

std::string_view status_text(ConstantStatus status) noexcept {
    switch (status) {
        case ConstantStatus::Seed: return "Seed";
        case ConstantStatus::Cached: return "Cached";
        case ConstantStatus::Pending: return "Pending";
        case ConstantStatus::External: return "External";
    }
    return "Seed";  // unreachable: the enumeration has exactly four values
}

ConstantRecord ConstantRecord::seed(std::string_view name, double value, std::string_view units) {
    ConstantRecord record;
    record.name.assign(name);
    record.value = value;
    record.units.assign(units);
    return record;
}

ConstantRecord ConstantRecord::derived(std::string_view name, std::string_view formula, std::string_view units,
                                       std::initializer_list<std::string_view> depends_on) {
    ConstantRecord record;
    record.name.assign(name);
    record.value = 0.0;
    record.units.assign(units);
    record.status = ConstantStatus::Pending;
    record.formula.emplace(formula);
    record.depends_on.reserve(depends_on.size());
    for (std::string_view dep : depends_on) {
        record.depends_on.emplace_back(dep);
    }
    return record;
}

}  // namespace brenvalis::core
