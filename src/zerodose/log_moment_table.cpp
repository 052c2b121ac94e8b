#include "zerodose/log_moment_table.hpp"

#include <algorithm>
#include <cmath>

namespace velmar {
namespace {

constexpr double kTableMinRatio = -20.0;
constexpr double kTableMaxRatio = 2.0e6;
constexpr double kStep = 0.004;  // in v; interpolation error far below trunclg's own

// v = ln u with u = t/2 + sqrt((t/2)^2 + 1), formed without cancellation for t < 0.
double mode_log(double t) {
  const double root = std::sqrt(0.25 * t * t + 1.0);
  return std::log(t >= 0.0 ? 0.5 * t + root : 1.0 / (root - 0.5 * t));
}

}  // namespace

LogMomentTable log_moment_table() {
  LogMomentTable table;
  table.v_min = mode_log(kTableMinRatio);
  table.step = kStep;
  const auto nodes = static_cast<size_t>(std::ceil((mode_log(kTableMaxRatio) - table.v_min) / kStep)) + 1;
  table.mean_offset.resize(nodes);
  table.log_sd.resize(nodes);
  for (size_t k = 0; k < nodes; ++k) {
    const double v = table.v_min + static_cast<double>(k) * kStep;
    const LogMoments m = trunclg(static_cast<float>(2.0 * std::sinh(v)), 1.0f);
    table.mean_offset[k] = m.mean - v;
    table.log_sd[k] = std::log(static_cast<double>(m.sd));
  }
  return table;
}

LogMoments trunclg_lookup(const LogMomentTable& table, float intensity, float sigma) {
  if (!(sigma > 0.0f)) return trunclg(intensity, sigma);
  const double t = static_cast<double>(intensity) / sigma;
  if (!(t >= kTableMinRatio && t <= kTableMaxRatio) || table.log_sd.size() < 2) return trunclg(intensity, sigma);
  const double v = mode_log(t);
  const double position = (v - table.v_min) / table.step;
  const size_t last = table.log_sd.size() - 2;
  const size_t k = position <= 0.0 ? 0 : std::min(static_cast<size_t>(position), last);
  const double f = position - static_cast<double>(k);
  const double offset = table.mean_offset[k] + f * (table.mean_offset[k + 1] - table.mean_offset[k]);
  const double log_sd = table.log_sd[k] + f * (table.log_sd[k + 1] - table.log_sd[k]);
  return {static_cast<float>(offset + v + std::log(static_cast<double>(sigma))), static_cast<float>(std::exp(log_sd))};
}

}  // namespace velmar
