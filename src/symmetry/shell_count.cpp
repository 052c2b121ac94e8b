#include "symmetry/shell_count.hpp"

#include <algorithm>
#include <cmath>

#include "symmetry/cell_geometry.hpp"


namespace velmar {

namespace {

constexpr int64_t kMaxIndex = 32767;

// Reciprocal metric G = B^T B, symmetric; g[i][j] = a*_i . a*_j.
struct Metric {
  double g[3][3];
};

Metric metric_of(const Mat3& b) {
  Metric m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double s = 0.0;
      for (int r = 0; r < 3; ++r) s += static_cast<double>(b[3 * i + r]) * b[3 * j + r];
      m.g[i][j] = s;
    }
  }
  return m;
}

double det3(const Metric& m) {
  const auto& g = m.g;
  return g[0][0] * (g[1][1] * g[2][2] - g[1][2] * g[2][1]) -
         g[0][1] * (g[1][0] * g[2][2] - g[1][2] * g[2][0]) +
         g[0][2] * (g[1][0] * g[2][1] - g[1][1] * g[2][0]);
}

bool positive_definite(const Metric& m) {
  const auto& g = m.g;
  const double minor2 = g[0][0] * g[1][1] - g[0][1] * g[1][0];
  return g[0][0] > 0.0 && minor2 > 0.0 && det3(m) > 0.0;
}

// Integer interval [lo, hi] (possibly empty) covering the real roots of
// a t^2 + 2 b t + c <= 0 (a > 0), widened by one step on each side so that rounding in the
// roots can never drop a point; false when there is no real root.
bool root_interval(double a, double b, double c, int64_t& lo, int64_t& hi) {
  const double disc = b * b - a * c;
  if (!(disc >= 0.0)) return false;
  const double w = std::sqrt(disc);
  const double t1 = (-b - w) / a, t2 = (-b + w) / a;
  lo = static_cast<int64_t>(std::max(std::floor(t1), -static_cast<double>(kMaxIndex))) - 1;
  hi = static_cast<int64_t>(std::min(std::ceil(t2), static_cast<double>(kMaxIndex))) + 1;
  return true;
}

// Integer interval strictly inside the real roots of a t^2 + 2 b t + c <= 0, narrowed by one
// step on each side: points there lie well inside the inner ellipsoid. Empty (lo > hi) when
// there are no such points.
void inside_interval(double a, double b, double c, int64_t& lo, int64_t& hi) {
  lo = 1, hi = 0;
  const double disc = b * b - a * c;
  if (!(disc > 0.0)) return;
  const double w = std::sqrt(disc);
  const double t1 = (-b - w) / a, t2 = (-b + w) / a;
  if (t2 - t1 < 4.0) return;
  lo = static_cast<int64_t>(std::floor(t1)) + 2;
  hi = static_cast<int64_t>(std::ceil(t2)) - 2;
}

// What the operators say about (h,k,l): whether it is its own representative, whether it is
// systematically absent, whether it is centric.
struct Verdict {
  bool representative = true;
  bool absent = false;
  bool centric = false;
};

bool image_greater(int h1, int k1, int l1, int h, int k, int l) {
  if (h1 != h) return h1 > h;
  if (k1 != k) return k1 > k;
  return l1 > l;
}

Verdict classify(int h, int k, int l, std::span<const Symop> ops) {
  Verdict v;
  for (const Symop& m : ops) {
    const int rh = m[0] * h + m[4] * k + m[8] * l;
    const int rk = m[1] * h + m[5] * k + m[9] * l;
    const int rl = m[2] * h + m[6] * k + m[10] * l;
    if (image_greater(rh, rk, rl, h, k, l) || image_greater(-rh, -rk, -rl, h, k, l)) {
      v.representative = false;
      return v;
    }
    if (rh == h && rk == k && rl == l && (m[3] * h + m[7] * k + m[11] * l) % 12 != 0) {
      v.absent = true;
      return v;
    }
    if (rh == -h && rk == -k && rl == -l) v.centric = true;
  }
  return v;
}

