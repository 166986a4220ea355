#include "core/ckm_matrix.hpp"

#include <cmath>

namespace brenvalis::core {

CKMMatrix CKMMatrix::from_topology() { return CKMMatrix({{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}}, 0.0); }

bool CKMMatrix::is_unitary(double tol) const noexcept {
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

}  // namespace brenvalis::core
