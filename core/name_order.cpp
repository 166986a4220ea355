#include "core/name_order.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace brenvalis::core {

namespace {
constexpr std::size_t kInsertionSortLimit = 20;
}

void sort_names(std::vector<std::string>& names) {
    const std::size_t n = names.size();
    if (n <= 1) {
        return;
    }
    if (n > kInsertionSortLimit) {
        std::stable_sort(names.begin(), names.end(),
                         [](const std::string& a, const std::string& b) { return name_less(a, b); });
        return;
    }
    // Insertion sort of an index array over views of the names, then one pass
    // that moves each string into place. Moving a std::string costs several
    // times as much as moving a byte, and insertion sort moves items about
    // n^2/4 times; the permutation pass moves each string at most twice.
    std::array<std::string_view, kInsertionSortLimit> views;
    std::array<std::uint8_t, kInsertionSortLimit> order;
    for (std::size_t i = 0; i < n; ++i) {
        views[i] = names[i];
        order[i] = static_cast<std::uint8_t>(i);
    }
    for (std::size_t i = 1; i < n; ++i) {
        const std::uint8_t item = order[i];
        std::size_t j = i;
        while (j > 0 && name_less(views[item], views[order[j - 1]])) {  // strict: equal names keep their order
            order[j] = order[j - 1];
            --j;
        }
        order[j] = item;
    }
    // names[k] must receive the string now at names[order[k]]; follow each cycle once.
    std::array<bool, kInsertionSortLimit> placed{};
    for (std::size_t start = 0; start < n; ++start) {
        if (placed[start] || order[start] == start) {
            continue;
        }
        std::string held = std::move(names[start]);
        std::size_t k = start;
        while (order[k] != start) {
            names[k] = std::move(names[order[k]]);
            placed[k] = true;
            k = order[k];
        }
        names[k] = std::move(held);
        placed[k] = true;
    }
}

}  // namespace brenvalis::core
