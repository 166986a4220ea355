// One named constant of the formulas registry, and the text form of its status.
//
// A record is a plain value that owns every text it holds. Copies are deep and
// share nothing, which is what lets the registry hand out copies from under a
// shared lock and forget about them. Names, units and most formula texts are
// short enough for std::string's inline buffer, so copying a seed record does
// not touch the allocator at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace brenvalis::core {

enum class ConstantStatus : std::uint8_t {
    Seed = 0,
    Cached = 1,
    Pending = 2,
    External = 3,
};

// The exact text reported for a status ("Seed", "Cached", ...).
std::string_view status_text(ConstantStatus status) noexcept;

// An ordered list of owned names kept in one buffer, each name as its length
// (base-128, low digits first, high bit set on all but the last) followed by
// its bytes. Copying the list copies one text, and the short lists of the
// built-in table fit std::string's inline buffer, so a record copy makes no
// allocation for them where a vector of strings makes one.
class NameList {
public:
    NameList() = default;
    NameList(std::initializer_list<std::string_view> names);

    void push_back(std::string_view name);

    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    // The name at `index`, found by walking the list (the lists are short).
    std::string_view operator[](std::size_t index) const noexcept;

    friend bool operator==(const NameList&, const NameList&) = default;

private:
    std::string packed_;
    std::uint32_t count_ = 0;
};

struct ConstantRecord {
    std::string name;
    double value = 0.0;
    std::string units;
    std::optional<double> uncertainty;
    ConstantStatus status = ConstantStatus::Seed;
    std::optional<std::string> formula;
    NameList depends_on;

    // An input quantity: no uncertainty, no formula, nothing it depends on.
    static ConstantRecord seed(std::string_view name, double value, std::string_view units);

    // A derived quantity that is never evaluated: it holds +0.0 and reports
    // itself as Pending for its whole life.
    static ConstantRecord derived(std::string_view name, std::string_view formula, std::string_view units,
                                  NameList depends_on);

    friend bool operator==(const ConstantRecord&, const ConstantRecord&) = default;
};

}  // namespace brenvalis::core
