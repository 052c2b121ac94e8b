// Decay lines of a reflection and their significance: weighted straight lines ln I = a_g + b x
// with one intercept per group of points and a common slope, the Student test of the slope,
// and the correction factors exp(-b x) with the check that they improve the agreement.
#pragma once

#include <span>

namespace velmar {

// A(t|nu): the probability that a Student-distributed variable with nu >= 1 degrees of
// freedom lies within (-t, t), by the finite series in cos(theta), theta = atan(t/sqrt(nu)).
double student_a(double t, int nu);
// The one-sided probability (1 - A(t|nu))/2 of a value at least as large as t.
double student_p(double t, int nu);

struct LineFit {
  float slope = 0.0f;
  float sd_slope = 0.0f;
  float corr = 0.0f;  // when nfree < 1 it holds sqrt(Sxx Syy) instead: test nfree first
  int nfree = 0;      // points - groups - 1; 0 when the fit is not possible
};

// Weighted least-squares lines y = a_g + slope*x for the groups of points, group g holding the
// next n[g] entries of w, x and y, with one common slope. a and sd_a (one per group) are
// zero unless a slope was fitted. A group without points or without positive weight makes
// the whole fit impossible (everything zero).
LineFit fitlines(std::span<const int> n, std::span<const float> w, std::span<const float> x,
                 std::span<const float> y, std::span<float> a, std::span<float> sd_a);

struct DecayTest {
  float c = 1.0f;   // damping of the slope, at most 1
  float p = 1.0f;   // one-sided probability of a slope at least this large when it is zero
  float s0 = 0.0f;  // chi-square of the points about their group means, uncorrected
  float s1 = 0.0f;  // the same after correction
  int flag = -1;    // 0: the correction is accepted, -1: rejected
};

// Tests the fitted slope (with its corr and nfree from fitlines) at the significance `level`:
// when p <= level, the correction factors f[k] = exp(-c*slope*x[k]) of the points (groups as
// in fitlines; intensities i, standard deviations sigma > 0) are formed, c limiting the
// largest exponent to 1 in magnitude, and accepted if they lower the chi-square per degree
// of freedom of the points about their group means. f is all 1 unless the slope is
// significant.
DecayTest hyptest(float level, float slope, float corr, int nfree, std::span<const int> n,
                  std::span<const float> x, std::span<const float> i, std::span<const float> sigma,
                  std::span<float> f);

}  // namespace velmar
