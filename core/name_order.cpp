#include "core/name_order.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "core/little_endian.hpp"

namespace brenvalis::core {

namespace {

// The first eight bytes of a name as a big-endian number, a shorter name
// padded with zero bytes: comparing two keys compares the names' first eight
// bytes as unsigned bytes. Different keys settle the order at once, which is
// what nearly every pair of real names needs; equal keys leave it to the full
// comparison (a name and that name followed by NUL bytes share a key).
std::uint64_t prefix_key(std::string_view name) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
    const std::uint64_t word =
        name.size() >= 8 ? load_little_endian<std::uint64_t>(bytes) : load_little_endian_partial(bytes, name.size());
    return std::byteswap(word);
}

// Fills order[0..n) with the positions of the names in ascending order, by
// an insertion sort that moves each name's key along with its position.
// Strict comparisons: equal names keep their order.
void order_short_list(std::span<const std::string_view> names, std::uint8_t* order) noexcept {
    std::uint64_t keys[kShortList];
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::uint64_t key = prefix_key(names[i]);
        std::size_t j = i;
        while (j > 0 && (key != keys[j - 1] ? key < keys[j - 1] : name_less(names[i], names[order[j - 1]]))) {
            keys[j] = keys[j - 1];
            order[j] = order[j - 1];
            --j;
        }
        keys[j] = key;
        order[j] = static_cast<std::uint8_t>(i);
    }
}

}  // namespace

// Each copy is constructed in place from its view, at the end of a list
// that has its room from the start: both C++ runtimes build a short string
// from its bytes without a detour, where filling strings that already stand
// in the list would, in libc++, first find out each one's size and room.
std::vector<std::string> sorted_copies(std::span<const std::string_view> names, std::size_t room) {
    std::vector<std::string> out;
    out.reserve(std::max(room, names.size()));
    if (names.size() <= kShortList) {
        std::uint8_t order[kShortList];
        order_short_list(names, order);
        for (std::size_t i = 0; i < names.size(); ++i) {
            out.emplace_back(names[order[i]]);
        }
        return out;
    }
    std::vector<std::string_view> ordered(names.begin(), names.end());
    std::stable_sort(ordered.begin(), ordered.end(), name_less);
    for (std::string_view name : ordered) {
        out.emplace_back(name);
    }
    return out;
}

}  // namespace brenvalis::core
