#include <gtest/gtest.h>

#include <string>

#include "core/internal_failure.hpp"

namespace brenvalis::core {
namespace {

TEST(InternalFailure, CarriesItsMessageAndTheCallersLocation) {
    const unsigned line = __LINE__ + 2;
    try {
        require(1 + 1 == 3, "arithmetic is broken");
        FAIL() << "require(false) returned";
    } catch (const InternalFailure& failure) {
        EXPECT_EQ(failure.message(), "arithmetic is broken");
        EXPECT_EQ(std::string(failure.what()), "arithmetic is broken");
        EXPECT_EQ(failure.where().line(), line);
        EXPECT_NE(std::string(failure.where().file_name()).find("test_internal_failure.cpp"), std::string::npos);
    }
    EXPECT_NO_THROW(require(true, "never raised"));
}

}  // namespace
}  // namespace brenvalis::core
