// The sharded store against a model that cannot be wrong in the same way: a
// std::map from name to record, whose order (std::string compares bytes as
// unsigned) is the listing's order. The input is a program of inserts,
// replacements, lookups of held names, of near misses and of any bytes,
// counts and listings, run against both; every answer must agree, and the
// whole store is compared once more at the end.
//
// Names are any bytes (NUL, invalid UTF-8, empty, long), each lookup key in
// an allocation of exactly its size so that a read past its end is an
// AddressSanitizer report. Bulk inserts of generated names push the shard
// tables through several growths; records with long texts take the
// out-of-line text block, whose copies the lookups hand out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/constant_record.hpp"
#include "core/formulas_registry.hpp"

namespace {

using brenvalis::core::ConstantRecord;
using brenvalis::core::FormulasRegistry;

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ == size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::string bytes(std::size_t n) {
        n = std::min(n, size_ - at_);
        std::string out(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return out;
    }
    double number() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits = (bits << 8) | byte();
        }
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

[[noreturn]] void fail(const char* what, std::string_view name) {
    std::fprintf(stderr, "%s (name of %zu bytes: \"", what, name.size());
    for (unsigned char c : name) {
        std::fprintf(stderr, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
    }
    std::fprintf(stderr, "\")\n");
    std::abort();
}

// Field by field, numbers by their bits: a NaN value is stored and copied
// like any other, though it compares unequal to itself.
bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_record(const ConstantRecord& a, const ConstantRecord& b) {
    return same_bits(a.value, b.value) && a.uncertainty.has_value() == b.uncertainty.has_value() &&
           (!a.uncertainty || same_bits(*a.uncertainty, *b.uncertainty)) && a.status == b.status &&
           a.name() == b.name() && a.units() == b.units() && a.formula() == b.formula() &&
           a.depends_on() == b.depends_on();
}

ConstantRecord make_record(Input& in, std::string_view name) {
    const std::uint8_t kind = in.byte();
    if (kind % 2 == 0) {
        return ConstantRecord::seed(name, in.number(), in.bytes(in.byte() % 80));
    }
    const std::string formula = in.bytes(in.byte() % 80);
    const std::string units = in.bytes(in.byte() % 16);
    std::vector<std::string> names(in.byte() % 4);
    for (std::string& depends : names) {
        depends = in.bytes(in.byte() % 24);
    }
    const std::vector<std::string_view> views(names.begin(), names.end());
    return ConstantRecord::derived(name, formula, units, views);
}

class Check {
public:
    explicit Check(std::size_t shards) : registry_(FormulasRegistry::with_shards(shards)) {}

    void insert(const std::string& name, ConstantRecord record) {
        const std::optional<ConstantRecord> earlier = registry_.insert(name, record);
        const auto held = model_.find(name);
        if (held == model_.end()) {
            if (earlier) {
                fail("insert of a new name handed back a record", name);
            }
            model_.emplace(name, std::move(record));
            names_.push_back(name);
            return;
        }
        if (!earlier || !same_record(*earlier, held->second)) {
            fail("replacement did not hand back the earlier record", name);
        }
        held->second = std::move(record);
    }

    void lookup(const std::string& name) const {
        const auto key = std::make_unique<char[]>(name.size());
        std::memcpy(key.get(), name.data(), name.size());
        const auto found = registry_.get(std::string_view(key.get(), name.size()));
        const auto held = model_.find(name);
        if (held == model_.end()) {
            if (found) {
                fail("lookup found a name never inserted", name);
            }
            if (found.error().message() != "constant `" + name + "` not found in registry") {
                fail("lookup miss with the wrong message", name);
            }
            return;
        }
        if (!found) {
            fail("lookup missed a held name", name);
        }
        if (!same_record(*found, held->second)) {
            fail("lookup returned a record other than the last one stored", name);
        }
    }

    void count() const {
        std::uint64_t per_shard = 0;
        for (std::size_t i = 0; i < registry_.shard_amount(); ++i) {
            per_shard += registry_.shard_len(i);
        }
        if (registry_.len() != model_.size() || per_shard != model_.size()) {
            fail("count differs from the number of names inserted", "");
        }
    }

    void listing() const {
        const std::vector<std::string> listed = registry_.sorted_names();
        std::vector<std::string> expected;
        for (const auto& [name, record] : model_) {
            expected.push_back(name);
        }
        if (listed != expected) {
            fail("listing differs from the sorted set of names", listed.empty() ? "" : listed.front());
        }
    }

    void everything() const {
        count();
        listing();
        for (const auto& [name, record] : model_) {
            lookup(name);
        }
    }

    // A held name, or empty when there is none.
    std::string held(std::uint8_t pick) const { return names_.empty() ? "" : names_[pick % names_.size()]; }

private:
    FormulasRegistry registry_;
    std::map<std::string, ConstantRecord> model_;
    std::vector<std::string> names_;
};

// A held name changed slightly: the names a wrong comparison would confuse.
std::string near_miss(std::string name, Input& in) {
    const std::uint8_t how = in.byte();
    const std::uint8_t where = in.byte();
    switch (how % 5) {
        case 0:
            if (!name.empty()) {
                name[where % name.size()] ^= static_cast<char>(1u << (how / 5 % 8));
            }
            break;
        case 1:
            if (!name.empty()) {
                name.pop_back();
            }
            break;
        case 2: name.push_back(static_cast<char>(where)); break;
        case 3: name.insert(name.begin(), static_cast<char>(where)); break;
        default:
            if (!name.empty()) {
                name.erase(where % name.size(), 1);
            }
            break;
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    // 2 to 64 shards: few shards fill their tables fastest.
    Check check(std::size_t{2} << (in.byte() % 6));
    int operations = 0;
    while (!in.empty() && ++operations < 512) {
        const std::uint8_t op = in.byte();
        switch (op % 8) {
            case 0: {
                const std::string name = in.bytes(in.byte() % 64);
                check.insert(name, make_record(in, name));
                break;
            }
            case 1: {
                const std::string name = check.held(in.byte());
                check.insert(name, make_record(in, name));
                break;
            }
            case 2: check.lookup(in.bytes(in.byte() % 64)); break;
            case 3: check.lookup(check.held(in.byte())); break;
            case 4: check.lookup(near_miss(check.held(in.byte()), in)); break;
            case 5: check.count(); break;
            case 6: check.listing(); break;
            default: {
                // Names that share a prefix and differ in their last bytes.
                const std::string prefix = in.bytes(in.byte() % 16);
                const int n = in.byte() % 64;
                for (int i = 0; i < n; ++i) {
                    const std::string name = prefix + std::to_string(i);
                    check.insert(name, ConstantRecord::seed(name, i, "count"));
                }
                break;
            }
        }
    }
    check.everything();
    return 0;
}
