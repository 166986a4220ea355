// The number writers against a round trip: the datasheet's number text and
// the formula text of any double read back (strtod) as the same double, bit
// for bit, and no decimal with one significant digit fewer would. The
// shorter candidates come from the C library's correctly rounded printf, not
// from the digit generator under test: the nearest decimal of n - 1 digits
// and its two neighbours, between which every such decimal that could read
// back as the value lies. The layout rules are checked on the text itself.
//
// Input: a first byte 0 takes the next eight bytes as the bit pattern of
// the double (NaNs with payloads, subnormals, -0.0); anything else reads
// the rest as a number text through strtod, so that the dictionary's edge
// texts ("4.9e-324", "1e16", "0.00001") land on their doubles exactly.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/decimal_text.hpp"
#include "pyfacade/json_text.hpp"

namespace {

[[noreturn]] void fail(const char* what, double value, const std::string& text) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    std::fprintf(stderr, "%s: %a (bits %016llx) written as \"%s\"\n", what, value,
                 static_cast<unsigned long long>(bits), text.c_str());
    std::abort();
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool reads_back(const std::string& text, double value) {
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && same_bits(parsed, value);
}

// Significant digits of a plain or exponent text: leading zeros, the point
// and the exponent do not count; trailing zeros of an integral plain text
// (a point then one zero) are dropped too.
int significant_digits(const std::string& text) {
    const std::size_t e = text.find('e');
    const std::string mantissa = text.substr(0, e);
    std::string digits;
    for (char c : mantissa) {
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
        }
    }
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return 1;
    }
    const std::size_t last = digits.find_last_not_of('0');
    return static_cast<int>(last - first + 1);
}

// Whether some decimal of `digits` significant digits reads back as `value`.
bool shorter_exists(double value, int digits) {
    char nearest[64];
    std::snprintf(nearest, sizeof nearest, "%.*e", digits - 1, std::fabs(value));
    // nearest is d.ddd...e±X: the mantissa as an integer of `digits` digits.
    char* e = std::strchr(nearest, 'e');
    const int exponent = std::atoi(e + 1) - (digits - 1);
    std::string mantissa;
    for (char* p = nearest; p != e; ++p) {
        if (*p != '.') {
            mantissa.push_back(*p);
        }
    }
    const long long m = std::atoll(mantissa.c_str());
    for (long long candidate : {m - 1, m, m + 1}) {
        if (candidate <= 0) {
            continue;
        }
        const std::string text = std::to_string(candidate) + "e" + std::to_string(exponent);
        if (same_bits(std::strtod(text.c_str(), nullptr), std::fabs(value))) {
            return true;
        }
    }
    return false;
}

// Scientific notation's exponent of a finite non-zero value as its shortest
// digits place it (the C library's "%.16e" can round up across a power of
// ten, so it is read from the text instead).
int decimal_exponent_of(const std::string& text) {
    const std::size_t e = text.find('e');
    if (e != std::string::npos) {
        return std::atoi(text.c_str() + e + 1);
    }
    const std::size_t start = text[0] == '-' ? 1 : 0;
    const std::size_t point = text.find('.');
    if (text[start] != '0') {
        return static_cast<int>(point - start) - 1;
    }
    const std::size_t first = text.find_first_not_of("0.", start);
    return -static_cast<int>(first - point);
}

void check_json_number(double value) {
    std::string text;
    brenvalis::pyfacade::append_json_number(text, value);
    if (!std::isfinite(value)) {
        if (text != "null") {
            fail("a NaN or infinity not written as null", value, text);
        }
        return;
    }
    if (!reads_back(text, value)) {
        fail("datasheet number does not read back", value, text);
    }
    if (text.find_first_of(".e") == std::string::npos) {
        fail("datasheet number that a JSON reader takes for an int", value, text);
    }
    const int digits = significant_digits(text);
    if (digits > 1 && shorter_exists(value, digits - 1)) {
        fail("datasheet number is not the shortest", value, text);
    }
    if (value == 0.0) {
        if (text != (std::signbit(value) ? "-0.0" : "0.0")) {
            fail("zero", value, text);
        }
        return;
    }
    const int exponent = decimal_exponent_of(text);
    const bool plain = text.find('e') == std::string::npos;
    if (plain != (exponent >= -5 && exponent <= 15)) {
        fail("plain and exponent notation switch at the wrong exponent", value, text);
    }
    if (!plain) {
        // d[.ddd]e(+|-)E: a sign always, no leading zeros, no trailing zeros
        // in the mantissa, no lone point.
        const std::size_t e = text.find('e');
        const char sign = text[e + 1];
        const std::string mantissa = text.substr(0, e);
        if ((sign != '+' && sign != '-') || text[e + 2] == '0' || mantissa.back() == '.' ||
            (mantissa.find('.') != std::string::npos && mantissa.back() == '0')) {
            fail("exponent notation", value, text);
        }
    } else if (text.back() == '.' || (text.back() == '0' && text[text.size() - 2] != '.')) {
        fail("plain notation", value, text);
    }
}

void check_formula_number(double value) {
    const std::string text = brenvalis::core::formula_number(value);
    if (!std::isfinite(value)) {
        const char* expected = std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
        if (text != expected) {
            fail("formula text of a NaN or infinity", value, text);
        }
        return;
    }
    if (!reads_back(text, value)) {
        fail("formula number does not read back", value, text);
    }
    if (text.find('e') != std::string::npos || (value == std::trunc(value) && text.find('.') != std::string::npos)) {
        fail("formula layout", value, text);
    }
    const int digits = significant_digits(text);
    if (digits > 1 && shorter_exists(value, digits - 1)) {
        fail("formula number is not the shortest", value, text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    double value = 0.0;
    if (data[0] == 0) {
        if (size < 9) {
            return 0;
        }
        std::memcpy(&value, data + 1, sizeof value);
    } else {
        const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        value = std::strtod(text.c_str(), nullptr);
    }
    check_json_number(value);
    check_formula_number(value);
    return 0;
}
