// The outlier test of equivalent observations, shared by scaling, error model and output.
#pragma once

#include <cstdint>
#include <span>

namespace velmar {

// Normal quantiles XP(q), q = 1..3: the one-sided 1 %, 0.5 % and 0.1 % points.
inline constexpr float XP[3] = {2.32635f, 2.57583f, 3.09023f};

struct RejectResult {
  float mean = -1.0f;
  float sigma = -1.0f;  // of the mean
  int m = 0;            // observations kept
};

// Removes the worst-fitting observation of the selected set (t * isym >= 0) one at a time
// while the weighted scatter of the rest exceeds the chi-square quantile (Wilson-Hilferty,
// quantile index q = 1..3) scaled by wc^2, and returns the weighted mean of what remains.
// Rejected observations get their sigma negated in `s`; when the test fails, every selected
// observation does, and the result is (-1, -1, 0). wc <= 0 switches rejection off.
RejectResult reject(int t, std::span<const int16_t> isym, std::span<const float> y, std::span<float> s,
                    float wc, int q);

}  // namespace velmar
