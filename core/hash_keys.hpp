// Key pairs for the keyed name hash.
//
// Each thread draws one random pair from the operating system the first time
// it needs one; every map created afterwards on that thread takes the current
// pair and bumps k0, so two maps never share keys and the order of names
// inside a store is never the same twice. Nothing outside a map can observe
// its keys: only the sorted listing of names ever leaves it.
#pragma once

#include <cstdint>

namespace brenvalis::core {

struct HashKeys {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;

    friend bool operator==(const HashKeys&, const HashKeys&) = default;
};

// The calling thread's current pair; afterwards the thread's k0 is one larger
// (wrapping). The first call on a thread reads 16 bytes of OS randomness.
HashKeys next_map_keys() noexcept;

}  // namespace brenvalis::core
