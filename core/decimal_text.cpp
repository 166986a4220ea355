#include "core/decimal_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/byte_copy.hpp"

namespace brenvalis::core {

namespace {

// Longest scientific text of a finite double: "-d.dddddddddddddddde-308" is
// 24 characters; the margin keeps to_chars from ever reporting a short buffer.
constexpr std::size_t kScientificBuffer = 32;

// Integral values below 2^53 in magnitude: every integer there is a double and
// neighbouring doubles are at most 1 apart, so no shorter digit string reads
// back as the same value and the shortest digits are the integer's own (less
// trailing zeros). Printing the integer skips the general shortest-digit
// search, which matters because the table's formula numbers and most seed
// values are integral and a registry is built on every call that needs one.
constexpr double kExactIntegerLimit = 9007199254740992.0;  // 2^53

}  // namespace

ShortestDigits shortest_digits(double value) noexcept {
    ShortestDigits result{};
    result.negative = std::signbit(value);
    if (!std::isfinite(value)) {
        // No digits describe these; the layouts check for them before asking.
        return result;
    }
    const double magnitude = std::fabs(value);
    if (magnitude < kExactIntegerLimit && magnitude == std::trunc(magnitude)) {
        const char* end =
            std::to_chars(result.digits, result.digits + sizeof result.digits, static_cast<std::uint64_t>(magnitude))
                .ptr;
        int count = static_cast<int>(end - result.digits);
        result.exponent = count - 1;
        while (count > 1 && result.digits[count - 1] == '0') {
            --count;
        }
        result.count = count;
        return result;
    }

    // Without a precision, scientific to_chars yields the shortest digits that
    // read back as the same double, with ties between equally short candidates
    // broken towards the one nearest the value. Its exact shape is
    // [-]d[.ddd]e(+|-)dd[d], which is all the parsing below has to handle.
    char text[kScientificBuffer];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    if (ec != std::errc{}) {
        return result;  // cannot happen with this buffer size
    }

    const char* p = text;
    if (*p == '-') {
        ++p;
    }
    result.digits[result.count++] = *p++;
    if (*p == '.') {
        ++p;
        while (*p != 'e') {
            result.digits[result.count++] = *p++;
        }
    }
    ++p;  // 'e'
    const bool negative_exponent = *p++ == '-';
    int exponent = 0;
    for (; p != end; ++p) {
        exponent = exponent * 10 + (*p - '0');
    }
    result.exponent = negative_exponent ? -exponent : exponent;
    return result;
}

FormulaNumber::FormulaNumber(double value) noexcept {
    if (!std::isfinite(value)) {
        // A formula text has no spelling for these; give the one a reader of
        // the text would recognise rather than digits that mean nothing.
        special_ = std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
        size_ = std::strlen(special_);
        return;
    }
    digits_ = shortest_digits(value);
    // Digits before the point: exponent + 1 of them when the first digit sits
    // at or left of the units place.
    const int integral_digits = digits_.exponent + 1;
    std::size_t size = digits_.negative ? 1 : 0;
    if (integral_digits <= 0) {
        size += 2 + static_cast<std::size_t>(-integral_digits + digits_.count);  // "0." and zeros, then the digits
    } else if (digits_.count <= integral_digits) {
        size += static_cast<std::size_t>(integral_digits);  // digits, then zeros up to the point
    } else {
        size += static_cast<std::size_t>(digits_.count) + 1;  // digits with the point among them
    }
    size_ = size;
}

char* FormulaNumber::write(char* out) const noexcept {
    if (special_ != nullptr) {
        std::memcpy(out, special_, size_);
        return out + size_;
    }
    const ShortestDigits& d = digits_;
    const auto count = static_cast<std::size_t>(d.count);
    const int integral_digits = d.exponent + 1;
    if (d.negative) {
        *out++ = '-';
    }
    if (integral_digits <= 0) {
        *out++ = '0';
        *out++ = '.';
        const auto zeros = static_cast<std::size_t>(-integral_digits);
        out = write_zeros(out, zeros);
        copy_bytes(out, d.digits, count);
        return out + count;
    }
    const auto integral = static_cast<std::size_t>(integral_digits);
    if (count <= integral) {
        copy_bytes(out, d.digits, count);
        return write_zeros(out + count, integral - count);
    }
    copy_bytes(out, d.digits, integral);
    out += integral;
    *out++ = '.';
    copy_bytes(out, d.digits + integral, count - integral);
    return out + (count - integral);
}

void append_formula_number(std::string& out, double value) {
    const FormulaNumber number(value);
    const std::size_t at = out.size();
    // The size it means, not the one it is given: GCC 12's
    // resize_and_overwrite hands its callback the capacity it grew to, not
    // the size asked for, whenever it must grow.
    out.resize_and_overwrite(at + number.size(), [&number, at](char* p, std::size_t) noexcept {
        return static_cast<std::size_t>(number.write(p + at) - p);
    });
}

std::string formula_number(double value) {
    std::string out;
    append_formula_number(out, value);
    return out;
}

}  // namespace brenvalis::core
