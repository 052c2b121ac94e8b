// Reciprocal cell, orthogonalisation and reciprocal-basis matrices, inverse, rotations.
#include "symmetry/cell_geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace velmar {
namespace {

constexpr double kRad = 3.14159265358979 / 180.0;

float el(const Mat3& m, int i, int j) { return m[static_cast<size_t>(3 * j + i)]; }

// x * y, or x^T * y.
Mat3 product(const Mat3& x, const Mat3& y, bool transpose_x = false) {
  Mat3 p{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k)
        p[static_cast<size_t>(3 * j + i)] += (transpose_x ? el(x, k, i) : el(x, i, k)) * el(y, k, j);
  return p;
}

const Mat3 kUnit = {1, 0, 0, 0, 1, 0, 0, 0, 1};
void expect_near(const Mat3& m, const Mat3& expected) {
  for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(m[i], expected[i], 1e-6f) << "element " << i;
}

TEST(CellGeometry, InvcelOfRegularAndDegenerateCells) {
  const ReciprocalCell cubic = invcel({50, 50, 50, 90, 90, 90});
  EXPECT_EQ(cubic.reciprocal, (Cell{0.02f, 0.02f, 0.02f, 90, 90, 90}));
  EXPECT_NEAR(cubic.volume, 125000.0f, 1.0f);
  EXPECT_EQ(invcel({60, 60, 90, 90, 90, 120}).reciprocal[5], 60.0f);  // gamma* of a hexagonal cell
  // beta* of a monoclinic cell is 180 - beta; 99.9995 lies within the snap distance of 100.
  EXPECT_EQ(invcel({40, 50, 60, 90, 80.0005f, 90}).reciprocal[4], 100.0f);
  EXPECT_NEAR(invcel({40, 50, 60, 90, 80.01f, 90}).reciprocal[4], 99.99f, 2e-4f);
  // Zero or negative edges or angles give every reciprocal constant and V as -1; angles
  // that admit no cell give no volume.
  for (const Cell& bad : {Cell{0, 50, 50, 90, 90, 90}, Cell{-3, 50, 50, 90, 90, 90}, Cell{50, 50, 50, 0, 90, 90},
                          Cell{50, 50, 50, 30, 30, 120}}) {
    const ReciprocalCell r = invcel(bad);
    EXPECT_EQ(r.reciprocal, (Cell{-1, -1, -1, -1, -1, -1})) << bad[0] << " " << bad[3];
    EXPECT_TRUE(bad[3] == 30 ? r.volume <= 0 : r.volume == -1) << bad[0] << " " << bad[3] << ": " << r.volume;
  }
}

TEST(CellGeometry, OrthogonalisationAndReciprocalBasisReproduceTheCell) {
  const Cell c = {47.3f, 58.1f, 66.9f, 77.5f, 101.2f, 112.8f};
  const Mat3 a = setmat(c);
  EXPECT_EQ((std::array{el(a, 1, 0), el(a, 0, 2), el(a, 1, 2)}), (std::array{0.0f, 0.0f, 0.0f})) << "a in x-z, c along z";
  const Mat3 g = product(a, a, true);  // metric tensor
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(std::sqrt(el(g, i, i)), c[static_cast<size_t>(i)], 1e-3);
  EXPECT_NEAR(el(g, 1, 2), c[1] * c[2] * std::cos(c[3] * kRad), 0.05);
  EXPECT_NEAR(el(g, 0, 2), c[0] * c[2] * std::cos(c[4] * kRad), 0.05);
  EXPECT_NEAR(el(g, 0, 1), c[0] * c[1] * std::cos(c[5] * kRad), 0.05);
  Mat3 inv{};
  EXPECT_NEAR(invers(a, inv), invcel(c).volume, 1e-4 * invcel(c).volume);
  expect_near(product(a, inv), kUnit);
  const Mat3 b = reciprocal_basis(c);
  expect_near(product(a, b, true), kUnit);  // A^T B = I
  for (int j = 0; j < 3; ++j)
    EXPECT_NEAR(std::sqrt(one_over_d_squared(b, j == 0, j == 1, j == 2)), invcel(c).reciprocal[static_cast<size_t>(j)], 1e-7);
}

TEST(CellGeometry, InversOfASingularMatrixGivesZeroAndTheAdjugate) {
  const Mat3 singular = {1, 4, 7, 2, 5, 8, 3, 6, 9};  // rows (1,2,3), (4,5,6), (7,8,9)
  Mat3 inv{};
  EXPECT_EQ(invers(singular, inv), 0.0f);
  EXPECT_EQ(inv, (Mat3{-3, 6, -3, 6, -12, 6, -3, 6, -3}));
}

TEST(CellGeometry, RotationBuilders) {
  Mat3 r{};
  ASSERT_EQ(rotmat({1, 1, 1}, -0.5f, std::sqrt(3.0f) / 2, r), 0);  // 120 deg: x -> y -> z
  expect_near(r, {0, 1, 0, 0, 0, 1, 1, 0, 0});
  EXPECT_EQ(rotmat({0, 0, 0}, 1, 0, r), -1);
  // smallrot(e) is the rotation about e by asin|e|: the same as rotmat.
  Mat3d d{};
  ASSERT_EQ(smallrot({0.3, -0.2, 0.4}, d), 0);
  ASSERT_EQ(rotmat({0.3f, -0.2f, 0.4f}, float(std::sqrt(1 - 0.29)), float(std::sqrt(0.29)), r), 0);
  for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(d[i], r[i], 1e-6);
  EXPECT_EQ(smallrot({0.6, 0.6, 0.6}, d), -1);  // |e|^2 >= 0.99
  Mat3 f = {9, 9, 9, 0, 0, 2, 1, 0, 1}, par = {5, 5, 5, 1, 2, 3, -2, -4, -6};  // unorm: F1 ignored
  ASSERT_EQ(std::make_pair(unorm(f), unorm(par)), std::make_pair(0, -1));  // F2, F3 parallel in par
  EXPECT_EQ(f, (Mat3{0, 1, 0, 0, 0, 1, 1, 0, 0}));
}

}  // namespace
}  // namespace velmar
