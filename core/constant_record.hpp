// One named constant of the formulas registry, and the text form of its status.
//
// A record is a plain value that owns every text it holds. Copies are deep and
// share nothing, which is what lets the registry hand out copies from under a
// shared lock and forget about them.
//
// Layout. The numbers are plain fields. The texts (name, units, formula, and
// the names the formula reads) sit together in one block, behind views: inside
// the record when the block is short, as every built-in record's is but one,
// otherwise in a single allocation. A copy is then one fixed-size move of the
// record, plus one allocation and one copy of the block when it is long,
// instead of a string copy per text; and a record made from its parts writes
// each text once, straight into its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>

#include "core/decimal_text.hpp"

namespace brenvalis::core {

enum class ConstantStatus : std::uint8_t {
    Seed = 0,
    Cached = 1,
    Pending = 2,
    External = 3,
};

// The exact text reported for a status ("Seed", "Cached", ...).
std::string_view status_text(ConstantStatus status) noexcept;

// A read-only view of an ordered list of names packed in one text, each name
// as its length (base 128, low digits first, high bit set on all but the
// last) followed by its bytes. The encoding is canonical, so two lists are
// equal exactly when their packed texts are.
class NameListView {
public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        Iterator() noexcept = default;
        explicit Iterator(const char* at) noexcept : at_(at) {}

        std::string_view operator*() const noexcept;
        Iterator& operator++() noexcept;
        Iterator operator++(int) noexcept {
            Iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(Iterator a, Iterator b) noexcept { return a.at_ == b.at_; }

    private:
        const char* at_ = nullptr;
    };

    NameListView() noexcept = default;
    NameListView(std::string_view packed, std::uint32_t count) noexcept : packed_(packed), count_(count) {}

    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    Iterator begin() const noexcept { return Iterator(packed_.data()); }
    Iterator end() const noexcept { return Iterator(packed_.data() + packed_.size()); }
    // The name at `index`, found by walking the list (the lists are short).
    std::string_view operator[](std::size_t index) const noexcept;

    friend bool operator==(NameListView a, NameListView b) noexcept {
        return a.count_ == b.count_ && a.packed_ == b.packed_;
    }

private:
    std::string_view packed_;
    std::uint32_t count_ = 0;
};

// The texts of one record in one block: name, units, the formula when there
// is one, then the packed names the formula reads (see NameListView).
class RecordTexts {
public:
    // Room inside the record. The built-in blocks are at most 42 bytes, except
    // sterile_check's 73, whose formula and two names are long.
    static constexpr std::size_t kInlineBytes = 48;

    RecordTexts() noexcept : storage_{} {}
    // Copies name, units and names into place and leaves `formula_size` bytes
    // after the units for the formula, which the caller writes at
    // formula_place(); no formula when `formula_size` is absent. Throws
    // std::length_error for texts of 4 GiB or more, std::bad_alloc like new.
    //
    // Defined in constant_record.cpp, where records are made, and forced
    // inline there into each kind of record (no formula, a formula text, a
    // formula number), which then loses the loops and tests its texts do not
    // need; left to itself, Clang keeps one general copy that costs a seed
    // record half as much again as the rest of its making.
    [[gnu::always_inline]] inline RecordTexts(std::string_view name, std::string_view units,
                                              std::optional<std::size_t> formula_size,
                                              std::span<const std::string_view> depends_on);

    RecordTexts(const RecordTexts& other) : layout_(other.layout_), storage_(other.storage_) {
        if (!other.is_inline()) [[unlikely]] {
            copy_out_of_line(other);
        }
    }
    RecordTexts(RecordTexts&& other) noexcept : layout_(other.layout_), storage_(other.storage_) {
        other.layout_ = Layout{};
    }
    RecordTexts& operator=(const RecordTexts& other) {
        if (this != &other) {
            *this = RecordTexts(other);
        }
        return *this;
    }
    RecordTexts& operator=(RecordTexts&& other) noexcept {
        if (this != &other) {
            release();
            layout_ = other.layout_;
            storage_ = other.storage_;
            other.layout_ = Layout{};
        }
        return *this;
    }
    ~RecordTexts() { release(); }

