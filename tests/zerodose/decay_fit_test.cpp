// Decay lines with a common slope, the Student series and the significance test of a slope.
#include "zerodose/decay_fit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

namespace velmar {
namespace {

struct FitCase {
  const char* what;
  std::vector<int> n;
  std::vector<float> w, x, y;
  LineFit expected;
  std::vector<float> a, sd_a;
};

TEST(Fitlines, HandSolvedSystems) {
  const std::vector<FitCase> cases = {
      // (0,0) (1,1) (2,3), weights 1 1 2: W = 4, xm = 5/4, ym = 7/4; Sxx = 2.75, Sxy = 4.25, Syy = 6.75.
      // slope = 17/11, corr = 4.25/sqrt(2.75*6.75), sd_slope = sqrt((6.75 - 4.25^2/2.75)/2.75),
      // a = 7/4 - (17/11)(5/4) = -2/11, sd_a = sqrt((1.25 sd_slope)^2 + 1/4).
      {"one weighted group", {3}, {1, 1, 2}, {0, 1, 2}, {0, 1, 3}, {1.545455f, 0.257130f, 0.986440f, 1},
       {-0.181818f}, {0.594396f}},
      // Groups (0,0) (1,1) (2,3) and (0,5) (2,6): pooled Sxx = 4, Sxy = 4, Syy = 31/6: slope = 1,
      // NFREE = 5 - 2 - 1 = 2, sd_slope^2 = 7/48; a = (1/3, 4.5), sd_a = sqrt(7/48 + 1/W_g).
      {"two groups, one of two points", {3, 2}, {1, 1, 1, 1, 1}, {0, 1, 2, 0, 2}, {0, 1, 3, 5, 6},
       {1.0f, 0.381881f, 0.879883f, 2}, {0.333333f, 4.5f}, {0.692219f, 0.803638f}},
      // y = 1 + 2x exactly: corr 1 -> 0.9999, sd_slope = sqrt(8 (1 - 0.9999^2)/2).
      {"perfect line: corr clamped", {3}, {1, 1, 1}, {0, 1, 2}, {1, 3, 5}, {2.0f, 0.0282825f, 0.9999f, 1}, {1.0f},
       {0.578044f}},
      {"falling perfect line: clamped to -0.9999", {3}, {1, 1, 1}, {0, 1, 2}, {5, 3, 1},
       {-2.0f, 0.0282825f, -0.9999f, 1}, {5.0f}, {0.578044f}},
      // Exactly NG + 1 points: NFREE = 0; corr holds sqrt(Sxx Syy) = sqrt(0.5 * 0.5).
      {"NFREE = 0 with NG + 1 points", {2}, {1, 1}, {0, 1}, {1, 2}, {0, 0, 0.5f, 0}, {0}, {0}},
      {"group of zero weight", {2, 2}, {1, 1, 0, 0}, {0, 1, 0, 1}, {1, 2, 1, 2}, {0, 0, 0, 0}, {0, 0}, {0, 0}},
      {"group without points", {3, 0}, {1, 1, 1}, {0, 1, 2}, {0, 1, 3}, {0, 0, 0, 0}, {0, 0}, {0, 0}},
      {"no spread in x: Sxx = 0", {3}, {1, 1, 1}, {4, 4, 4}, {0, 1, 3}, {0, 0, 0, 0}, {0}, {0}},
  };
  for (const FitCase& c : cases) {
    std::vector<float> a(c.n.size(), 99.0f), sd_a(c.n.size(), 99.0f);
    const LineFit fit = fitlines(c.n, c.w, c.x, c.y, a, sd_a);
    EXPECT_NEAR(fit.slope, c.expected.slope, 2e-6) << c.what;
    EXPECT_NEAR(fit.sd_slope, c.expected.sd_slope, 2e-6) << c.what;
    EXPECT_NEAR(fit.corr, c.expected.corr, 2e-6) << c.what;
    EXPECT_EQ(fit.nfree, c.expected.nfree) << c.what;
    for (size_t g = 0; g < c.n.size(); ++g) {
      EXPECT_NEAR(a[g], c.a[g], 2e-6) << c.what << " group " << g;
      EXPECT_NEAR(sd_a[g], c.sd_a[g], 2e-6) << c.what << " group " << g;
    }
  }
}

// A(t|nu) = 2 * integral from 0 to t of the Student density, by Simpson's rule.
double student_integral(double t, int nu) {
  const double v = nu, norm = std::exp(std::lgamma((v + 1) / 2) - std::lgamma(v / 2)) / std::sqrt(v * M_PI);
  const int intervals = 20000;
  double sum = 0.0;
  for (int k = 0; k <= intervals; ++k) {
    const double s = k * t / intervals, weight = (k == 0 || k == intervals) ? 1 : (k % 2 ? 4 : 2);
    sum += weight * norm * std::pow(1 + s * s / v, -(v + 1) / 2);
  }
  return 2 * sum * t / intervals / 3;
}

TEST(StudentSeries, AgreesWithIntegratedDensity) {
  for (int nu : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 24, 51, 100})
    for (double t : {0.05, 0.5, 1.0, 1.7, 2.5, 4.0, 12.0}) {
      EXPECT_NEAR(student_a(t, nu), student_integral(t, nu), 1e-6) << "nu " << nu << " t " << t;
      EXPECT_NEAR(student_p(t, nu), 0.5 * (1 - student_integral(t, nu)), 1e-6) << "nu " << nu << " t " << t;
    }
}

// Points for hyptest: intensities decaying as exp(-rate x) from 100 (group 1, x = 0..3) and
// 50 (group 2, x = 1, 2, 4), sigma 1.
struct Points {
  std::vector<int> n{4, 3};
  std::vector<float> x{0, 1, 2, 3, 1, 2, 4}, i, s = std::vector<float>(7, 1.0f), f = std::vector<float>(7, 7.0f);
  explicit Points(float rate = 0.1f) {
    for (size_t k = 0; k < x.size(); ++k) i.push_back((k < 4 ? 100.0f : 50.0f) * std::exp(-rate * x[k]));
  }
  DecayTest test(float level, float slope, float corr, int nfree) { return hyptest(level, slope, corr, nfree, n, x, i, s, f); }
};

TEST(Hyptest, StudentProbabilityForOneAndTwoDegreesOfFreedom) {
  Points p;
  for (float corr : {-0.3f, 0.6f, -0.95f}) {
    // NFREE = 1: t = |r|/sqrt(1 - r^2), theta = atan(t) = asin|r|, A = theta/1.570796.
    EXPECT_NEAR(p.test(1.0f, -0.1f, corr, 1).p, 0.5 * (1 - std::asin(std::fabs(corr)) / 1.570796), 1e-6) << corr;
    // NFREE = 2: theta = atan(|r|/sqrt(1 - r^2)), A = sin(theta) = |r|.
    EXPECT_NEAR(p.test(1.0f, -0.1f, corr, 2).p, 0.5 * (1 - std::fabs(corr)), 1e-6) << corr;
  }
}

// Accepted corrections. Decay -0.1 tested at slope -0.1: c = 1; S0 about the group means
// 86.6097 and 39.8981. Decay -0.25 at slope -0.5 with x up to 4: |slope| xmax = 2, c = 1/2,
// the damped slope is the decay; S0 about 71.4424 and 29.2202. S1 = 0 in both.
TEST(Hyptest, AcceptedCorrectionRemovesTheDecay) {
  for (const auto& [rate, slope, c, s0] : {std::tuple{0.1f, -0.1f, 1.0f, 444.057f}, {0.25f, -0.5f, 0.5f, 1772.214f}}) {
    Points p(rate);
    const DecayTest r = p.test(0.05f, slope, -0.99f, 5);
    EXPECT_EQ(std::tie(r.flag, r.c), std::tuple(0, c)) << rate;
    EXPECT_NEAR(r.s0, s0, 0.01) << rate;
    EXPECT_NEAR(r.s1, 0.0, 1e-6) << rate;
    for (size_t k = 0; k < p.f.size(); ++k) EXPECT_NEAR(p.f[k], std::exp(rate * p.x[k]), 1e-5) << rate << " " << k;
  }
}

TEST(Hyptest, ProbabilityEqualToTheLevelIsSignificant) {
  Points p;
  const float p_of_slope = p.test(1.0f, -0.1f, -0.9f, 5).p;
  const DecayTest at_level = p.test(p_of_slope, -0.1f, -0.9f, 5);
  EXPECT_EQ(at_level.flag, 0);
  EXPECT_GT(at_level.s0, 0.0f);
  const DecayTest above = p.test(std::nextafter(p_of_slope, 0.0f), -0.1f, -0.9f, 5);
  EXPECT_EQ(std::tie(above.flag, above.p, above.s0, above.s1, above.c), std::tuple(-1, p_of_slope, 0.0f, 0.0f, 1.0f));
  EXPECT_EQ(p.f, std::vector<float>(p.f.size(), 1.0f));
}

TEST(Hyptest, RefusedWhenTheFitDoesNotImprove) {
  // One group, sigma 1, NFREE = 1, slope -0.03 (F = e^0.03x), x = 0, 1, 2. I = (10, 10.4, 9.4):
  // S0 = 0.506667, corrected S1 = 0.3309: lower, but not per degree of freedom (0.3309/1 >=
  // 0.5067/2): refused. I = (10, 10, 9.4): S0 = 0.24, S1 = 0.0618: accepted. Equal intensities
  // at one dose: S0 = S1 = 0, no improvement: refused.
  const std::vector<int> n = {3};
  const std::vector<float> s = {1, 1, 1};
  using V = std::vector<float>;
  for (const auto& [x, i, s0, s1, flag] : {std::tuple{V{0, 1, 2}, V{10, 10.4f, 9.4f}, 0.506667f, 0.3309f, -1},
                                          {{0, 1, 2}, {10, 10, 9.4f}, 0.24f, 0.0618f, 0}, {{1, 1, 1}, {10, 10, 10}, 0, 0, -1}}) {
    std::vector<float> fk(3);
    const DecayTest t = hyptest(0.5f, -0.03f, -0.9f, 1, n, x, i, s, fk);
    EXPECT_EQ(t.flag, flag) << i[1];
    EXPECT_NEAR(t.s0, s0, 1e-4) << i[1];
    EXPECT_NEAR(t.s1, s1, 1e-4) << i[1];
  }
}

TEST(Hyptest, NothingToTest) {
  for (const auto& [corr, nfree] : {std::pair{0.0f, 5}, {1.0f, 5}, {-1.0f, 5}, {1.5f, 5}, {-0.99f, 0}, {-0.99f, -1},
                                    {std::numeric_limits<float>::quiet_NaN(), 5}}) {
    Points p;
    const DecayTest r = p.test(0.05f, -0.1f, corr, nfree);
    EXPECT_EQ(std::tie(r.flag, r.c, r.p, r.s0, r.s1), std::tuple(-1, 1.0f, 1.0f, 0.0f, 0.0f)) << corr << " " << nfree;
    EXPECT_EQ(p.f, std::vector<float>(p.f.size(), 1.0f)) << corr << " " << nfree;
  }
  // At the clamp the statistic is finite and the slope very significant.
  const float p = Points().test(0.05f, -0.1f, -0.9999f, 5).p;
  EXPECT_TRUE(std::isfinite(p) && p < 1e-6f) << p;
}

}  // namespace
}  // namespace velmar
