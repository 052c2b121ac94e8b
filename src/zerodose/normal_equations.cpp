#include "zerodose/normal_equations.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "common/error.hpp"

namespace velmar {
namespace {

constexpr double kNegligible = 5e-14;  // off-diagonal element / off-diagonal norm
constexpr double kTruncation = 5e-6;   // eigenvalue / largest eigenvalue used in the inverse
constexpr double kRankLimit = 1e-5;    // eigenvalue / largest eigenvalue counted in the rank
constexpr int kMaxSweeps = 60;

// A full m x m symmetric matrix, row-major, with its eigenvectors as the columns of v.
struct Eigen {
  size_t m;
  std::vector<double> a, v;

  explicit Eigen(size_t size) : m(size), a(size * size, 0.0), v(size * size, 0.0) {
    for (size_t k = 0; k < m; ++k) v[k * m + k] = 1.0;
  }
  double& at(size_t j, size_t k) { return a[j * m + k]; }
  double& vec(size_t j, size_t k) { return v[j * m + k]; }

  double off_norm() const {
    double s = 0.0;
    for (size_t j = 0; j < m; ++j)
      for (size_t k = 0; k < m; ++k)
        if (j != k) s += a[j * m + k] * a[j * m + k];
    return std::sqrt(s);
  }

  // The rotation in the (p, q) plane that zeroes a(p, q).
  void rotate(size_t p, size_t q) {
    const double apq = at(p, q);
    const double theta = (at(q, q) - at(p, p)) / (2.0 * apq);
    const double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
    const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
    for (size_t k = 0; k < m; ++k) {
      const double akp = at(k, p), akq = at(k, q);
      at(k, p) = c * akp - s * akq;
      at(k, q) = s * akp + c * akq;
    }
    for (size_t k = 0; k < m; ++k) {
      const double apk = at(p, k), aqk = at(q, k);
      at(p, k) = c * apk - s * aqk;
      at(q, k) = s * apk + c * aqk;
    }
    at(p, q) = at(q, p) = 0.0;
    for (size_t k = 0; k < m; ++k) {
      const double vkp = vec(k, p), vkq = vec(k, q);
      vec(k, p) = c * vkp - s * vkq;
      vec(k, q) = s * vkp + c * vkq;
    }
  }

  // Cyclic sweeps over all pairs until a sweep finds every off-diagonal element negligible
  // against 5e-14 times the off-diagonal norm of the matrix as it was before the first sweep.
  void diagonalise() {
    const double threshold = kNegligible * off_norm();
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
      bool rotated = false;
      for (size_t p = 0; p + 1 < m; ++p)
        for (size_t q = p + 1; q < m; ++q)
          if (std::fabs(at(p, q)) > threshold) {
            rotate(p, q);
            rotated = true;
          }
      if (!rotated) return;
    }
  }
};

}  // namespace

int solvneq(int expected, std::span<const int> fixed, std::span<const double> a, std::span<const double> y,
            std::span<double> x) {
  const size_t n = fixed.size();
  if (a.size() < packed_size(n) || y.size() < n || x.size() < n) assert_violation("SOLVNEQ");
  std::fill_n(x.begin(), n, 0.0);
  if (expected < 1 || static_cast<size_t>(expected) > n) return -1;

  std::vector<size_t> free;
  for (size_t k = 0; k < n; ++k)
    if (fixed[k] == 0) free.push_back(k);
  const size_t m = free.size();
  if (static_cast<size_t>(expected) > m) return -1;

  std::vector<double> scale(m), rhs(m);
  for (size_t j = 0; j < m; ++j) {
    const double d = a[packed_index(free[j], free[j])];
    scale[j] = d > 0.0 ? 1.0 / std::sqrt(d) : 1.0;
    rhs[j] = scale[j] * y[free[j]];
  }
  Eigen e(m);
  for (size_t j = 0; j < m; ++j)
    for (size_t k = 0; k < m; ++k) e.at(j, k) = scale[j] * a[packed_index(free[j], free[k])] * scale[k];
  e.diagonalise();

  std::vector<double> value(m);
  std::vector<size_t> order(m);
  for (size_t k = 0; k < m; ++k) value[k] = std::max(e.at(k, k), 0.0);
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t p, size_t q) { return value[p] > value[q]; });
  const double largest = value[order[0]];
  if (value[order[static_cast<size_t>(expected) - 1]] <= kRankLimit * largest) return -1;

  std::vector<double> u(m, 0.0);
  for (size_t k : order) {
    if (value[k] <= kTruncation * largest) break;
    double projection = 0.0;
    for (size_t j = 0; j < m; ++j) projection += e.vec(j, k) * rhs[j];
    for (size_t j = 0; j < m; ++j) u[j] += e.vec(j, k) * projection / value[k];
  }
  for (size_t j = 0; j < m; ++j) x[free[j]] = scale[j] * u[j];
  return 0;
}

}  // namespace velmar
