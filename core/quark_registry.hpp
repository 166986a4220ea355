// The six Standard-Model quarks, keyed by name.
//
// Nothing ever looks a quark up or reads its numbers: the registry's only
// observable outputs are its length and its sorted names, so the map's own
// hash and iteration order never leak out.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace brenvalis::core {

struct Quark {
    std::string name;
    std::uint8_t generation = 0;
    std::uint32_t phi_exponent = 0;
    double mass_mev = 0.0;
    double mass_ratio = 0.0;
    // Free-form numeric properties; no built-in quark has any.
    std::unordered_map<std::string, double> properties;
};

class QuarkRegistry {
public:
    // Empty: what a PyQuarkRegistry holds. (`new` is reserved in C++.)
    static QuarkRegistry new_();
    // The six quarks of the table, inserted in table order.
    static QuarkRegistry standard();

    // Stores the quark under a copy of its name, replacing any earlier quark
    // of the same name.
    void insert(Quark quark);

    std::uint64_t len() const noexcept { return quarks_.size(); }
    std::vector<std::string> sorted_names() const;

    // Read access for tests of the built-in table; nullptr when absent.
    const Quark* find(const std::string& name) const;

private:
    std::unordered_map<std::string, Quark> quarks_;
};

}  // namespace brenvalis::core
