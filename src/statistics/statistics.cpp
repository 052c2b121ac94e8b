#include "statistics/statistics.hpp"

#include <algorithm>
#include <cmath>

#include "common/error.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/shell_count.hpp"

namespace velmar {
namespace {

constexpr float kHalfPi = 1.570796f;
constexpr float kUndefinedR = -99.9f;

// Two-sided 0.1 % points of Student's t for 1..30 degrees of freedom.
constexpr float kStudentT[30] = {636.6f, 31.6f,  12.92f, 8.61f,  6.869f, 5.959f, 5.408f, 5.041f, 4.781f, 4.587f,
                                 4.437f, 4.318f, 4.221f, 4.14f,  4.073f, 4.015f, 3.965f, 3.922f, 3.883f, 3.85f,
                                 3.819f, 3.792f, 3.767f, 3.745f, 3.725f, 3.707f, 3.69f,  3.674f, 3.659f, 3.646f};

float percent_or_undefined(float num, float den) { return den > 0.0f ? 100.0f * num / den : kUndefinedR; }

// Work arrays of one reflection, allocated once per output group.
struct Workspace {
  Equivalents eq;
  std::vector<float> expected;
  std::vector<int32_t> scratch;
  explicit Workspace(int capacity)
      : eq(capacity), expected(eq.capacity()), scratch(eq.capacity()) {}
};

struct GroupSetup {
  int mode = 0;
  float wfac = 0.0f;
  std::vector<int> set_position;  // per data set: position in the group, -1 when not in it
};

HalfSets half_sets(int parity, Workspace& ws, RandomState& rng) {
  return ransplit(parity, ws.eq.isym_list(), ws.eq.intensity_list(), ws.eq.sigma_list(), ws.scratch, rng);
}

// Shell sums of one parity class that passed the -3 sigma test.
void add_class_to_shell(ShellSums& s, const Equivalents& eq, std::span<const float> e, int t,
                        const RejectResult& r, const HalfSets& hs) {
  ++s.unique;
  s.sum_i_over_sigma += r.mean / r.sigma;
  if (hs.m >= 2) {
    s.half.add(hs.i1, hs.i2);
    ++s.half_pairs;
  }
  s.observed += r.m;
  if (r.m < 2) return;
  const float meas = std::sqrt(static_cast<float>(r.m) / static_cast<float>(r.m - 1));
  for (size_t i = 0; i < eq.n; ++i) {
    if (t * eq.isym[i] < 0 || !(eq.sigma[i] > 0.0f)) continue;
    const float dev = std::fabs(eq.intensity[i] - r.mean);
    s.sum_i += eq.intensity[i];
    s.sum_dev += dev;
    s.sum_dev_meas += meas * dev;
    s.sum_expected += e[i];
    ++s.compared;
  }
}

void add_class_to_sets(GroupStatistics& st, const GroupSetup& g, size_t row, const Equivalents& eq,
                       std::span<const float> e, int t, const RejectResult& r) {
  for (size_t i = 0; i < eq.n; ++i) {
    if (t * eq.isym[i] < 0 || !(eq.sigma[i] > 0.0f)) continue;
    const auto pos = static_cast<size_t>(g.set_position[static_cast<size_t>(eq.set[i])]);
    SetShellSums& s = st.set_shell[pos * st.rows() + row];
    s.sum_i += eq.intensity[i];
    s.sum_dev += std::fabs(eq.intensity[i] - r.mean);
    s.sum_expected += e[i];
    ++s.compared;
  }
}

// Amplitude and its sigma from a half-set intensity pair (double precision: for a strong
// intensity with a small sigma, sqrt(I + sigma) - sqrt(I) vanishes in single precision).
void amplitude(const HalfSets& h, double& f, double& sigma_f) {
  const double i = std::max(0.0, 0.5 * (static_cast<double>(h.i1) + h.i2));
  const double sigma_i = 0.5 * std::sqrt(static_cast<double>(h.sigma1) * h.sigma1 + static_cast<double>(h.sigma2) * h.sigma2);
  f = std::sqrt(i);
  sigma_f = std::sqrt(i + sigma_i) - f;
}

// Anomalous signal of one reflection from random half sets of each parity (`anosig`).
// `last` is the rejection result of the class processed last.
void anosig(ShellSums& s, Workspace& ws, const RejectResult& last, RandomState& rng) {
  const HalfSets p = half_sets(+1, ws, rng);
  const HalfSets q = half_sets(-1, ws, rng);
  if (p.m < 2 || q.m < 2) return;
  const float w = 1.0f / (p.sigma1 * p.sigma1 + p.sigma2 * p.sigma2 + q.sigma1 * q.sigma1 + q.sigma2 * q.sigma2 +
                          0.0025f * (p.i1 * p.i1 + p.i2 * p.i2 + q.i1 * q.i1 + q.i2 * q.i2));
  double fp = 0.0, sfp = 0.0, fm = 0.0, sfm = 0.0;
  amplitude(p, fp, sfp);
  amplitude(q, fm, sfm);
  const double term = std::fabs(fp - fm) / std::sqrt(sfp * sfp + sfm * sfm);
  if (!above_noise_floor(last)) return;
  s.anomalous.add(p.i1 - q.i1, p.i2 - q.i2, w);
  s.anomalous.add(p.i1 - q.i2, p.i2 - q.i1, w);
  s.sigano += term;
  ++s.nano;
}

// All parity classes of reflection u (already gathered into ws.eq), then its anomalous signal.
void accumulate_reflection(GroupStatistics& st, const GroupSetup& g, size_t row, Workspace& ws, RandomState& rng) {
  ShellSums& s = st.shell[row];
  Equivalents& eq = ws.eq;
  RejectResult last;
  int kept = 0;
  for (const int t : parity_classes(g.mode)) {
    last = reject_class(t, eq, g.wfac);
    kept += last.m;
    if (last.m >= 2) rest(t, eq, ws.expected);
    const HalfSets hs = half_sets(t, ws, rng);
    if (above_noise_floor(last)) add_class_to_shell(s, eq, ws.expected, t, last, hs);
    if (last.m >= 2) add_class_to_sets(st, g, row, eq, ws.expected, t, last);
  }
  if (kept > 0) anosig(s, ws, last, rng);
}

void add_totals(GroupStatistics& st) {
  const size_t total = st.rows() - 1;
  for (size_t i = 0; i < total; ++i) st.shell[total].add(st.shell[i]);
  for (size_t p = 0; p < st.sets.size(); ++p)
    for (size_t i = 0; i < total; ++i) st.set_shell[p * st.rows() + total].add(st.set_shell[p * st.rows() + i]);
}

}  // namespace

void CorrelationSums::add(double xi, double yi, double wi) {
  w += wi;
  x += wi * xi;
  y += wi * yi;
  xx += wi * xi * xi;
  xy += wi * xi * yi;
  yy += wi * yi * yi;
}

void CorrelationSums::add(const CorrelationSums& o) {
  w += o.w;
  x += o.x;
  y += o.y;
  xx += o.xx;
  xy += o.xy;
  yy += o.yy;
}

bool CorrelationSums::correlation(double& r) const {
  if (!(w > 0.0)) return false;
  const double mx = x / w, my = y / w;
  const double vx = xx / w - mx * mx, vy = yy / w - my * my;
  if (!(vx > 0.0) || !(vy > 0.0)) return false;
  r = (xy / w - mx * my) / std::sqrt(vx * vy);
  return true;
}

void ShellSums::add(const ShellSums& o) {
  observed += o.observed;
  unique += o.unique;
  possible += o.possible;
  compared += o.compared;
  sum_i += o.sum_i;
  sum_dev += o.sum_dev;
  sum_dev_meas += o.sum_dev_meas;
  sum_expected += o.sum_expected;
  sum_i_over_sigma += o.sum_i_over_sigma;
  half.add(o.half);
  half_pairs += o.half_pairs;
  anomalous.add(o.anomalous);
  sigano += o.sigano;
  nano += o.nano;
}

void SetShellSums::add(const SetShellSums& o) {
  sum_i += o.sum_i;
  sum_dev += o.sum_dev;
  sum_expected += o.sum_expected;
  compared += o.compared;
}

float ccmin(int64_t n) {
  if (n <= 2) return 1.001f;
  const float t = n <= 30 ? kStudentT[n - 3] : 3.646f;
  const float r = t / std::sqrt(t * t + static_cast<float>(n - 2));
  return std::max(r, 0.1f);
}

ShellValues shell_values(const ShellSums& s) {
  ShellValues v;
  v.completeness = s.possible > 0 ? 100.0f * static_cast<float>(s.unique) / static_cast<float>(s.possible)
                                  : kUndefinedR;
  v.r_observed = percent_or_undefined(s.sum_dev, s.sum_i);
  v.r_expected = percent_or_undefined(s.sum_expected, s.sum_i);
  v.r_meas = percent_or_undefined(s.sum_dev_meas, s.sum_i);
  v.i_over_sigma = s.sum_i > 0.0f && s.unique > 0 ? s.sum_i_over_sigma / static_cast<float>(s.unique) : -99.0f;
  double r = 0.0;
  if (s.half_pairs >= 2 && s.half.correlation(r)) {
    v.cc_half = static_cast<float>(100.0 * r);
    v.cc_mark = r > ccmin(s.half_pairs) ? '*' : ' ';
  } else {
    v.cc_half = kUndefinedR;
  }
  if (s.nano >= 2 && s.anomalous.correlation(r)) {
    v.anomal_corr = static_cast<int>(std::lround(100.0 * r));
    v.anomal_mark = r > ccmin(s.nano) ? '*' : ' ';
  } else {
    v.anomal_corr = -99;
  }
  v.sigano = s.nano > 0 ? static_cast<float>(s.sigano / static_cast<double>(s.nano)) : 0.0f;
  return v;
}

SetShellValues set_shell_values(const SetShellSums& s) {
  return {percent_or_undefined(s.sum_dev, s.sum_i), percent_or_undefined(s.sum_expected, s.sum_i)};
}

void rest(int t, const Equivalents& eq, std::span<float> e) {
  double w = 0.0;
  for (size_t i = 0; i < eq.n; ++i)
    if (t * eq.isym[i] >= 0 && eq.sigma[i] > 0.0f) w += 1.0 / (static_cast<double>(eq.sigma[i]) * eq.sigma[i]);
  if (!(w > 0.0)) return;
  double others = 0.0;  // sum over all accepted j of (1/(sigma_j W))^2
  for (size_t i = 0; i < eq.n; ++i) {
    if (t * eq.isym[i] < 0 || !(eq.sigma[i] > 0.0f)) continue;
    const double a = 1.0 / (eq.sigma[i] * w);
    others += a * a;
  }
  for (size_t i = 0; i < eq.n; ++i) {
    if (t * eq.isym[i] < 0 || !(eq.sigma[i] > 0.0f)) continue;
    const double s = eq.sigma[i];
    const double a = 1.0 / (s * w);
    const double v = std::max(0.0, (s - a) * (s - a) + others - a * a);
    e[i] = static_cast<float>(std::sqrt(v / kHalfPi));
  }
}

int shell_index(float ss, std::span<const float> shells) {
  for (size_t i = 0; i < shells.size(); ++i)
    if (within_limit(ss, shell_limit_ss(shells[i]))) return static_cast<int>(i);
  return -1;
}

std::vector<int64_t> possible_reflections(std::span<const Symop> ops, const Cell& cell,
                                          std::span<const float> shells, bool friedel_law) {
  const Mat3 b = reciprocal_basis(cell);
  std::vector<int64_t> possible(shells.size(), 0);
  for (size_t i = 0; i < shells.size(); ++i) {
    const float s1 = i == 0 ? 0.0f : shell_limit_ss(shells[i - 1]);
    const float s2 = shell_limit_ss(shells[i]);
    const ShellCount c = nuhkl(s1, s2, ops, b);
    if (c.n > 0) possible[i] = friedel_law ? c.n : 2 * c.n - c.centric;
  }
  return possible;
}

GroupStatistics shell_statistics(const ScaledData& data, int group, std::span<const float> shells,
                                 RandomState& rng) {
  const ControlTables& t = data.tables;
  GroupSetup g;
  g.mode = t.groups[static_cast<size_t>(group - 1)].mode;
  g.wfac = t.run.wfac1;
  GroupStatistics st;
  st.sets = group_sets(t, group);
  g.set_position.assign(t.sets.size(), -1);
  for (size_t p = 0; p < st.sets.size(); ++p) g.set_position[static_cast<size_t>(st.sets[p])] = static_cast<int>(p);
  st.shell.assign(shells.size() + 1, ShellSums{});
  st.set_shell.assign(st.sets.size() * st.rows(), SetShellSums{});
  const std::vector<int64_t> possible = possible_reflections(t.ops, t.run.cell, shells, g.mode == 1 || g.mode == -1);
  for (size_t i = 0; i < shells.size(); ++i) st.shell[i].possible = possible[i];
  Workspace ws(data.unique.max_observations);
  for (size_t u = 0; u < data.unique.size(); ++u) {
    const int row = shell_index(data.unique.ss[u], shells);
    if (row < 0) continue;
    if (!gather_equivalents(data.unique, data.obs, st.sets, u, ws.eq)) assert_violation("RSTAT");
    if (ws.eq.n > 0) accumulate_reflection(st, g, static_cast<size_t>(row), ws, rng);
  }
  add_totals(st);
  return st;
}

}  // namespace velmar
