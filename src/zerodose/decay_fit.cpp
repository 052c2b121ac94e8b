#include "zerodose/decay_fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>

#include "common/error.hpp"

namespace velmar {
namespace {

constexpr double kHalfPi = 1.570796;
constexpr double kCorrLimit = 0.9999;

size_t total_points(std::span<const int> n, std::string_view routine) {
  size_t total = 0;
  for (int ng : n) {
    if (ng < 0) assert_violation(routine);
    total += static_cast<size_t>(ng);
  }
  return total;
}

struct GroupMeans {
  double w = 0.0, xm = 0.0, ym = 0.0;
};

GroupMeans group_means(std::span<const float> w, std::span<const float> x, std::span<const float> y) {
  GroupMeans g;
  double sx = 0.0, sy = 0.0;
  for (size_t k = 0; k < w.size(); ++k) {
    g.w += w[k];
    sx += static_cast<double>(w[k]) * x[k];
    sy += static_cast<double>(w[k]) * y[k];
  }
  if (g.w > 0.0) {
    g.xm = sx / g.w;
    g.ym = sy / g.w;
  }
  return g;
}

struct PooledSums {
  double xx = 0.0, xy = 0.0, yy = 0.0;
};

// Chi-squares of one group's points about their weighted means, before (s0) and after (s1)
// intensities and sigmas are multiplied by the correction factors f.
struct GroupChi2 {
  double s0 = 0.0, s1 = 0.0;
};

GroupChi2 group_chi2(std::span<const float> i, std::span<const float> sigma, std::span<const float> f) {
  double w0 = 0.0, wi0 = 0.0, w1 = 0.0, wi1 = 0.0;
  for (size_t k = 0; k < i.size(); ++k) {
    const double s = sigma[k], sf = s * f[k], ik = i[k];
    w0 += 1.0 / (s * s);
    wi0 += ik / (s * s);
    w1 += 1.0 / (sf * sf);
    wi1 += ik * f[k] / (sf * sf);
  }
  const double m0 = wi0 / w0, m1 = wi1 / w1;
  GroupChi2 chi2;
  for (size_t k = 0; k < i.size(); ++k) {
    const double d0 = (i[k] - m0) / sigma[k];
    const double d1 = (static_cast<double>(i[k]) * f[k] - m1) / (static_cast<double>(sigma[k]) * f[k]);
    chi2.s0 += d0 * d0;
    chi2.s1 += d1 * d1;
  }
  return chi2;
}

}  // namespace

double student_a(double t, int nu) {
  const double theta = std::atan(t / std::sqrt(static_cast<double>(nu)));
  const double c2 = std::cos(theta) * std::cos(theta);
  const double s = std::sin(theta);
  double term = 1.0, sum = 1.0;
  if (nu % 2 == 0) {
    for (int k = 1; 2 * k <= nu - 2; ++k) {  // (1*3*...*(2k-1))/(2*4*...*2k) cos^2k
      term *= c2 * (2 * k - 1) / (2 * k);
      sum += term;
    }
    return s * sum;
  }
  if (nu == 1) return theta / kHalfPi;
  for (int k = 1; 2 * k <= nu - 3; ++k) {  // (2*4*...*2k)/(3*5*...*(2k+1)) cos^2k
    term *= c2 * (2 * k) / (2 * k + 1);
    sum += term;
  }
  return (theta + s * std::cos(theta) * sum) / kHalfPi;
}

double student_p(double t, int nu) { return 0.5 * (1.0 - student_a(t, nu)); }

LineFit fitlines(std::span<const int> n, std::span<const float> w, std::span<const float> x,
                 std::span<const float> y, std::span<float> a, std::span<float> sd_a) {
  const size_t points = total_points(n, "FITLINES");
  if (w.size() < points || x.size() < points || y.size() < points || a.size() < n.size() || sd_a.size() < n.size())
    assert_violation("FITLINES");
  std::fill_n(a.begin(), n.size(), 0.0f);
  std::fill_n(sd_a.begin(), n.size(), 0.0f);

  PooledSums s;
  size_t first = 0;
  for (int ng : n) {
    const auto m = static_cast<size_t>(ng);
    const GroupMeans g = group_means(w.subspan(first, m), x.subspan(first, m), y.subspan(first, m));
    if (ng < 1 || g.w <= 0.0) return {};
    for (size_t k = first; k < first + m; ++k) {
      const double dx = x[k] - g.xm, dy = y[k] - g.ym;
      s.xx += w[k] * dx * dx;
      s.xy += w[k] * dx * dy;
      s.yy += w[k] * dy * dy;
    }
    first += m;
  }

  LineFit fit;
  const double r = std::sqrt(s.xx * s.yy);
  if (!(r > 0.0)) return fit;
  fit.nfree = static_cast<int>(points) - static_cast<int>(n.size()) - 1;
  if (fit.nfree < 1) {
    fit.corr = static_cast<float>(r);
    return fit;
  }
  const double corr = std::clamp(s.xy / r, -kCorrLimit, kCorrLimit);
  const double slope = s.xy / s.xx;
  const double sd_slope = std::sqrt(s.yy * (1.0 - corr * corr) / (s.xx * fit.nfree));
  fit.corr = static_cast<float>(corr);
  fit.slope = static_cast<float>(slope);
  fit.sd_slope = static_cast<float>(sd_slope);

  first = 0;
  for (size_t g = 0; g < n.size(); ++g) {
    const auto m = static_cast<size_t>(n[g]);
    const GroupMeans gm = group_means(w.subspan(first, m), x.subspan(first, m), y.subspan(first, m));
    a[g] = static_cast<float>(gm.ym - slope * gm.xm);
    sd_a[g] = static_cast<float>(std::sqrt(gm.xm * sd_slope * gm.xm * sd_slope + 1.0 / gm.w));
    first += m;
  }
  return fit;
}

DecayTest hyptest(float level, float slope, float corr, int nfree, std::span<const int> n,
                  std::span<const float> x, std::span<const float> i, std::span<const float> sigma,
                  std::span<float> f) {
  const size_t points = total_points(n, "HYPTEST");
  if (x.size() < points || i.size() < points || sigma.size() < points || f.size() < points)
    assert_violation("HYPTEST");
  std::fill_n(f.begin(), points, 1.0f);
  DecayTest r;
  const double rc = std::fabs(static_cast<double>(corr));
  if (nfree < 1 || !(rc < 1.0) || corr == 0.0f) return r;

  const double t = rc * std::sqrt(nfree / (1.0 - rc * rc));
  r.p = static_cast<float>(student_p(t, nfree));
  if (r.p > level) return r;

  float xmax = 0.0f;
  for (float xk : x.first(points)) xmax = std::max(xmax, std::fabs(xk));
  const float extent = std::fabs(slope) * xmax;
  r.c = extent > 1.0f ? 1.0f / extent : 1.0f;
  for (size_t k = 0; k < points; ++k) f[k] = std::exp(-r.c * slope * x[k]);

  double s0 = 0.0, s1 = 0.0;
  size_t first = 0;
  for (int ng : n) {
    const auto m = static_cast<size_t>(ng);
    const GroupChi2 g = group_chi2(i.subspan(first, m), sigma.subspan(first, m), f.subspan(first, m));
    s0 += g.s0;
    s1 += g.s1;
    first += m;
  }
  r.s0 = static_cast<float>(s0);
  r.s1 = static_cast<float>(s1);
  r.flag = s1 / nfree < s0 / (nfree + 1) ? 0 : -1;
  return r;
}

}  // namespace velmar
