#include "core/byte_copy.hpp"

#include <cstring>

namespace brenvalis::core {

char* write_long_zeros(char* out, std::size_t n) noexcept {
    std::memset(out, '0', n);
    return out + n;
}

}  // namespace brenvalis::core
