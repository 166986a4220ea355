// The seventeen constants compiled into the library, in the order in which a
// registry is filled with them.
//
// This is data, kept apart from the store that holds it: the registry reads
// the rows and builds each record straight into its entry. Derived records are
// never evaluated; they carry their formula and report 0.0 as Pending.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/constant_record.hpp"

namespace brenvalis::core {

struct BuiltinConstant {
    enum class Kind : std::uint8_t {
        Seed,           // `value` is the constant's number
        FormulaText,    // `formula` is the formula as written
        FormulaNumber,  // the formula is the decimal text of `value`
    };

    Kind kind;
    std::string_view name;
    std::string_view units;
    double value;
    std::string_view formula;
    std::array<std::string_view, 2> depends_on;
    std::uint8_t depends_on_count;
};

// The rows in insertion order. Their names are distinct (checked when this
// library is compiled).
std::span<const BuiltinConstant> builtin_constants() noexcept;

// The bytes of all the rows' names together.
std::size_t builtin_name_bytes() noexcept;

// The record a row stands for, as it is stored in every fresh registry.
ConstantRecord make_builtin_record(const BuiltinConstant& row);

}  // namespace brenvalis::core
