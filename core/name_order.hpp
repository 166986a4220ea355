// The one order in which names are ever handed out: ascending by their UTF-8
// bytes read as unsigned values, a name before every longer name that starts
// with it. So "n_gen" < "n_gen_sq", "Z" < "_" < "a", and bytes above 0x7F sort
// after all of ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brenvalis::core {

// std::char_traits<char>::compare compares as unsigned char whatever the
// signedness of char, which is exactly the byte order we want.
inline bool name_less(std::string_view a, std::string_view b) noexcept { return a < b; }

// Lists this short (every list this library makes) are ordered by an
// insertion sort of indices, which beats a merge sort's bookkeeping here.
inline constexpr std::size_t kShortList = 20;

// Fills order[0..names.size()) with the positions of `names` in ascending
// order, equal names in their given order. At most kShortList names.
void order_short_list(std::span<const std::string_view> names, std::span<std::uint8_t, kShortList> order);

// Sorts in place, stably.
void sort_names(std::vector<std::string>& names);

}  // namespace brenvalis::core
