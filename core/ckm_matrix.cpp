#include "core/ckm_matrix.hpp"

namespace brenvalis::core {

CKMMatrix CKMMatrix::from_topology() { return CKMMatrix({{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}}, 0.0); }

}  // namespace brenvalis::core
