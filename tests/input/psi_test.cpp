// Psi after reindexing: re-referred from the old reference direction to the new one.
#include "input/psi.hpp"

#include <gtest/gtest.h>

#include "symmetry/cell_geometry.hpp"

namespace velmar {
namespace {

Mat3 inverse_of(const Mat3& m) {
  Mat3 inv{};
  invers(m, inv);
  return inv;
}

// Column-major matrix from rows.
Mat3 rows(std::array<float, 9> r) { return {r[0], r[3], r[6], r[1], r[4], r[7], r[2], r[5], r[8]}; }

TEST(Psi, InversionKeepsTheAngle) {
  // A pure sign change leaves the reference direction parallel (also the (p,-p,0) one of a
  // reflection along the body diagonal); psi is first brought into -180..180.
  const Cell cell{40, 50, 60, 90, 90, 90};
  const Mat3 inv = inverse_of(rows({-1, 0, 0, 0, -1, 0, 0, 0, -1}));
  EXPECT_NEAR(reindexed_psi(30.0f, {1, 2, 3}, {-1, -2, -3}, inv, setmat(cell), reciprocal_basis(cell)), 30.0f, 1e-4);
  EXPECT_NEAR(reindexed_psi(400.0f, {1, 2, 3}, {-1, -2, -3}, inv, setmat(cell), reciprocal_basis(cell)), 40.0f, 1e-3);
  EXPECT_NEAR(reindexed_psi(-45.0f, {2, 2, 2}, {-2, -2, -2}, inv, setmat(cell), reciprocal_basis(cell)), -45.0f, 1e-4);
}

TEST(Psi, HandComputedCorrection) {
  // Cubic cell of edge 10, h' = k, k' = h, l' = -l. For (1,2,3) -> (2,1,-3) the old reference
  // direction (2,-1,1) in the new basis and the new one (4,-5,1) make an angle whose sine is
  // |(2,-1,1) x (4,-5,1)| / (|(2,-1,1)| |(4,-5,1)|) = sqrt(5600/25200), turning positively about
  // the reflection vector: asin(0.471405) = 28.1255 degrees.
  const Cell cell{10, 10, 10, 90, 90, 90};
  const Mat3 r = rows({0, 1, 0, 1, 0, 0, 0, 0, -1});
  const float psi = reindexed_psi(10.0f, {1, 2, 3}, {2, 1, -3}, inverse_of(r), setmat(cell), reciprocal_basis(cell));
  EXPECT_NEAR(psi, 10.0f + 28.1255f, 2e-3);
  const float wrapped = reindexed_psi(170.0f, {1, 2, 3}, {2, 1, -3}, inverse_of(r), setmat(cell), reciprocal_basis(cell));
  EXPECT_NEAR(wrapped, 170.0f + 28.1255f - 360.0f, 2e-3);
}

}  // namespace
}  // namespace velmar