// Enumeration state of one call.
struct ShellScan {
  const Metric& m;
  const Mat3& b;
  std::span<const Symop> ops;
  float s1, s2;
  double outer, inner;  // slightly widened bounds for the enumeration limits
  ShellCount count;

  void visit(int64_t h, int64_t k, int64_t l) {
    const int ih = static_cast<int>(h), ik = static_cast<int>(k), il = static_cast<int>(l);
    const float ss = one_over_d_squared(b, ih, ik, il);
    if (within_limit(ss, s1) || !within_limit(ss, s2)) return;
    const Verdict v = classify(ih, ik, il, ops);
    if (!v.representative || v.absent) return;
    ++count.n;
    if (v.centric) ++count.centric;
  }

  // The l values of the row (h,k) in the outer ellipsoid, skipping those deep inside the
  // inner one.
  void scan_row(int64_t h, int64_t k) {
    const auto& g = m.g;
    const double qa = g[2][2];
    const double qb = g[0][2] * static_cast<double>(h) + g[1][2] * static_cast<double>(k);
    const double hk = g[0][0] * static_cast<double>(h * h) + 2.0 * g[0][1] * static_cast<double>(h * k) +
                      g[1][1] * static_cast<double>(k * k);
    int64_t lo, hi;
    if (!root_interval(qa, qb, hk - outer, lo, hi)) return;
    lo = std::max(lo, -kMaxIndex);
    hi = std::min(hi, kMaxIndex);
    if (h == 0 && k == 0) lo = std::max<int64_t>(lo, 1);
    int64_t skip_lo, skip_hi;
    inside_interval(qa, qb, hk - inner, skip_lo, skip_hi);
    for (int64_t l = lo; l <= hi; ++l) {
      if (l >= skip_lo && l <= skip_hi) l = skip_hi + 1;
      if (l > hi) break;
      visit(h, k, l);
    }
  }

  // The k values of the ellipse section at h (k >= 0 when h = 0).
  void scan_plane(int64_t h) {
    const auto& g = m.g;
    const double dh = static_cast<double>(h);
    const double a = g[1][1] - g[1][2] * g[1][2] / g[2][2];
    const double bq = dh * (g[0][1] - g[0][2] * g[1][2] / g[2][2]);
    const double c = dh * dh * (g[0][0] - g[0][2] * g[0][2] / g[2][2]) - outer;
    int64_t lo, hi;
    if (!root_interval(a, bq, c, lo, hi)) return;
    lo = std::max(lo, h == 0 ? int64_t{0} : -kMaxIndex);
    hi = std::min(hi, kMaxIndex);
    for (int64_t k = lo; k <= hi; ++k) scan_row(h, k);
  }
};

}  // namespace

ShellCount nuhkl(float s1, float s2, std::span<const Symop> ops, const Mat3& b) {
  if (!(s1 >= 0.0f) || !std::isfinite(s2)) return {-1, 0};
  const Metric m = metric_of(b);
  if (!positive_definite(m)) return {-1, 0};
  if (s1 > s2) return {0, 0};
  const auto& g = m.g;
  const double outer = static_cast<double>(s2) * (1.0 + 1.0e-5);
  const double inner = static_cast<double>(s1) * (1.0 - 1.0e-5);  // enumeration bounds, wider than the test
  const double ginv11 = (g[1][1] * g[2][2] - g[1][2] * g[2][1]) / det3(m);
  const double hmax = std::min(std::floor(std::sqrt(outer * ginv11)) + 1.0, static_cast<double>(kMaxIndex));
  ShellScan scan{m, b, ops, s1, s2, outer, inner, {}};
  for (int64_t h = 0; h <= static_cast<int64_t>(hmax); ++h) scan.scan_plane(h);
  return scan.count;
}

}  // namespace velmar
