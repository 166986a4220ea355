#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/ckm_matrix.hpp"

namespace brenvalis::core {
namespace {

using Elements = CKMMatrix::Elements;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr Elements kIdentity = {{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};

double below(double x) { return std::nextafter(x, -kInf); }

TEST(CKMMatrix, FromTopologyIsIdentityWithZeroInvariant) {
    const CKMMatrix m = CKMMatrix::from_topology();
    EXPECT_EQ(m.elements, kIdentity);
    EXPECT_EQ(m.jarlskog(), 0.0);
    EXPECT_FALSE(std::signbit(m.jarlskog()));
}

TEST(CKMMatrix, JarlskogReturnsStoredValueUnchanged) {
    // Nonzero J on a matrix that could never produce it: nothing is derived.
    EXPECT_EQ(CKMMatrix(kIdentity, 3.08e-5).jarlskog(), 3.08e-5);
    EXPECT_EQ(CKMMatrix(kIdentity, -0.25).jarlskog(), -0.25);
}

TEST(CKMMatrix, IdentityAgainstTolerances) {
    const CKMMatrix m = CKMMatrix::from_topology();
    const struct {
        double tol;
        bool expected;
    } cases[] = {
        {0.0, true}, {-0.0, true}, {1e-300, true}, {kInf, true}, {-1e-12, false}, {kNaN, false}, {-kInf, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(m.is_unitary(c.tol), c.expected) << "tol " << c.tol;
    }
}

// Every deviation below is exact in binary64, so the boundary is worked out
// by hand: the largest |entry of M*M^T - I| passes at itself, fails one ulp
// below.
TEST(CKMMatrix, ToleranceBoundaryIsLargestDeviation) {
    const double e = std::ldexp(1.0, -20);
    const struct {
        const char* what;
        Elements m;
        double max_dev;
    } cases[] = {
        // Row lengths 2, 1, 1; rows 0 and 1 have dot product 1.
        {"row (1,1,0)", {{{1, 1, 0}, {0, 1, 0}, {0, 0, 1}}}, 1.0},
        // (1 + 2^-20)^2 - 1 = 2^-19 + 2^-40, on the last diagonal entry.
        {"long last row", {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1 + e}}}, std::ldexp(1.0, -19) + std::ldexp(1.0, -40)},
        // Too short: 0.25 - 1 is negative; only its magnitude may count.
        {"short middle row", {{{1, 0, 0}, {0, 0.5, 0}, {0, 0, 1}}}, 0.75},
        // Row lengths deviate by only 2^-40, but rows 0 and 1 have dot 2^-20.
        {"skewed rows", {{{1, 0, 0}, {e, 1, 0}, {0, 0, 1}}}, e},
        {"skewed rows, negative dot", {{{1, 0, 0}, {0, 1, 0}, {0, -e, 1}}}, e},
    };
    for (const auto& c : cases) {
        const CKMMatrix m(c.m, 0.0);
        EXPECT_TRUE(m.is_unitary(c.max_dev)) << c.what;
        EXPECT_TRUE(m.is_unitary(2.0 * c.max_dev)) << c.what;
        EXPECT_FALSE(m.is_unitary(below(c.max_dev))) << c.what;
        EXPECT_FALSE(m.is_unitary(0.0)) << c.what;
    }
}

TEST(CKMMatrix, UnitRowsThatAreNotOrthogonalFail) {
    const struct {
        const char* what;
        Elements m;
        double tol;
        bool expected;
    } cases[] = {
        // Each row has length exactly 1, but the rows repeat: M*M^T is all ones.
        {"equal axis rows", {{{1, 0, 0}, {1, 0, 0}, {1, 0, 0}}}, 1e-12, false},
        {"equal axis rows", {{{1, 0, 0}, {1, 0, 0}, {1, 0, 0}}}, below(1.0), false},
        {"equal axis rows", {{{1, 0, 0}, {1, 0, 0}, {1, 0, 0}}}, 1.0, true},
        {"repeated (0.6,0.8,0)", {{{0.6, 0.8, 0}, {0.6, 0.8, 0}, {0, 0, 1}}}, 1e-12, false},
        {"repeated (0.6,0.8,0)", {{{0.6, 0.8, 0}, {0.6, 0.8, 0}, {0, 0, 1}}}, 0.5, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CKMMatrix(c.m, 0.0).is_unitary(c.tol), c.expected) << c.what << " tol " << c.tol;
    }
}

TEST(CKMMatrix, NonFiniteEntryFailsEvenWithInfiniteTolerance) {
    // An infinite entry meets a zero of another row somewhere, giving a NaN
    // product, so it fails like a NaN does.
    for (const double bad : {kNaN, kInf, -kInf}) {
        for (int i = 0; i < 3; ++i) {
            for (int k = 0; k < 3; ++k) {
                Elements m = kIdentity;
                m[i][k] = bad;
                EXPECT_FALSE(CKMMatrix(m, 0.0).is_unitary(kInf)) << bad << " at [" << i << "][" << k << "]";
            }
        }
    }
}

TEST(CKMMatrix, RotationsAreUnitaryWithinRounding) {
    const double c = std::cos(0.3), s = std::sin(0.3);
    const double a = std::cos(-1.1), b = std::sin(-1.1);
    const Elements rz = {{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
    const Elements rx = {{{1, 0, 0}, {0, a, -b}, {0, b, a}}};
    Elements product{};
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            product[i][k] = (rz[i][0] * rx[0][k] + rz[i][1] * rx[1][k]) + rz[i][2] * rx[2][k];
        }
    }
    for (const auto& [what, m] : {std::pair{"Rz(0.3)", rz}, std::pair{"Rz(0.3) Rx(-1.1)", product}}) {
        EXPECT_TRUE(CKMMatrix(m, 0.0).is_unitary(1e-15)) << what;
    }
}

}  // namespace
}  // namespace brenvalis::core
