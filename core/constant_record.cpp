#include "core/constant_record.hpp"

#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "core/byte_copy.hpp"

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

namespace {

std::size_t length_prefix_size(std::size_t length) noexcept {
    std::size_t bytes = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++bytes;
    }
    return bytes;
}

char* write_length_prefix(char* out, std::size_t length) noexcept {
    while (length >= 0x80) {
        *out++ = static_cast<char>(0x80 | (length & 0x7F));
        length >>= 7;
    }
    *out++ = static_cast<char>(length);
    return out;
}

// Reads a length prefix at `at` and moves `at` past it.
std::size_t read_length_prefix(const char*& at) noexcept {
    std::size_t length = 0;
    for (unsigned shift = 0;; shift += 7) {
        const auto digit = static_cast<unsigned char>(*at++);
        length |= std::size_t{digit & 0x7Fu} << shift;
        if ((digit & 0x80) == 0) {
            return length;
        }
    }
}

std::uint32_t checked_offset(std::size_t offset) {
    if (offset > std::numeric_limits<std::uint32_t>::max()) [[unlikely]] {
        throw std::length_error("ConstantRecord: the texts of one record must stay under 4 GiB");
    }
    return static_cast<std::uint32_t>(offset);
}

std::optional<std::size_t> formula_size(std::nullopt_t) noexcept { return std::nullopt; }
std::optional<std::size_t> formula_size(std::string_view formula) noexcept { return formula.size(); }
std::optional<std::size_t> formula_size(const FormulaNumber& formula) noexcept { return formula.size(); }

void write_formula(char*, std::nullopt_t) noexcept {}
void write_formula(char* out, std::string_view formula) noexcept { copy_bytes(out, formula.data(), formula.size()); }
void write_formula(char* out, const FormulaNumber& formula) noexcept { formula.write(out); }

}  // namespace

std::string_view NameListView::Iterator::operator*() const noexcept {
    const char* at = at_;
    const std::size_t length = read_length_prefix(at);
    return {at, length};
}

NameListView::Iterator& NameListView::Iterator::operator++() noexcept {
    const std::size_t length = read_length_prefix(at_);
    at_ += length;
    return *this;
}

std::string_view NameListView::operator[](std::size_t index) const noexcept {
    Iterator it = begin();
    for (; index != 0; --index) {
        ++it;
    }
    return *it;
}

RecordTexts::RecordTexts(std::string_view name, std::string_view units, std::optional<std::size_t> formula_size,
                         std::span<const std::string_view> depends_on) {
    std::size_t names_bytes = 0;
    for (std::string_view dependency : depends_on) {
        names_bytes += length_prefix_size(dependency.size()) + dependency.size();
    }
    const std::size_t name_end = name.size();
    const std::size_t units_end = name_end + units.size();
    const std::size_t formula_end = units_end + formula_size.value_or(0);
    layout_ = Layout{checked_offset(formula_end + names_bytes), static_cast<std::uint32_t>(name_end),
                     static_cast<std::uint32_t>(units_end),     static_cast<std::uint32_t>(formula_end),
                     checked_offset(depends_on.size()),         formula_size.has_value()};
    char* out = storage_.bytes;
    if (!is_inline()) [[unlikely]] {
        out = std::allocator<char>{}.allocate(layout_.size);
        storage_.heap = out;
    }
    copy_bytes(out, name.data(), name.size());
    copy_bytes(out + name_end, units.data(), units.size());
    out += formula_end;
    for (std::string_view dependency : depends_on) {
        out = write_length_prefix(out, dependency.size());
        copy_bytes(out, dependency.data(), dependency.size());
        out += dependency.size();
    }
}

void RecordTexts::copy_out_of_line(const RecordTexts& other) {
    // Until the new block exists this object must not look as if it owned
    // the other's, or a failed allocation would free it twice.
    layout_ = Layout{};
    char* copy = std::allocator<char>{}.allocate(other.layout_.size);
    std::memcpy(copy, other.storage_.heap, other.layout_.size);
    storage_.heap = copy;
    layout_ = other.layout_;
}

void RecordTexts::free_out_of_line() noexcept { std::allocator<char>{}.deallocate(storage_.heap, layout_.size); }

bool operator==(const RecordTexts& a, const RecordTexts& b) noexcept {
    return a.layout_ == b.layout_ && std::memcmp(a.data(), b.data(), a.layout_.size) == 0;
}

template <class Formula>
ConstantRecord::ConstantRecord(std::string_view name, double value_in, std::string_view units, ConstantStatus status_in,
                               const Formula& formula, std::span<const std::string_view> depends_on)
    : value(value_in), status(status_in), texts_(name, units, formula_size(formula), depends_on) {
    write_formula(texts_.formula_place(), formula);
}

ConstantRecord ConstantRecord::seed(std::string_view name, double value, std::string_view units) {
    return ConstantRecord(name, value, units, ConstantStatus::Seed, std::nullopt, {});
}

ConstantRecord ConstantRecord::derived(std::string_view name, std::string_view formula, std::string_view units,
                                       std::span<const std::string_view> depends_on) {
    return ConstantRecord(name, 0.0, units, ConstantStatus::Pending, formula, depends_on);
}

ConstantRecord ConstantRecord::derived(std::string_view name, const FormulaNumber& formula, std::string_view units) {
    return ConstantRecord(name, 0.0, units, ConstantStatus::Pending, formula, {});
}

}  // namespace brenvalis::core
