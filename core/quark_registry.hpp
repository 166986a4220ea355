// The six Standard-Model quarks, keyed by name.
//
// Nothing ever looks a quark up or reads its numbers: the registry's only
// observable outputs are its length and its sorted names, so the map's own
// layout and iteration order never leak out. The map is a flat list of
// (owned key, quark) entries searched from the front: with six entries at
// most, that beats any hashed layout, and it costs one allocation where a
// node-based map costs one per entry plus its buckets. Every listing builds a
// registry, so that is most of what listing costs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace brenvalis::core {

struct Quark {
    std::string name;
    std::uint8_t generation = 0;
    std::uint32_t phi_exponent = 0;
    double mass_mev = 0.0;
    double mass_ratio = 0.0;
    // Free-form numeric properties; no built-in quark has any. An empty
    // ordered map costs nothing to make, move or drop.
    std::map<std::string, double> properties;
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

    std::uint64_t len() const noexcept { return entries_.size(); }
    std::vector<std::string> sorted_names() const;

    // Read access for tests of the built-in table; nullptr when absent.
    const Quark* find(std::string_view name) const;

private:
    struct Entry {
        std::string key;
        Quark quark;
    };

    std::vector<Entry> entries_;
};

}  // namespace brenvalis::core
