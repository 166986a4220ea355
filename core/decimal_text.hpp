// Shortest round-trip decimal text of binary64 numbers.
//
// One digit generator (the shortest digit string that reads back as the same
// double) serves every number text of the library. The formula layout, which
// the built-in table uses to make the formula texts of its numeric records,
// lives here: never exponent notation, integral values without a fractional
// part ("246220", "-1", "1776.86"). The datasheet's JSON layout belongs to the
// datasheet writer (pyfacade/json_text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brenvalis::core {

// The shortest significant digits of a finite double and its decimal exponent:
// value = 0.d1d2...dn * 10^(exponent + 1), i.e. exponent is the power of ten of
// the first digit (scientific notation's exponent). Zero has digits "0" and
// exponent 0.
struct ShortestDigits {
    char digits[24];
    int count = 0;
    int exponent = 0;
    bool negative = false;
};

// For NaN and the infinities, which have no digits, count is 0 and only
// negative (the sign bit) is meaningful.
ShortestDigits shortest_digits(double value) noexcept;

// The formula layout of one value, measured before it is written, so that a
// record can reserve exactly its room and have the text written straight
// into it. NaN and the infinities, which no built-in formula holds, come out
// as "nan", "inf" and "-inf".
class FormulaNumber {
public:
    explicit FormulaNumber(double value) noexcept;

    std::size_t size() const noexcept { return size_; }
    // Writes exactly size() bytes at `out` and returns the end.
    char* write(char* out) const noexcept;

private:
    ShortestDigits digits_;
    const char* special_ = nullptr;  // the text of a value without digits
    std::size_t size_ = 0;
};

// Appends the formula layout of a value.
void append_formula_number(std::string& out, double value);
std::string formula_number(double value);

}  // namespace brenvalis::core