    std::string_view name() const noexcept { return {data(), layout_.name_end}; }
    std::string_view units() const noexcept { return text(layout_.name_end, layout_.units_end); }
    std::optional<std::string_view> formula() const noexcept {
        if (!layout_.has_formula) {
            return std::nullopt;
        }
        return text(layout_.units_end, layout_.formula_end);
    }
    NameListView depends_on() const noexcept {
        return NameListView(text(layout_.formula_end, layout_.size), layout_.depends_count);
    }

    // Where the formula's bytes go, right after construction.
    char* formula_place() noexcept { return mutable_data() + layout_.units_end; }

    // Whether the block is an allocation of its own (which the destructor
    // frees); an inline block owns nothing beyond the record.
    bool owns_allocation() const noexcept { return !is_inline(); }

    friend bool operator==(const RecordTexts& a, const RecordTexts& b) noexcept;

private:
    // Offsets of each text's end in the block; the formula starts where the
    // units end and the names where the formula ends (even when it is absent).
    struct Layout {
        std::uint32_t size = 0;
        std::uint32_t name_end = 0;
        std::uint32_t units_end = 0;
        std::uint32_t formula_end = 0;
        std::uint32_t depends_count = 0;
        bool has_formula = false;

        friend bool operator==(const Layout&, const Layout&) = default;
    };
    union Storage {
        char bytes[kInlineBytes];
        char* heap;
    };

    bool is_inline() const noexcept { return layout_.size <= kInlineBytes; }
    const char* data() const noexcept { return is_inline() ? storage_.bytes : storage_.heap; }
    char* mutable_data() noexcept { return is_inline() ? storage_.bytes : storage_.heap; }
    std::string_view text(std::uint32_t begin, std::uint32_t end) const noexcept {
        return {data() + begin, static_cast<std::size_t>(end - begin)};
    }

    void copy_out_of_line(const RecordTexts& other);
    void release() noexcept {
        if (!is_inline()) [[unlikely]] {
            free_out_of_line();
        }
    }
    void free_out_of_line() noexcept;

    Layout layout_;
    // Copied whole, whichever member is in use: copying a union copies its
    // bytes (those past the texts are never read).
    Storage storage_;
};

class ConstantRecord {
public:
    double value = 0.0;
    std::optional<double> uncertainty;
    ConstantStatus status = ConstantStatus::Seed;

    // An input quantity: no uncertainty, no formula, nothing it depends on.
    static ConstantRecord seed(std::string_view name, double value, std::string_view units);

    // A derived quantity that is never evaluated: it holds +0.0 and reports
    // itself as Pending for its whole life. The names are kept in the order
    // given.
    static ConstantRecord derived(std::string_view name, std::string_view formula, std::string_view units,
                                  std::span<const std::string_view> depends_on);
    static ConstantRecord derived(std::string_view name, std::string_view formula, std::string_view units,
                                  std::initializer_list<std::string_view> depends_on) {
        return derived(name, formula, units, std::span(depends_on.begin(), depends_on.size()));
    }
    // The same, with the decimal text of a number as its formula, rendered
    // straight into the record; it depends on nothing.
    static ConstantRecord derived(std::string_view name, const FormulaNumber& formula, std::string_view units);

    std::string_view name() const noexcept { return texts_.name(); }
    std::string_view units() const noexcept { return texts_.units(); }
    std::optional<std::string_view> formula() const noexcept { return texts_.formula(); }
    NameListView depends_on() const noexcept { return texts_.depends_on(); }

    // Whether destroying the record frees memory of its own.
    bool owns_allocation() const noexcept { return texts_.owns_allocation(); }

    friend bool operator==(const ConstantRecord&, const ConstantRecord&) = default;

private:
    // Formula is std::nullopt_t (none), std::string_view or FormulaNumber.
    // Forced inline into seed() and derived() (in constant_record.cpp, where
    // it is defined), so that each knows its formula and names at compile
    // time, as the texts' constructor then does.
    template <class Formula>
    [[gnu::always_inline]] inline ConstantRecord(std::string_view name, double value, std::string_view units,
                                                 ConstantStatus status, const Formula& formula,
                                                 std::span<const std::string_view> depends_on);

    RecordTexts texts_;
};

}  // namespace brenvalis::core
