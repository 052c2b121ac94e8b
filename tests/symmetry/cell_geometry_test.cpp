// Reciprocal cell, orthogonalisation and reciprocal-basis matrices, inverse, rotations.
#include "symmetry/cell_geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace velmar {
namespace {

constexpr double kRad = 3.14159265358979 / 180.0;

float el(const Mat3& m, int i, int j) { return m[static_cast<size_t>(3 * j + i)]; }

Mat3 product(const Mat3& x, const Mat3& y) {
  Mat3 p{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) p[static_cast<size_t>(3 * j + i)] += el(x, i, k) * el(y, k, j);
  return p;
}

Mat3 transposed(const Mat3& m) {
  Mat3 t{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t[static_cast<size_t>(3 * j + i)] = el(m, j, i);
  return t;
}

void expect_identity(const Mat3& m, float tol) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(el(m, i, j), i == j ? 1.0f : 0.0f, tol) << i << "," << j;
}

TEST(CellGeometry, InvcelOfCubicAndDegenerateCells) {
  const ReciprocalCell cubic = invcel({50, 50, 50, 90, 90, 90});
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(cubic.reciprocal[static_cast<size_t>(i)], 0.02f, 1e-8f);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(cubic.reciprocal[static_cast<size_t>(i)], 90.0f);
  EXPECT_NEAR(cubic.volume, 125000.0f, 1.0f);

  const ReciprocalCell hex = invcel({60, 60, 90, 90, 90, 120});
  EXPECT_EQ(hex.reciprocal[3], 90.0f);
  EXPECT_EQ(hex.reciprocal[5], 60.0f);
  EXPECT_NEAR(hex.reciprocal[0], 1.0 / (60 * std::sin(120 * kRad)), 1e-7);

  const Cell minus1 = {-1, -1, -1, -1, -1, -1};
  for (const Cell& bad : {Cell{0, 50, 50, 90, 90, 90}, Cell{-3, 50, 50, 90, 90, 90},
                          Cell{50, 50, 50, 0, 90, 90}}) {
    const ReciprocalCell r = invcel(bad);
    EXPECT_EQ(r.reciprocal, minus1);
    EXPECT_EQ(r.volume, -1.0f);
  }
  const ReciprocalCell flat = invcel({50, 50, 50, 30, 30, 120});  // angles admit no cell
  EXPECT_LE(flat.volume, 0.0f);
  EXPECT_EQ(flat.reciprocal, minus1);
  EXPECT_LE(invcel({50, 0, 50, 90, 90, 90}).volume, 0.0f);
}

TEST(CellGeometry, ReciprocalAnglesSnapOnlyNearWholeDegrees) {
  // beta* of a monoclinic cell is 180 - beta; 99.9995 lies within the snap distance of 100.
  EXPECT_EQ(invcel({40, 50, 60, 90, 80.0005f, 90}).reciprocal[4], 100.0f);
  EXPECT_NEAR(invcel({40, 50, 60, 90, 80.01f, 90}).reciprocal[4], 99.99f, 2e-4f);
}

TEST(CellGeometry, OrthogonalisationMatrixReproducesTheCell) {
  const Cell c = {47.3f, 58.1f, 66.9f, 77.5f, 101.2f, 112.8f};
  const Mat3 a = setmat(c);
  EXPECT_EQ(el(a, 1, 0), 0.0f);  // a in the x-z plane, c along z
  EXPECT_EQ(el(a, 0, 2), 0.0f);
  EXPECT_EQ(el(a, 1, 2), 0.0f);
  auto col_dot = [&](int i, int j) {
    double s = 0;
    for (int r = 0; r < 3; ++r) s += double(el(a, r, i)) * el(a, r, j);
    return s;
  };
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(std::sqrt(col_dot(i, i)), c[static_cast<size_t>(i)], 1e-3);
  EXPECT_NEAR(col_dot(1, 2), c[1] * c[2] * std::cos(c[3] * kRad), 0.05);
  EXPECT_NEAR(col_dot(0, 2), c[0] * c[2] * std::cos(c[4] * kRad), 0.05);
  EXPECT_NEAR(col_dot(0, 1), c[0] * c[1] * std::cos(c[5] * kRad), 0.05);
  Mat3 inv{};
  EXPECT_NEAR(invers(a, inv), invcel(c).volume, 1e-4 * invcel(c).volume);
}

TEST(CellGeometry, ReciprocalBasisGivesResolution) {
  const Cell tri = {47.3f, 58.1f, 66.9f, 77.5f, 101.2f, 112.8f};
  const Mat3 b = reciprocal_basis(tri);
  expect_identity(product(b, transposed(setmat(tri))), 1e-6f);
  const ReciprocalCell rc = invcel(tri);
  for (int j = 0; j < 3; ++j) {
    const int h = j == 0, k = j == 1, l = j == 2;
    EXPECT_NEAR(std::sqrt(one_over_d_squared(b, h, k, l)), rc.reciprocal[static_cast<size_t>(j)], 1e-7);
  }
  // Monoclinic, unique axis b: 1/d^2 = (h^2/a^2 + k^2 sin^2/b^2 + l^2/c^2 - 2hl cos/(ac)) / sin^2.
  const double s = std::sin(105 * kRad), cs = std::cos(105 * kRad);
  const int h = 5, k = -3, l = 7;
  const double expected =
      (h * h / 1600.0 + k * k * s * s / 2500.0 + l * l / 3600.0 - 2 * h * l * cs / 2400.0) / (s * s);
  EXPECT_NEAR(one_over_d_squared(reciprocal_basis({40, 50, 60, 90, 105, 90}), h, k, l) / expected, 1.0, 1e-5);
}

TEST(CellGeometry, InversReturnsDeterminantAndAdjugateWhenSingular) {
  const Mat3 m = {2, 1, 0, -1, 3, 2, 4, 0, 1};  // columns
  Mat3 inv{};
  EXPECT_NEAR(invers(m, inv), 15.0f, 1e-5f);
  expect_identity(product(m, inv), 1e-6f);
  expect_identity(product(inv, m), 1e-6f);

  const Mat3 singular = {1, 4, 7, 2, 5, 8, 3, 6, 9};  // rows (1,2,3), (4,5,6), (7,8,9)
  EXPECT_EQ(invers(singular, inv), 0.0f);
  EXPECT_EQ(inv, (Mat3{-3, 6, -3, 6, -12, 6, -3, 6, -3}));
}

TEST(CellGeometry, RotationBuilders) {
  Mat3 r{};
  const float c30 = std::cos(30 * float(kRad)), s30 = std::sin(30 * float(kRad));
  ASSERT_EQ(rotmat({0, 0, 2}, c30, s30, r), 0);
  EXPECT_NEAR(el(r, 0, 0), c30, 1e-6f);  // x goes to (cos, sin, 0)
  EXPECT_NEAR(el(r, 1, 0), s30, 1e-6f);
  ASSERT_EQ(rotmat({1, 1, 1}, -0.5f, std::sqrt(3.0f) / 2, r), 0);  // 120 deg: x -> y -> z
  EXPECT_NEAR(el(r, 1, 0), 1.0f, 1e-6f);
  EXPECT_NEAR(el(r, 2, 1), 1.0f, 1e-6f);
  EXPECT_NEAR(el(r, 0, 2), 1.0f, 1e-6f);
  EXPECT_EQ(rotmat({0, 0, 0}, 1, 0, r), -1);

  Mat3d d{};
  ASSERT_EQ(smallrot({0.3, -0.2, 0.4}, d), 0);
  const std::array<double, 3> e = {0.3, -0.2, 0.4};
  const double len = std::sqrt(0.29);
  Mat3 f{};
  ASSERT_EQ(rotmat({0.3f, -0.2f, 0.4f}, float(std::sqrt(1 - 0.29)), float(len), f), 0);
  for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(d[i], f[i], 1e-6);
  for (int i = 0; i < 3; ++i)  // axis is fixed
    EXPECT_NEAR(d[static_cast<size_t>(i)] * e[0] + d[static_cast<size_t>(3 + i)] * e[1] +
                    d[static_cast<size_t>(6 + i)] * e[2], e[static_cast<size_t>(i)], 1e-14);
  EXPECT_EQ(smallrot({0.6, 0.6, 0.6}, d), -1);
  EXPECT_EQ(smallrot({0.0, 0.995, 0.0}, d), -1);
  EXPECT_EQ(smallrot({0.5, 0.5, 0.5}, d), 0);
}

TEST(CellGeometry, UnormBuildsRightHandedFrame) {
  Mat3 f = {9, 9, 9, 0, 0, 2, 1, 0, 1};  // F1 ignored, F2 = (0,0,2), F3 = (1,0,1)
  ASSERT_EQ(unorm(f), 0);
  EXPECT_EQ(f, (Mat3{0, 1, 0, 0, 0, 1, 1, 0, 0}));
  Mat3 g = {0, 0, 0, 0.3f, -1.2f, 2.0f, 0.7f, 0.4f, -0.1f};
  ASSERT_EQ(unorm(g), 0);
  expect_identity(product(transposed(g), g), 1e-6f);
  Mat3 gi{};
  EXPECT_NEAR(invers(g, gi), 1.0f, 1e-6f);
  Mat3 par = {5, 5, 5, 1, 2, 3, -2, -4, -6};
  EXPECT_EQ(unorm(par), -1);
  EXPECT_EQ(par[0], 5.0f);  // F1 and F2 untouched
  EXPECT_EQ(par[4], 2.0f);
}

}  // namespace
}  // namespace velmar
