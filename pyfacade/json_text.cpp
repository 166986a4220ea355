#include "json_text.hpp"

#include <array>

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

// A NaN or infinite value or uncertainty comes out as null from
// append_json_number itself.
void write_datasheet(std::string& out, const core::ConstantRecord& record) {
    out.append(R"({"name":)");
    append_json_string(out, record.name);
    out.append(R"(,"status":)");
    append_json_string(out, core::status_text(record.status));
    out.append(R"(,"uncertainty":)");
    if (record.uncertainty.has_value()) {
        core::append_json_number(out, *record.uncertainty);
    } else {
        out.append("null");
    }
    out.append(R"(,"units":)");
    append_json_string(out, record.units);
    out.append(R"(,"value":)");
    core::append_json_number(out, record.value);
    out.push_back('}');
}

}  // namespace brenvalis::pyfacade
