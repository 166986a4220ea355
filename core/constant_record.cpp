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

NameList::NameList(std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
        push_back(name);
    }
}

void NameList::push_back(std::string_view name) {
    std::size_t length = name.size();
    while (length >= 0x80) {
        packed_.push_back(static_cast<char>(0x80 | (length & 0x7F)));
        length >>= 7;
    }
    packed_.push_back(static_cast<char>(length));
    packed_.append(name);
    ++count_;
}

std::string_view NameList::operator[](std::size_t index) const noexcept {
    std::size_t at = 0;
    for (;;) {
        std::size_t length = 0;
        for (unsigned shift = 0;; shift += 7) {
            const auto digit = static_cast<unsigned char>(packed_[at++]);
            length |= std::size_t{digit & 0x7Fu} << shift;
            if ((digit & 0x80) == 0) {
                break;
            }
        }
        if (index == 0) {
            return std::string_view(packed_).substr(at, length);
        }
        at += length;
        --index;
    }
}

ConstantRecord ConstantRecord::seed(std::string_view name, double value, std::string_view units) {
    ConstantRecord record;
    record.name.assign(name);
    record.value = value;
    record.units.assign(units);
    return record;
}

ConstantRecord ConstantRecord::derived(std::string_view name, std::string_view formula, std::string_view units,
                                       NameList depends_on) {
    ConstantRecord record;
    record.name.assign(name);
    record.units.assign(units);
    record.status = ConstantStatus::Pending;
    record.formula.emplace(formula);
    record.depends_on = std::move(depends_on);
    return record;
}

}  // namespace brenvalis::core
