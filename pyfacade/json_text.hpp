// The datasheet of one constant as compact JSON text: the whole format, its
// strings and its numbers, in one place.
//
// Interpreter-free on purpose: the C++ tests drive it with any record, and the
// facade hands its output to the interpreter's json.loads.
#pragma once

#include <string>
#include <string_view>

#include "core/constant_record.hpp"

namespace brenvalis::pyfacade {

// Appends s as a JSON string literal: '"' and '\\' escaped, \b \t \n \f \r by
// their short escapes, other code points below 0x20 as \u00xx (lowercase hex),
// every other byte (including '/', 0x7F and all non-ASCII) as it is.
void append_json_string(std::string& out, std::string_view s);

// Appends a number as the shortest digits that read back as the same double:
// plain notation for decimal exponents -5..15 with ".0" on integral values,
// otherwise d[.ddd]e(+|-)E. The text always holds a '.' or an 'e', so a JSON
// parser reads it back as a float, never an int. NaN and the infinities, which
// JSON cannot spell, come out as null.
void append_json_number(std::string& out, double value);

// {"name":...,"status":...,"uncertainty":...,"units":...,"value":...}
// Keys in ascending byte order, no whitespace; a NaN or infinite number and an
// absent uncertainty are written as null.
void write_datasheet(std::string& out, const core::ConstantRecord& record);

}  // namespace brenvalis::pyfacade
