#include "name_order.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace brenvalis::core {

namespace {
constexpr std::size_t kInsertionSortLimit = 20;
}

void sort_names(std::vector<std::string>& names) {
    if (names.size() <= 1) {
        return;
    }
    if (names.size() > kInsertionSortLimit) {
        std::stable_sort(names.begin(), names.end(),
                         [](const std::string& a, const std::string& b) { return name_less(a, b); });
        return;
    }
    for (std::size_t i = 1; i < names.size(); ++i) {
        std::string item = std::move(names[i]);
        std::size_t j = i;
        while (j > 0 && name_less(item, names[j - 1])) {
            names[j] = std::move(names[j - 1]);
            --j;
        }
        names[j] = std::move(item);
    }
}

}  // namespace brenvalis::core
