#include "common/reject.hpp"

#include <cmath>

namespace velmar {
namespace {

bool selected(int t, int16_t isym) { return t * isym >= 0; }

struct WeightedSums {
  double w = 0, s = 0, q = 0;  // sum 1/s^2, sum y/s^2, sum y^2/s^2
  int m = 0;

  void add(float y, float sig, int sign) {
    const double wi = 1.0 / (static_cast<double>(sig) * sig);
    w += sign * wi;
    s += sign * wi * y;
    q += sign * wi * y * y;
    m += sign;
  }
};

// True while the scatter of the kept observations is below the scaled chi-square quantile.
bool scatter_acceptable(const WeightedSums& sums, float wc, int q) {
  const float nu = static_cast<float>(sums.m - 1);
  const float c = 1.0f - 2.0f / (9.0f * nu) + std::sqrt(2.0f / (9.0f * nu)) * XP[q - 1];
  const float chi2 = static_cast<float>(sums.q - sums.s * sums.s / sums.w);
  return chi2 < nu * wc * wc * c * c * c;
}

// The selected observation that fits the mean of the others worst; of equal scores the
// later one. Returns -1 when no observation qualifies.
long worst_observation(int t, std::span<const int16_t> isym, std::span<const float> y, std::span<const float> s,
                       const WeightedSums& sums) {
  long best = -1;
  float best_score = -1.0f;
  for (size_t k = 0; k < y.size(); ++k) {
    if (!selected(t, isym[k]) || s[k] <= 0.0f) continue;
    const double wk = 1.0 / (static_cast<double>(s[k]) * s[k]);
    const double w_others = sums.w - wk;
    if (w_others <= 0.0) continue;
    const double mean_others = (sums.s - y[k] * wk) / w_others;
    const double d = mean_others - y[k];
    const float score = static_cast<float>(d * d / (1.0 / w_others + static_cast<double>(s[k]) * s[k]));
    if (score >= best_score) {
      best_score = score;
      best = static_cast<long>(k);
    }
  }
  return best;
}

RejectResult fail(int t, std::span<const int16_t> isym, std::span<float> s) {
  for (size_t k = 0; k < s.size(); ++k)
    if (selected(t, isym[k])) s[k] = -std::fabs(s[k]);
  return {};
}

}  // namespace

RejectResult reject(int t, std::span<const int16_t> isym, std::span<const float> y, std::span<float> s,
                    float wc, int q) {
  if (y.empty()) return {};
  WeightedSums sums;
  for (size_t k = 0; k < y.size(); ++k)
    if (selected(t, isym[k]) && s[k] > 0.0f) sums.add(y[k], s[k], +1);
  const int m0 = sums.m;
  if (sums.w <= 0.0) return fail(t, isym, s);
  while (sums.m > 1 && wc > 0.0f && !scatter_acceptable(sums, wc, q)) {
    const long k = worst_observation(t, isym, y, s, sums);
    if (k < 0) return fail(t, isym, s);
    const size_t i = static_cast<size_t>(k);
    sums.add(y[i], s[i], -1);
    s[i] = -s[i];
    if (sums.w <= 0.0) return fail(t, isym, s);
  }
  if (sums.m != m0 && sums.m < 2) return fail(t, isym, s);
  return {static_cast<float>(sums.s / sums.w), static_cast<float>(1.0 / std::sqrt(sums.w)), sums.m};
}

}  // namespace velmar
