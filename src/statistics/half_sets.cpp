#include "statistics/half_sets.hpp"

#include <cmath>
#include <utility>

namespace velmar {
namespace {

constexpr int64_t kModulus1 = 2147483563, kMultiplier1 = 40014;
constexpr int64_t kModulus2 = 2147483399, kMultiplier2 = 40692;
constexpr int32_t kWrap = 2147483562;
constexpr float kScale = 4.656613e-10f;

struct HalfSums {
  double w = 0.0, wi = 0.0;
  void add(float i, float s) {
    const double wt = 1.0 / (static_cast<double>(s) * s);
    w += wt;
    wi += wt * i;
  }
};

}  // namespace

float lecuyer_uniform(RandomState& state) {
  state.s1 = static_cast<int32_t>(kMultiplier1 * state.s1 % kModulus1);
  state.s2 = static_cast<int32_t>(kMultiplier2 * state.s2 % kModulus2);
  int32_t z = state.s1 - state.s2;
  if (z < 1) z += kWrap;
  return static_cast<float>(z) * kScale;
}

HalfSets ransplit(int parity, std::span<const int16_t> isym, std::span<const float> intensity,
                  std::span<const float> sigma, std::span<int32_t> scratch, RandomState& state) {
  HalfSets h;
  int m = 0;
  for (size_t i = 0; i < isym.size(); ++i)
    if (isym[i] * parity >= 0 && sigma[i] > 0.0f) scratch[static_cast<size_t>(m++)] = static_cast<int32_t>(i);
  h.m = m;
  if (m < 2) return h;
  for (int i = 1; i < m; ++i) {  // 1-based positions i and i + nint(r (m - i))
    const float r = lecuyer_uniform(state);
    const long j = i + std::lround(r * static_cast<float>(m - i));
    std::swap(scratch[static_cast<size_t>(i - 1)], scratch[static_cast<size_t>(j - 1)]);
  }
  HalfSums first, second;
  for (int k = 0; k < m; ++k) {
    const auto p = static_cast<size_t>(scratch[static_cast<size_t>(k)]);
    (k < m / 2 ? first : second).add(intensity[p], sigma[p]);
  }
  h.i1 = static_cast<float>(first.wi / first.w);
  h.sigma1 = static_cast<float>(1.0 / std::sqrt(first.w));
  h.i2 = static_cast<float>(second.wi / second.w);
  h.sigma2 = static_cast<float>(1.0 / std::sqrt(second.w));
  return h;
}

}  // namespace velmar
