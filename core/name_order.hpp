// The one order in which names are ever handed out: ascending by their UTF-8
// bytes read as unsigned values, a name before every longer name that starts
// with it. So "n_gen" < "n_gen_sq", "Z" < "_" < "a", and bytes above 0x7F sort
// after all of ASCII.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brenvalis::core {

// std::char_traits<char>::compare compares as unsigned char whatever the
// signedness of char, which is exactly the byte order we want.
inline bool name_less(std::string_view a, std::string_view b) noexcept { return a < b; }

// Lists this short (every list this library makes) are ordered by an
// insertion sort, which beats a merge sort's bookkeeping here.
inline constexpr std::size_t kShortList = 20;

// Views of the names a listing gathers, to be ordered before anything is
// copied: up to kShortList of them in place, more in a vector.
class NameViews {
public:
    // The in-place views are left unmade until pushed: a listing of a few
    // names would otherwise begin by clearing all kShortList of them.
    NameViews() noexcept {}
    NameViews(const NameViews&) = delete;
    NameViews& operator=(const NameViews&) = delete;
    ~NameViews() {}

    void push_back(std::string_view name) {
        if (size_ < kShortList) {
            std::construct_at(&short_[size_], name);
        } else {
            if (size_ == kShortList) {
                long_.assign(short_, short_ + kShortList);
            }
            long_.push_back(name);
        }
        ++size_;
    }

    std::size_t size() const noexcept { return size_; }
    std::span<const std::string_view> names() const noexcept {
        return size_ <= kShortList ? std::span<const std::string_view>(short_, size_)
                                   : std::span<const std::string_view>(long_);
    }

private:
    union {
        std::string_view short_[kShortList];
    };
    std::vector<std::string_view> long_;
    std::size_t size_ = 0;
};

// A copy of every name in ascending order, equal names in their given order
// (a stable sort), in a list that starts with room for at least `room` names.
// The views are sorted, so each name is copied once, straight into its place:
// the names must not change meanwhile. Up to kShortList names are sorted by
// insertion, longer lists by a stable merge sort.
std::vector<std::string> sorted_copies(std::span<const std::string_view> names, std::size_t room = 0);

}  // namespace brenvalis::core
