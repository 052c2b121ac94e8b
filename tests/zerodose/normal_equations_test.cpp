// The symmetric solver of the dose refinement on hand-solved systems.
#include "zerodose/normal_equations.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velmar {
namespace {

using Matrix = std::vector<std::vector<double>>;

// Packs a full symmetric matrix given row by row.
std::vector<double> pack(const Matrix& full) {
  std::vector<double> a(packed_size(full.size()));
  for (size_t j = 0; j < full.size(); ++j)
    for (size_t k = 0; k <= j; ++k) a[packed_index(j, k)] = full[j][k];
  return a;
}

TEST(Solvneq, HandSolvedSystems) {
  const Matrix a2 = {{4, 2}, {2, 3}}, a3 = {{4, 2, 1}, {2, 3, 0}, {1, 0, 2}}, pair = {{1, -1}, {-1, 1}};
  const Matrix ring = {{2, -1, -1}, {-1, 2, -1}, {-1, -1, 2}};
  const Matrix weak = {{1, 1 - 1e-7}, {1 - 1e-7, 1}}, used = {{1, 0.999986}, {0.999986, 1}};
  const struct {
    const char* what;
    int expected;
    std::vector<int> fixed;
    Matrix a;
    std::vector<double> y;
    int ier;
    std::vector<double> x;
  } cases[] = {
      // Inverse (1/8)[[3,-2],[-2,4]]: x = (0.5, 0).
      {"full rank 2 x 2", 2, {0, 0}, a2, {2, 1}, 0, {0.5, 0}},
      {"rank 1 expected of a full-rank matrix", 1, {0, 0}, a2, {2, 1}, 0, {0.5, 0}},
      // First unknown fixed: [[3,0],[0,2]] x = (3, 4); the fixed one gets no shift.
      {"first unknown fixed", 2, {1, 0, 0}, a3, {7, 3, 4}, 0, {0, 1, 2}},
      {"more expected than free unknowns", 3, {0, 0, 1}, a3, {2, 1, 5}, -1, {0, 0, 0}},
      // Null vector (1, 1); eigenvalue 2 on (1, -1)/sqrt2: the solution of least length.
      {"singular, rank 1 expected", 1, {0, 0}, pair, {1, -1}, 0, {0.5, -0.5}},
      {"singular, full rank expected", 2, {0, 0}, pair, {1, -1}, -1, {0, 0}},
      // Eigenvalues 3, 3, 0 (null vector (1,1,1)): x = y/3 for y orthogonal to it; the component
      // of an inconsistent y along (1,1,1) is ignored.
      {"singular 3 x 3, rank 2 expected", 2, {0, 0, 0}, ring, {1, 0, -1}, 0, {1.0 / 3, 0, -1.0 / 3}},
      {"inconsistent right-hand side", 2, {0, 0, 0}, ring, {4, 3, 2}, 0, {1.0 / 3, 0, -1.0 / 3}},
      // With the third unknown fixed the ring is regular: [[2,-1],[-1,2]] x = (1, 0).
      {"singular 3 x 3, one fixed", 2, {0, 0, 1}, ring, {1, 0, -1}, 0, {2.0 / 3, 1.0 / 3, 0}},
      // det 3e6: x = ((4e6 - 1e3)/3e6, (1e6 - 1e9)/3e6).
      {"badly scaled", 2, {0, 0}, {{1e6, 1e3}, {1e3, 4}}, {1e6, 1}, 0, {1.333, -333.0}},
      // [[1, c], [c, 1]]: eigenvalues 1 + c on (1, 1) and 1 - c on (1, -1). c = 1 - 1e-7: ratio
      // 5e-8, the weak direction is left out: x = (1/2)(1, 1)/(1 + c).
      {"weak direction left out", 1, {0, 0}, weak, {1, 0}, 0, {0.2500000125, 0.2500000125}},
      {"weak direction, full rank expected", 2, {0, 0}, weak, {1, 0}, -1, {0, 0}},
      // c = 0.999986: ratio 7.00005e-6, above 5e-6, so x is the full inverse (1, -c)/(1 - c^2);
      // for the rank it is below 1e-5.
      {"weak direction used", 1, {0, 0}, used, {1, 0}, 0, {35714.535716, -35714.035713}},
      {"weak direction too weak for the rank", 2, {0, 0}, used, {1, 0}, -1, {0, 0}},
      {"zero matrix", 1, {0, 0}, {{0, 0}, {0, 0}}, {1, 1}, -1, {0, 0}},
      {"expected 0", 0, {0, 0}, a2, {2, 1}, -1, {0, 0}},
      {"expected above n", 3, {0, 0}, a2, {2, 1}, -1, {0, 0}},
      {"single unknown", 1, {0}, {{5}}, {2}, 0, {0.4}},
  };
  for (const auto& c : cases) {
    std::vector<double> x(c.fixed.size(), 99.0);
    EXPECT_EQ(solvneq(c.expected, c.fixed, pack(c.a), c.y, x), c.ier) << c.what;
    for (size_t k = 0; k < x.size(); ++k) EXPECT_NEAR(x[k], c.x[k], 1e-9 * (1 + std::fabs(c.x[k]))) << c.what << " x" << k;
  }
}

}  // namespace
}  // namespace velmar
