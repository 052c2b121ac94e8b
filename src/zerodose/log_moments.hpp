// Mean and standard deviation of the logarithm of a measured intensity: the points of the
// per-reflection decay lines are ln J, J being the true intensity, normally distributed about
// the measurement and known to be positive.
#pragma once

namespace velmar {

struct LogMoments {
  float mean = 0.0f;
  float sd = -1.0f;  // -1: no usable point
};

// Mean and standard deviation of ln J for J normal with mean I and standard deviation Sigma,
// truncated to J > 0, by Simpson's rule over the bulk of the density of ln(J/Sigma).
// Sigma <= 0, and an I/Sigma that is not a finite number, give (0, -1).
LogMoments trunclg(float intensity, float sigma);

}  // namespace velmar
