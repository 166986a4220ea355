// The 3x3 quark-mixing matrix with its stored Jarlskog invariant.
//
// The entries are real, so "unitary" here means orthogonal: M * M^T must be
// the identity. Testing only the length of each row would accept a matrix
// whose rows are one and the same unit vector, and a row of NaNs would slip
// through any comparison that skips unordered values; both are failures that
// must not be reported as success.
#pragma once

#include <array>

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
    // must never count as a pass.
    bool is_unitary(double tol) const noexcept;
};

}  // namespace brenvalis::core
