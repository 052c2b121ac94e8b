// Moments of ln J for a truncated normal J, against an independent fine quadrature.
#include "zerodose/log_moments.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace velmar {
namespace {

// Mean and sd of u = ln J over J > 0 with J ~ N(I, sigma^2): the density of u is
// e^u exp(-(e^u - I)^2/(2 sigma^2)); a trapezoid rule on a fixed fine grid wide enough for
// every case below (from e^-40 sigma up to I + 15 sigma) is accurate far beyond the tolerance.
std::pair<double, double> reference_moments(double intensity, double sigma) {
  const int points = 120000;
  const double lo = std::log(sigma) - 40.0, hi = std::log(std::max(intensity, 0.0) + 15.0 * sigma);
  const double h = (hi - lo) / points;
  std::vector<double> logd(points + 1);
  for (size_t k = 0; k < logd.size(); ++k) {
    const double d = std::exp(lo + double(k) * h) - intensity;
    logd[k] = lo + double(k) * h - d * d / (2.0 * sigma * sigma);
  }
  const double top = *std::max_element(logd.begin(), logd.end());
  double s0 = 0.0, s1 = 0.0, s2 = 0.0;
  for (size_t k = 0; k < logd.size(); ++k) {
    const double u = lo + double(k) * h, p = std::exp(logd[k] - top);
    s0 += p, s1 += p * u, s2 += p * u * u;
  }
  return {s1 / s0, std::sqrt(s2 / s0 - s1 / s0 * s1 / s0)};
}

// Errors allowed, in units of the true sd. For I/sigma below about 4 the density of ln J is
// a sharp peak with a long shoulder towards small J, and 28 Simpson intervals spanning both
// give the moments to about 1 % (largest near I/sigma = 2 to 3: 0.6 % in the mean, 1.4 % in
// the sd); from I/sigma = 5 on the peak is resolved and both are good to 2e-4.
TEST(Trunclg, AgreesWithDirectIntegration) {
  for (double sigma : {0.25, 40.0, 5000.0})
    for (double ratio : {-3.0, -2.0, -1.0, -0.5, 0.0, 0.5, 1.0, 2.0, 3.0, 5.0, 10.0, 30.0, 100.0, 300.0, 1000.0}) {
      const auto [mean, sd] = reference_moments(ratio * sigma, sigma);
      const LogMoments got = trunclg(static_cast<float>(ratio * sigma), static_cast<float>(sigma));
      const double float_rounding = 2.5e-7 * std::fabs(mean);
      EXPECT_LT(std::max(std::fabs(got.mean - mean) - float_rounding, 0.0) / sd, ratio >= 5 ? 3e-4 : 8e-3)
          << "I/sigma " << ratio << " sigma " << sigma << ": " << got.mean << " vs " << mean;
      EXPECT_LT(std::fabs(got.sd - sd) / sd, ratio >= 5 ? 1e-3 : 1.6e-2)
          << "I/sigma " << ratio << " sigma " << sigma << ": " << got.sd << " vs " << sd;
    }
}

// Far beyond the range of measured data the moments stay finite and approach their limits:
// ln I with sd sigma/I for strong reflections, ln(sigma^2/|I|) - gamma with sd pi/sqrt(6)
// (an exponential J of mean sigma^2/|I|) for very negative ones.
TEST(Trunclg, ExtremeRatios) {
  const double euler_gamma = 0.5772156649015329;
  const LogMoments strong = trunclg(1e8f, 1.0f);
  EXPECT_NEAR(strong.mean, std::log(1e8), 1e-6 * std::log(1e8));
  EXPECT_NEAR(strong.sd, 1e-8, 1e-10);
  for (double ratio : {-1e6, -1e9}) {
    const LogMoments negative = trunclg(static_cast<float>(ratio), 1.0f);
    EXPECT_NEAR(negative.mean, std::log(-1 / ratio) - euler_gamma, 5e-3) << ratio;
    EXPECT_NEAR(negative.sd, M_PI / std::sqrt(6.0), 1e-2) << ratio;
  }
}

}  // namespace
}  // namespace velmar
