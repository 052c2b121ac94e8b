// The azimuthal angle psi of an observation after its indices were reindexed.
#pragma once

#include <array>

#include "symmetry/symop.hpp"

namespace velmar {

// psi (degrees) of an observation read as old_hkl and reindexed to new_hkl: the angle is
// re-referred from the reference direction of the old indices (carried into the new basis
// by the inverse reindexing matrix) to the reference direction of the new indices, both
// perpendicular to the reflection's Cartesian vector. `reidx_inverse` is the inverse of the
// 3x3 part of the reindexing matrix, `a` the orthogonalisation matrix and `b` the
// reciprocal basis of the run's cell. The result lies in (-180, 180].
float reindexed_psi(float psi, const std::array<int, 3>& old_hkl, const std::array<int, 3>& new_hkl,
                    const Mat3& reidx_inverse, const Mat3& a, const Mat3& b);

}  // namespace velmar
