#include "core/decimal_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

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

void append_formula_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        // A formula text has no spelling for these; give the one a reader of
        // the text would recognise rather than digits that mean nothing.
        out.append(std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf"));
        return;
    }
    const ShortestDigits d = shortest_digits(value);
    if (d.negative) {
        out.push_back('-');
    }
    // Digits before the point: exponent + 1 of them when the first digit sits
    // at or left of the units place.
    const int integral_digits = d.exponent + 1;
    if (integral_digits <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-integral_digits), '0');
        out.append(d.digits, static_cast<std::size_t>(d.count));
    } else if (d.count <= integral_digits) {
        out.append(d.digits, static_cast<std::size_t>(d.count));
        out.append(static_cast<std::size_t>(integral_digits - d.count), '0');
    } else {
        out.append(d.digits, static_cast<std::size_t>(integral_digits));
        out.push_back('.');
        out.append(d.digits + integral_digits, static_cast<std::size_t>(d.count - integral_digits));
    }
}

std::string formula_number(double value) {
    std::string out;
    append_formula_number(out, value);
    return out;
}

}  // namespace brenvalis::core
