// The datasheet of one constant as compact JSON text.
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

// {"name":...,"status":...,"uncertainty":...,"units":...,"value":...}
// Keys in ascending byte order, no whitespace; a NaN or infinite number and an
// absent uncertainty are written as null.
void write_datasheet(std::string& out, const core::ConstantRecord& record);

}  // namespace brenvalis::pyfacade
