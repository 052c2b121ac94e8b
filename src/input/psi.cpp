#include "input/psi.hpp"

#include <cmath>

#include "symmetry/cell_geometry.hpp"

namespace velmar {
namespace {

// A direct-space direction perpendicular to the reflection (p,q,r): (p,q,r) x (1,1,1),
// or (p,-p,0) when the reflection lies along (1,1,1).
Vec3 reference_triple(const std::array<int, 3>& h) {
  const float p = static_cast<float>(h[0]), q = static_cast<float>(h[1]), r = static_cast<float>(h[2]);
  if (h[0] == h[1] && h[1] == h[2]) return {p, -p, 0.0f};
  return {q - r, r - p, p - q};
}

float at(const Mat3& m, int i, int j) { return m[static_cast<size_t>(3 * j + i)]; }

Vec3 times(const Mat3& m, const Vec3& v) {
  Vec3 out{};
  for (int i = 0; i < 3; ++i) out[static_cast<size_t>(i)] = at(m, i, 0) * v[0] + at(m, i, 1) * v[1] + at(m, i, 2) * v[2];
  return out;
}

Vec3 transposed_times(const Mat3& m, const Vec3& v) {
  Vec3 out{};
  for (int i = 0; i < 3; ++i) out[static_cast<size_t>(i)] = at(m, 0, i) * v[0] + at(m, 1, i) * v[1] + at(m, 2, i) * v[2];
  return out;
}

float dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

}  // namespace

float reindexed_psi(float psi, const std::array<int, 3>& old_hkl, const std::array<int, 3>& new_hkl,
                    const Mat3& reidx_inverse, const Mat3& a, const Mat3& b) {
  const float psi0 = psi - 360.0f * std::round(psi / 360.0f);
  // Direct-space components transform with the transposed inverse of the index transformation.
  const Vec3 v = transposed_times(reidx_inverse, reference_triple(old_hkl));
  const Vec3 u = reference_triple(new_hkl);
  const Vec3 qo = times(a, v), qu = times(a, u);
  const float norm2 = dot(qo, qo) * dot(qu, qu);
  if (!(norm2 > 1.1754944e-38f)) return psi0;
  const Vec3 p = times(b, Vec3{static_cast<float>(new_hkl[0]), static_cast<float>(new_hkl[1]),
                               static_cast<float>(new_hkl[2])});
  const Vec3 n = cross(qo, qu);
  const float len = std::sqrt(dot(n, n)) / std::sqrt(norm2);
  float correction = std::asin(std::min(len, 1.0f)) * kDegreesPerRadian;
  if (dot(n, p) < 0.0f) correction = -correction;
  float out = psi0 + correction;
  if (out > 180.0f) out -= 360.0f;
  if (out < -180.0f) out += 360.0f;
  return out;
}

}  // namespace velmar
