#include "pyfacade/json_text.hpp"

#include <array>
#include <cmath>
#include <cstring>

#include "core/byte_copy.hpp"
#include "core/decimal_text.hpp"

namespace brenvalis::pyfacade {

namespace {

// For each byte, the character after the backslash of its short escape, 'u'
// for the \u00xx form, or 0 when the byte is written as it is. Everything from
// 0x20 up except '"' and '\\' passes through, which keeps non-ASCII UTF-8
// sequences intact without decoding them.
constexpr std::array<char, 256> kEscape = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) {
        table[static_cast<std::size_t>(c)] = 'u';
    }
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}();

// Longest number text: the plain layout of a 17-digit value with E = -5
// ("-0.0000" plus 17 digits) is 24 characters, the exponent layout at most 24.
constexpr std::size_t kNumberBuffer = 32;

char* write_exponent(char* p, int exponent) noexcept {
    if (exponent < 0) {
        *p++ = '-';
        exponent = -exponent;
    } else {
        *p++ = '+';
    }
    char tmp[4];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + exponent % 10);
        exponent /= 10;
    } while (exponent != 0);
    while (n > 0) {
        *p++ = tmp[--n];
    }
    return p;
}

}  // namespace

namespace {

// The longest text write_json_string can make of s: each byte as \u00xx,
// between quotes.
constexpr std::size_t json_string_bound(std::string_view s) { return 2 + 6 * s.size(); }

// Unescaped stretches are copied whole; names and units rarely hold anything
// to escape, so this is usually one copy between two quotes.
char* write_json_string(char* p, std::string_view s) noexcept {
    static constexpr char kHex[] = "0123456789abcdef";
    *p++ = '"';
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        const char escape = kEscape[byte];
        if (escape == 0) {
            continue;
        }
        core::copy_bytes(p, s.data() + run_start, i - run_start);
        p += i - run_start;
        run_start = i + 1;
        *p++ = '\\';
        *p++ = escape;
        if (escape == 'u') {
            *p++ = '0';
            *p++ = '0';
            *p++ = kHex[byte >> 4];
            *p++ = kHex[byte & 0xF];
        }
    }
    core::copy_bytes(p, s.data() + run_start, s.size() - run_start);
    p += s.size() - run_start;
    *p++ = '"';
    return p;
}

// At most kNumberBuffer bytes.
char* write_json_number(char* p, double value) noexcept {
    if (!std::isfinite(value)) {
        std::memcpy(p, "null", 4);
        return p + 4;
    }
    const core::ShortestDigits d = core::shortest_digits(value);
    const auto count = static_cast<std::size_t>(d.count);
    if (d.negative) {
        *p++ = '-';
    }
    if (d.exponent >= -5 && d.exponent <= 15) {
        const int integral_digits = d.exponent + 1;
        if (integral_digits <= 0) {
            *p++ = '0';
            *p++ = '.';
            p = core::write_zeros(p, static_cast<std::size_t>(-integral_digits));
            core::copy_bytes(p, d.digits, count);
            return p + count;
        }
        const auto integral = static_cast<std::size_t>(integral_digits);
        if (count <= integral) {
            // Integral: the trailing ".0" keeps a JSON reader from making an int.
            core::copy_bytes(p, d.digits, count);
            p = core::write_zeros(p + count, integral - count);
            *p++ = '.';
            *p++ = '0';
            return p;
        }
        core::copy_bytes(p, d.digits, integral);
        p += integral;
        *p++ = '.';
        core::copy_bytes(p, d.digits + integral, count - integral);
        return p + (count - integral);
    }
    *p++ = d.digits[0];
    if (count > 1) {
        *p++ = '.';
        core::copy_bytes(p, d.digits + 1, count - 1);
        p += count - 1;
    }
    *p++ = 'e';
    return write_exponent(p, d.exponent);
}

// Copies a literal's characters, without its NUL; the length is a constant,
// so the copy is a few moves.
template <std::size_t N>
char* write_literal(char* p, const char (&text)[N]) noexcept {
    std::memcpy(p, text, N - 1);
    return p + (N - 1);
}

// Appends what `write` produces, into room for `bound` bytes reserved once;
// the string ends up as long as what was written (the callback returns that
// size, never the one it is given: GCC 12's resize_and_overwrite hands its
// callback the capacity it grew to, not the size asked for, whenever it must
// grow).
template <class Write>
void append_written(std::string& out, std::size_t bound, Write&& write) {
    const std::size_t at = out.size();
    out.resize_and_overwrite(at + bound, [at, &write](char* p, std::size_t) noexcept {
        return static_cast<std::size_t>(write(p + at) - p);
    });
}

}  // namespace

void append_json_string(std::string& out, std::string_view s) {
    append_written(out, json_string_bound(s), [s](char* p) noexcept { return write_json_string(p, s); });
}

void append_json_number(std::string& out, double value) {
    append_written(out, kNumberBuffer, [value](char* p) noexcept { return write_json_number(p, value); });
}

// A NaN or infinite value or uncertainty comes out as null from
// write_json_number itself. The whole text is written in one go into room
// for its longest form.
void write_datasheet(std::string& out, const core::ConstantRecord& record) {
    const std::string_view name = record.name();
    const std::string_view status = core::status_text(record.status);
    const std::string_view units = record.units();
    constexpr std::size_t kFixed = sizeof R"({"name":,"status":,"uncertainty":,"units":,"value":})" - 1;
    const std::size_t bound =
        kFixed + json_string_bound(name) + json_string_bound(status) + json_string_bound(units) + 2 * kNumberBuffer;
    append_written(out, bound, [&](char* p) noexcept {
        p = write_literal(p, R"({"name":)");
        p = write_json_string(p, name);
        p = write_literal(p, R"(,"status":)");
        p = write_json_string(p, status);
        p = write_literal(p, R"(,"uncertainty":)");
        p = record.uncertainty.has_value() ? write_json_number(p, *record.uncertainty) : write_literal(p, "null");
        p = write_literal(p, R"(,"units":)");
        p = write_json_string(p, units);
        p = write_literal(p, R"(,"value":)");
        p = write_json_number(p, record.value);
        *p++ = '}';
        return p;
    });
}

}  // namespace brenvalis::pyfacade
