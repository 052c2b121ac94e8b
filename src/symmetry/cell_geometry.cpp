#include "symmetry/cell_geometry.hpp"

#include <algorithm>
#include <cmath>

namespace velmar {
namespace {

constexpr float kAngleSnap = 0.0009f;  // degrees

float& at(Mat3& m, int i, int j) { return m[static_cast<size_t>(3 * j + i)]; }
float at(const Mat3& m, int i, int j) { return m[static_cast<size_t>(3 * j + i)]; }

Mat3 identity3() { return {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f}; }

// Angle in degrees from its cosine, snapped to a nearby whole degree.
float snapped_angle(float cosine) {
  const float deg = std::acos(std::clamp(cosine, -1.0f, 1.0f)) * kDegreesPerRadian;
  const float whole = std::nearbyint(deg);
  return std::fabs(deg - whole) < kAngleSnap ? whole : deg;
}

Vec3 column(const Mat3& m, int j) { return {at(m, 0, j), at(m, 1, j), at(m, 2, j)}; }

void set_column(Mat3& m, int j, const Vec3& v) {
  for (int i = 0; i < 3; ++i) at(m, i, j) = v[static_cast<size_t>(i)];
}

float dot(const Vec3& u, const Vec3& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

Vec3 cross(const Vec3& u, const Vec3& v) {
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

Vec3 scaled(const Vec3& v, float f) { return {v[0] * f, v[1] * f, v[2] * f}; }

}  // namespace

ReciprocalCell invcel(const Cell& cell) {
  ReciprocalCell out;
  out.reciprocal.fill(-1.0f);
  out.volume = -1.0f;
  if (cell[0] <= 0.0f) return out;
  std::array<float, 3> cs{}, sn{};
  for (size_t i = 0; i < 3; ++i) {
    if (cell[3 + i] <= 0.0f) return out;
    cs[i] = std::cos(cell[3 + i] / kDegreesPerRadian);
    sn[i] = std::sin(cell[3 + i] / kDegreesPerRadian);
  }
  const float radicand =
      1.0f - cs[0] * cs[0] - cs[1] * cs[1] - cs[2] * cs[2] + 2.0f * cs[0] * cs[1] * cs[2];
  out.volume = radicand > 0.0f ? cell[0] * cell[1] * cell[2] * std::sqrt(radicand) : 0.0f;
  if (out.volume <= 0.0f) return out;
  for (size_t i = 0; i < 3; ++i) {
    const size_t j = (i + 1) % 3, k = (i + 2) % 3;
    out.reciprocal[i] = cell[j] * cell[k] * sn[i] / out.volume;
    out.reciprocal[3 + i] = snapped_angle((cs[j] * cs[k] - cs[i]) / (sn[j] * sn[k]));
  }
  return out;
}

Mat3 setmat(const Cell& cell) {
  const float ca = std::cos(cell[3] / kDegreesPerRadian);
  const float sa = std::sin(cell[3] / kDegreesPerRadian);
  const float cb = std::cos(cell[4] / kDegreesPerRadian);
  const float sb = std::sin(cell[4] / kDegreesPerRadian);
  const float cg = std::cos(cell[5] / kDegreesPerRadian);
  const float bx = cell[1] * (cg - ca * cb) / sb;
  const float by = std::sqrt(std::max(0.0f, cell[1] * cell[1] * sa * sa - bx * bx));
  Mat3 a{};
  set_column(a, 0, {cell[0] * sb, 0.0f, cell[0] * cb});
  set_column(a, 1, {bx, by, cell[1] * ca});
  set_column(a, 2, {0.0f, 0.0f, cell[2]});
  return a;
}

float invers(const Mat3& m, Mat3& inverse) {
  // inverse(i,j) = cofactor(j,i) / det
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const int r1 = (j + 1) % 3, r2 = (j + 2) % 3, c1 = (i + 1) % 3, c2 = (i + 2) % 3;
      at(inverse, i, j) = at(m, r1, c1) * at(m, r2, c2) - at(m, r1, c2) * at(m, r2, c1);
    }
  }
  const float det = at(m, 0, 0) * at(inverse, 0, 0) + at(m, 0, 1) * at(inverse, 1, 0) +
                    at(m, 0, 2) * at(inverse, 2, 0);
  if (det != 0.0f)
    for (float& x : inverse) x /= det;
  return det;
}

Mat3 reciprocal_basis(const Cell& cell) {
  Mat3 inv{};
  invers(setmat(cell), inv);
  Mat3 b{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) at(b, i, j) = at(inv, j, i);
  return b;
}

float one_over_d_squared(const Mat3& b, int h, int k, int l) {
  const float fh = static_cast<float>(h), fk = static_cast<float>(k), fl = static_cast<float>(l);
  float sum = 0.0f;
  for (int i = 0; i < 3; ++i) {
    const float x = at(b, i, 0) * fh + at(b, i, 1) * fk + at(b, i, 2) * fl;
    sum += x * x;
  }
  return sum;
}

int rotmat(const Vec3& axis, float cos_phi, float sin_phi, Mat3& r) {
  const float len2 = dot(axis, axis);
  if (!(len2 > 0.0f)) {
    r = identity3();
    return -1;
  }
  const Vec3 u = scaled(axis, 1.0f / std::sqrt(len2));
  const float w = 1.0f - cos_phi;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      at(r, i, j) = w * u[static_cast<size_t>(i)] * u[static_cast<size_t>(j)] + (i == j ? cos_phi : 0.0f);
  // sin_phi [u]x: (u x v)_i = sum_j [u]x(i,j) v_j
  at(r, 0, 1) -= sin_phi * u[2];
  at(r, 1, 0) += sin_phi * u[2];
  at(r, 0, 2) += sin_phi * u[1];
  at(r, 2, 0) -= sin_phi * u[1];
  at(r, 1, 2) -= sin_phi * u[0];
  at(r, 2, 1) += sin_phi * u[0];
  return 0;
}

int unorm(Mat3& frame) {
  const Vec3 f2 = column(frame, 1);
  const Vec3 f3 = column(frame, 2);
  const float f22 = dot(f2, f2), f23 = dot(f2, f3);
  const Vec3 g = {f3[0] * f22 - f2[0] * f23, f3[1] * f22 - f2[1] * f23, f3[2] * f22 - f2[2] * f23};
  set_column(frame, 2, g);
  const float glen = std::sqrt(dot(g, g));
  if (!(glen >= 0.000001f)) return -1;
  const Vec3 e2 = scaled(f2, 1.0f / std::sqrt(f22));
  const Vec3 e3 = scaled(g, 1.0f / glen);
  set_column(frame, 1, e2);
  set_column(frame, 2, e3);
  set_column(frame, 0, cross(e2, e3));
  return 0;
}

int smallrot(const std::array<double, 3>& e, Mat3d& r) {
  const double s = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
  if (!(s < 0.99)) {
    r = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    return -1;
  }
  const double c = std::sqrt(1.0 - s);
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) r[3 * j + i] = e[i] * e[j] / (1.0 + c) + (i == j ? c : 0.0);
  r[3 * 1 + 0] -= e[2];
  r[3 * 0 + 1] += e[2];
  r[3 * 2 + 0] += e[1];
  r[3 * 0 + 2] -= e[1];
  r[3 * 2 + 1] -= e[0];
  r[3 * 1 + 2] += e[0];
  return 0;
}

}  // namespace velmar
