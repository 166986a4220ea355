// The 3x3 quark-mixing matrix with its stored Jarlskog invariant.
//
// The entries are real, so "unitary" here means orthogonal: M * M^T must be
// the identity. Testing only the length of each row would accept a matrix
// whose rows are one and the same unit vector, and a row of NaNs would slip
// through any comparison that skips unordered values; both are failures that
// must not be reported as success.
#pragma once

#include <array>
#include <cmath>

namespace brenvalis::core {

struct CKMMatrix {
    using Elements = std::array<std::array<double, 3>, 3>;

    // Row-major: elements[i][k] is row i, column k.
    Elements elements;
    // Stored as given; nothing derives it from the elements.
    double j;

    CKMMatrix(const Elements& elements_in, double j_in) : elements(elements_in), j(j_in) {}

    // The matrix the topology fixes: no mixing, hence no CP-violating phase.
    static CKMMatrix from_topology();

    double jarlskog() const noexcept { return j; }

    // True when every entry of M * M^T - I has absolute value at most tol.
    // Any NaN, in the entries or in tol, gives false: an unordered comparison
    // must never count as a pass. Inline: it is the whole of a method call
    // from Python, whose shell would otherwise pay a call on top.
    bool is_unitary(double tol) const noexcept {
        for (int i = 0; i < 3; ++i) {
            const auto& row_i = elements[i];
            // M * M^T is symmetric and IEEE products commute, so (k, i) would
            // repeat (i, k) bit for bit.
            for (int k = i; k < 3; ++k) {
                const auto& row_k = elements[k];
                // Fixed summation order keeps the result reproducible to the bit.
                const double dot = (row_i[0] * row_k[0] + row_i[1] * row_k[1]) + row_i[2] * row_k[2];
                const double deviation = (i == k) ? dot - 1.0 : dot;
                // Written as a positive test so a NaN on either side fails it.
                if (!(tol >= std::fabs(deviation))) {
                    return false;
                }
            }
        }
        return true;
    }
};

}  // namespace brenvalis::core
