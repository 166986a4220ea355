#include "core/name_order.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

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

}  // namespace

void order_short_list(std::span<const std::string_view> names, std::span<std::uint8_t, kShortList> order) {
    const std::size_t n = names.size();
    // Left uninitialised past n: only the first n entries are ever read.
    std::uint64_t keys[kShortList];
    for (std::size_t i = 0; i < n; ++i) {
        keys[i] = prefix_key(names[i]);
        order[i] = static_cast<std::uint8_t>(i);
    }
    // Insertion sort of the indices. Strict comparisons: equal names keep
    // their order.
    const auto less = [&](std::uint8_t a, std::uint8_t b) {
        return keys[a] != keys[b] ? keys[a] < keys[b] : name_less(names[a], names[b]);
    };
    for (std::size_t i = 1; i < n; ++i) {
        const std::uint8_t item = order[i];
        std::size_t j = i;
        while (j > 0 && less(item, order[j - 1])) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = item;
    }
}

void sort_names(std::vector<std::string>& names) {
    const std::size_t n = names.size();
    if (n <= 1) {
        return;
    }
    if (n > kShortList) {
        std::stable_sort(names.begin(), names.end(),
                         [](const std::string& a, const std::string& b) { return name_less(a, b); });
        return;
    }
    // Sort indices, then move each string into place once: moving a
    // std::string costs several times as much as moving a byte, and an
    // insertion sort of the strings would move them about n^2/4 times.
    std::string_view views[kShortList];
    std::copy(names.begin(), names.end(), views);
    std::uint8_t order[kShortList];
    order_short_list(std::span(views, n), order);
    // names[k] must receive the string now at names[order[k]]; follow each
    // cycle once, marking a place done by making it its own source.
    for (std::size_t start = 0; start < n; ++start) {
        if (order[start] == start) {
            continue;
        }
        std::string held = std::move(names[start]);
        std::size_t k = start;
        while (order[k] != start) {
            const std::size_t source = order[k];
            names[k] = std::move(names[source]);
            order[k] = static_cast<std::uint8_t>(k);
            k = source;
        }
        names[k] = std::move(held);
        order[k] = static_cast<std::uint8_t>(k);
    }
}

}  // namespace brenvalis::core
