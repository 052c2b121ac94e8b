// Unit-cell geometry: reciprocal cell, orthogonalisation and reciprocal-basis matrices,
// 3x3 inverse, and the rotation builders used for detector and beam geometry.
// Single precision except smallrot; angles in degrees at the interfaces.
#pragma once

#include <array>

#include "symmetry/symop.hpp"

namespace velmar {

inline constexpr float kDegreesPerRadian = 57.29578f;

using Vec3 = std::array<float, 3>;
// 3x3 double-precision matrix, column by column like Mat3.
using Mat3d = std::array<double, 9>;

struct ReciprocalCell {
  Cell reciprocal{};   // a*, b*, c* (1/Angstrom), alpha*, beta*, gamma* (degrees)
  float volume = 0.0f; // cell volume V (Angstrom^3)
};

// Reciprocal cell and volume. Everything is -1 when a or an angle is not positive. When
// the angles admit no cell, V is 0; when V <= 0 the reciprocal constants are -1 (the
// caller rejects such a cell). Reciprocal angles within 0.0009 degrees of a whole number
// are set to it.
ReciprocalCell invcel(const Cell& cell);

// Orthogonalisation matrix A: columns are the cell edges a, b, c in a Cartesian frame
// with c along z and a in the x-z plane.
Mat3 setmat(const Cell& cell);

// Inverse of m by the adjugate formula; returns the determinant. When it is 0 the
// adjugate itself is stored, undivided.
float invers(const Mat3& m, Mat3& inverse);

// Reciprocal-basis matrix B = (A^-1)^T: columns a*, b*, c*, so |B h| = 1/d.
Mat3 reciprocal_basis(const Cell& cell);

// (1/d)^2 = |B (h,k,l)|^2.
float one_over_d_squared(const Mat3& b, int h, int k, int l);

// Rotation by phi about axis: r = cos I + (1 - cos) u u^T + sin [u]x with u the unit
// axis. Returns 0, or -1 (r set to the identity) for a zero axis.
int rotmat(const Vec3& axis, float cos_phi, float sin_phi, Mat3& r);

// frame holds the vectors F1, F2, F3 as columns. F3 is made orthogonal to F2, both are
// normalised and F1 = F2 x F3. Returns 0, or -1 when F2 and F3 are parallel (F3 then
// holds the unnormalised orthogonal part and F1, F2 are untouched).
int unorm(Mat3& frame);

// Rotation whose axis is e and whose sine is |e| (e e^T/(1 + cos) + cos I + [e]x).
// Returns 0, or -1 (r set to the identity) when |e|^2 >= 0.99.
int smallrot(const std::array<double, 3>& e, Mat3d& r);

}  // namespace velmar
