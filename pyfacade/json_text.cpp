#include "pyfacade/json_text.hpp"

#include <array>
#include <cmath>
#include <cstring>

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

void append_json_string(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    // Copy unescaped stretches in one append each; names and units rarely
    // hold anything to escape, so this is usually a single append.
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        const char escape = kEscape[byte];
        if (escape == 0) {
            continue;
        }
        out.append(s.data() + run_start, i - run_start);
        run_start = i + 1;
        if (escape == 'u') {
            const char text[6] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
            out.append(text, sizeof text);
        } else {
            const char text[2] = {'\\', escape};
            out.append(text, sizeof text);
        }
    }
    out.append(s.data() + run_start, s.size() - run_start);
    out.push_back('"');
}

void append_json_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    const core::ShortestDigits d = core::shortest_digits(value);
    char text[kNumberBuffer];
    char* p = text;
    if (d.negative) {
        *p++ = '-';
    }
    if (d.exponent >= -5 && d.exponent <= 15) {
        const int integral_digits = d.exponent + 1;
        if (integral_digits <= 0) {
            *p++ = '0';
            *p++ = '.';
            std::memset(p, '0', static_cast<std::size_t>(-integral_digits));
            p += -integral_digits;
            std::memcpy(p, d.digits, static_cast<std::size_t>(d.count));
            p += d.count;
        } else if (d.count <= integral_digits) {
            // Integral: the trailing ".0" keeps a JSON reader from making an int.
            std::memcpy(p, d.digits, static_cast<std::size_t>(d.count));
            p += d.count;
            std::memset(p, '0', static_cast<std::size_t>(integral_digits - d.count));
            p += integral_digits - d.count;
            *p++ = '.';
            *p++ = '0';
        } else {
            std::memcpy(p, d.digits, static_cast<std::size_t>(integral_digits));
            p += integral_digits;
            *p++ = '.';
            std::memcpy(p, d.digits + integral_digits, static_cast<std::size_t>(d.count - integral_digits));
            p += d.count - integral_digits;
        }
    } else {
        *p++ = d.digits[0];
        if (d.count > 1) {
            *p++ = '.';
            std::memcpy(p, d.digits + 1, static_cast<std::size_t>(d.count - 1));
            p += d.count - 1;
        }
        *p++ = 'e';
        p = write_exponent(p, d.exponent);
    }
    out.append(text, static_cast<std::size_t>(p - text));
}

// A NaN or infinite value or uncertainty comes out as null from
// append_json_number itself.
void write_datasheet(std::string& out, const core::ConstantRecord& record) {
    out.append(R"({"name":)");
    append_json_string(out, record.name());
    out.append(R"(,"status":)");
    append_json_string(out, core::status_text(record.status));
    out.append(R"(,"uncertainty":)");
    if (record.uncertainty.has_value()) {
        append_json_number(out, *record.uncertainty);
    } else {
        out.append("null");
    }
    out.append(R"(,"units":)");
    append_json_string(out, record.units());
    out.append(R"(,"value":)");
    append_json_number(out, record.value);
    out.push_back('}');
}

}  // namespace brenvalis::pyfacade
