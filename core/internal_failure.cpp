#include "core/internal_failure.hpp"

namespace brenvalis::core {

void fail(std::string_view message, std::source_location where) { throw InternalFailure(std::string(message), where); }

}  // namespace brenvalis::core
