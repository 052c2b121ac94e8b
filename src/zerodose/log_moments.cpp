#include "zerodose/log_moments.hpp"

#include <array>
#include <cmath>

namespace velmar {
namespace {

constexpr int kIntervals = 28;       // Simpson intervals between the limits
constexpr double kCutoff = 10.0;     // limits where the density has fallen by e^-10
constexpr double kTolerance = 0.5;   // accepted |g + 10| at a limit
constexpr int kMaxSteps = 100;       // unit steps from the mode (about 11 are ever needed)
constexpr int kMaxRefinements = 200; // false-position steps (under 50 up to I/Sigma = 1e6)

// g(y) = y - (e^y - t)^2/2 - gmax, the logarithm of the density of y = ln(J/Sigma) relative
// to its maximum at y0 = ln u, where u = t/2 + sqrt((t/2)^2 + 1) and gmax = y0 - 1/(2u^2).
// Since u (u - t) = 1, gmax = y0 - (u - t)^2/2, and the difference of the two squares is
// taken as a product: the same function without the cancellation of t^2 against t^2.
struct LogDensity {
  double t, u, y0;

  explicit LogDensity(double ratio) : t(ratio), u(mode(ratio)), y0(std::log(u)) {}

  static double mode(double t) {
    const double root = std::sqrt(0.25 * t * t + 1.0);
    return t >= 0.0 ? 0.5 * t + root : 1.0 / (root - 0.5 * t);
  }
  double operator()(double y) const {
    const double e = std::exp(y);
    return (y - y0) - 0.5 * (e - u) * (e + u - 2.0 * t);
  }
};

// The point beyond the mode (direction +1 or -1) where g(y) + 10 = 0: unit steps from y0 until
// g(y) + 10 <= 0, then false-position steps inside the last step until |g + 10| < 0.5. When
// the same end of the bracket is kept twice in a row, the value at that end is halved
// (Illinois rule): on the steep side of a sharp density plain false position creeps towards
// the root in steps that shrink with I/Sigma, thousands of them for the strongest reflections.
double limit(const LogDensity& g, double direction) {
  double a = g.y0, fa = kCutoff;  // g(y0) = 0
  double b = a, fb = fa;
  for (int k = 1; k <= kMaxSteps; ++k) {
    b = g.y0 + direction * k;
    fb = g(b) + kCutoff;
    if (fb <= 0.0) break;
    a = b;
    fa = fb;
  }
  if (fb > 0.0) return b;
  int kept = 0;  // +1: a was replaced last, -1: b was
  double y = b;
  for (int k = 0; k < kMaxRefinements; ++k) {
    y = b - fb * (b - a) / (fb - fa);  // fa > 0 >= fb: y lies in the bracket
    const double fy = g(y) + kCutoff;
    if (std::fabs(fy) < kTolerance) break;
    if (fy > 0.0) {
      a = y;
      fa = fy;
      if (kept == +1) fb *= 0.5;
      kept = +1;
    } else {
      b = y;
      fb = fy;
      if (kept == -1) fa *= 0.5;
      kept = -1;
    }
  }
  return y;
}

}  // namespace

LogMoments trunclg(float intensity, float sigma) {
  if (!(sigma > 0.0f)) return {};
  const double t = static_cast<double>(intensity) / sigma;
  if (!std::isfinite(t)) return {};
  const LogDensity g(t);
  const double lower = limit(g, -1.0);
  const double upper = limit(g, +1.0);
  const double h = (upper - lower) / kIntervals;
  std::array<double, kIntervals + 1> y{}, weight{};
  double sum_w = 0.0, sum_wy = 0.0;
  for (int k = 0; k <= kIntervals; ++k) {
    const double simpson = (k == 0 || k == kIntervals) ? 1.0 : (k % 2 == 1 ? 4.0 : 2.0);
    const auto i = static_cast<size_t>(k);
    y[i] = lower + k * h;
    weight[i] = simpson * std::exp(g(y[i]));
    sum_w += weight[i];
    sum_wy += weight[i] * y[i];
  }
  const double m = sum_wy / sum_w;
  double sum_var = 0.0;
  for (size_t i = 0; i < y.size(); ++i) sum_var += weight[i] * (y[i] - m) * (y[i] - m);
  return {static_cast<float>(m + std::log(static_cast<double>(sigma))), static_cast<float>(std::sqrt(sum_var / sum_w))};
}

}  // namespace velmar
