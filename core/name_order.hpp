// The one order in which names are ever handed out: ascending by their UTF-8
// bytes read as unsigned values, a name before every longer name that starts
// with it. So "n_gen" < "n_gen_sq", "Z" < "_" < "a", and bytes above 0x7F sort
// after all of ASCII.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brenvalis::core {

// std::char_traits<char>::compare compares as unsigned char whatever the
// signedness of char, which is exactly the byte order we want.
inline bool name_less(std::string_view a, std::string_view b) noexcept { return a < b; }

// Stable; short lists (every list this library makes) go through insertion
// sort, which beats a merge sort's bookkeeping at this size.
void sort_names(std::vector<std::string>& names);

}  // namespace brenvalis::core
