// The six Standard-Model quarks, keyed by name.
//
// Nothing ever looks a quark up or reads its numbers: the registry's only
// observable outputs are its length and its sorted names, so the map's own
// layout and iteration order never leak out. The map is a flat list of
// (quark, owned key) entries searched from the front: with six entries at
// most, that beats any hashed layout, and it costs one allocation where a
// node-based map costs one per entry plus its buckets. Every listing builds a
// registry, so that is most of what listing costs; each quark is therefore
// built straight into its entry and its key copied from it there.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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

    // Stores the quark that `make()` returns under a copy of its name,
    // replacing any earlier quark of the same name (whose key stays). The
    // quark is built straight into a new entry.
    template <class Make>
    void insert_with(Make&& make);

    // The same for a quark already made.
    void insert(Quark quark) {
        insert_with([&quark] { return std::move(quark); });
    }

    std::uint64_t len() const noexcept { return entries_.size(); }
    std::vector<std::string> sorted_names() const;

    // Read access for tests of the built-in table; nullptr when absent.
    const Quark* find(std::string_view name) const;

private:
    struct Entry {
        // The key is copy-constructed from the name: for a short name both C++
        // runtimes do that inline, libc++ as one copy of the string's few
        // words.
        template <class Make>
        explicit Entry(Make&& make) : quark(std::forward<Make>(make)()), key(quark.name) {}

        Quark quark;
        std::string key;
    };

    std::vector<Entry> entries_;
};

template <class Make>
void QuarkRegistry::insert_with(Make&& make) {
    Entry& added = entries_.emplace_back(std::forward<Make>(make));
    for (Entry& entry : std::span(entries_).first(entries_.size() - 1)) {
        if (entry.key == added.key) {
            entry.quark = std::move(added.quark);
            entries_.pop_back();
            return;
        }
    }
}

}  // namespace brenvalis::core
