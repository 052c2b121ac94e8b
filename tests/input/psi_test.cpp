// Psi after reindexing: re-referred from the old reference direction to the new one.
#include "input/psi.hpp"

#include <gtest/gtest.h>

#include "symmetry/cell_geometry.hpp"

namespace velmar {
namespace {

TEST(Psi, ReferredToTheNewReferenceDirection) {
  // Both matrices are their own inverses. A sign change leaves the reference direction
  // parallel (also the (p,-p,0) one along the body diagonal): psi is only brought into
  // -180..180. With h' = k, k' = h, l' = -l in a cube, (1,2,3) -> (2,1,-3) turns the reference
  // direction from (2,-1,1) to (4,-5,1), positively about the reflection vector, by
  // asin(|(2,-1,1) x (4,-5,1)| / (|(2,-1,1)| |(4,-5,1)|)) = asin(sqrt(5600/25200)) = 28.1255 degrees.
  const Mat3 invert = {-1, 0, 0, 0, -1, 0, 0, 0, -1}, swap = {0, 1, 0, 1, 0, 0, 0, 0, -1};
  const Cell box{40, 50, 60, 90, 90, 90}, cube{10, 10, 10, 90, 90, 90};
  const struct { Cell cell; Mat3 inverse; float psi; std::array<int, 3> h, h_new; float expected, tolerance; } cases[] = {
      {box, invert, 30, {1, 2, 3}, {-1, -2, -3}, 30, 1e-4f},
      {box, invert, 400, {1, 2, 3}, {-1, -2, -3}, 40, 1e-3f},
      {box, invert, -45, {2, 2, 2}, {-2, -2, -2}, -45, 1e-4f},
      {cube, swap, 10, {1, 2, 3}, {2, 1, -3}, 10 + 28.1255f, 2e-3f},
      {cube, swap, 170, {1, 2, 3}, {2, 1, -3}, 170 + 28.1255f - 360, 2e-3f},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(reindexed_psi(c.psi, c.h, c.h_new, c.inverse, setmat(c.cell), reciprocal_basis(c.cell)), c.expected, c.tolerance)
        << c.psi << " " << c.h_new[0];
}

}  // namespace
}  // namespace velmar
