// Reads binary64 bit patterns (hex, one per line) from standard input and
// writes the datasheet text of each number, one per line. Lets the Python
// tests compare the writer's digits with repr() on random doubles without
// putting a test-only entry into the shipped module.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

#include "pyfacade/json_text.hpp"

int main() {
    std::string line;
    std::string out;
    while (std::getline(std::cin, line)) {
        std::uint64_t bits = 0;
        const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), bits, 16);
        if (ec != std::errc() || end != line.data() + line.size()) {
            std::cerr << "bad input line: " << line << '\n';
            return 2;
        }
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        out.clear();
        brenvalis::pyfacade::append_json_number(out, value);
        std::cout << out << '\n';
    }
    return 0;
}
