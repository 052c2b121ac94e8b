// Shell statistics on small hand-made data sets, recomputed here from their definitions:
// completeness, R-factors, R-meas, I/sigma, CC(1/2) and the anomalous signal, per shell
// and per input data set; the -3 sigma subset, shells, ccmin and the half-set generator.
#include "statistics/statistics.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>
#include <vector>

#include "common/error.hpp"
#include "statistics/scaled_data.hpp"

namespace velmar {
namespace {

using testing::make_run;
using testing::Measured;
using testing::TestRun;

// L'Ecuyer's generator by Schrage's decomposition in 32-bit arithmetic.
struct SchrageGenerator {
  int32_t s1 = 2147483562, s2 = 2147483398;
  float next() {
    int32_t k = s1 / 53668;
    s1 = 40014 * (s1 - k * 53668) - k * 12211;
    if (s1 < 0) s1 += 2147483563;
    k = s2 / 52774;
    s2 = 40692 * (s2 - k * 52774) - k * 3791;
    if (s2 < 0) s2 += 2147483399;
    int32_t z = s1 - s2;
    if (z < 1) z += 2147483562;
    return static_cast<float>(z) * 4.656613e-10f;
  }
};

// One observation of a parity class, in the order the classes are gathered (data set, then
// isym within a data set).
struct Obs {
  int set;
  int h, k, l;
  float i, sigma;
};

struct Reflection {
  std::vector<Obs> minus, plus;
};

struct Halves {
  double i1 = 0, s1 = -1, i2 = 0, s2 = -1;
  int m = 0;
};

Halves split(const std::vector<Obs>& cls, SchrageGenerator& rng) {
  std::vector<Obs> v;
  for (const Obs& o : cls)
    if (o.sigma > 0) v.push_back(o);
  Halves h;
  h.m = static_cast<int>(v.size());
  if (h.m < 2) return h;
  for (int i = 1; i < h.m; ++i) {
    const float r = rng.next();
    const int j = i + static_cast<int>(std::lround(r * static_cast<float>(h.m - i)));
    std::swap(v[static_cast<size_t>(i - 1)], v[static_cast<size_t>(j - 1)]);
  }
  double w1 = 0, wi1 = 0, w2 = 0, wi2 = 0;
  for (int k = 0; k < h.m; ++k) {
    const double w = 1.0 / (double(v[size_t(k)].sigma) * v[size_t(k)].sigma);
    (k < h.m / 2 ? w1 : w2) += w;
    (k < h.m / 2 ? wi1 : wi2) += w * v[size_t(k)].i;
  }
  h.i1 = wi1 / w1, h.s1 = 1 / std::sqrt(w1), h.i2 = wi2 / w2, h.s2 = 1 / std::sqrt(w2);
  return h;
}

struct Pair {
  double x, y, w;
};

// Two-pass weighted Pearson correlation; false when undefined.
bool pearson(const std::vector<Pair>& p, double& r) {
  double sw = 0, mx = 0, my = 0;
  for (const Pair& q : p) sw += q.w, mx += q.w * q.x, my += q.w * q.y;
  if (p.size() < 2 || sw <= 0) return false;
  mx /= sw, my /= sw;
  double vx = 0, vy = 0, c = 0;
  for (const Pair& q : p) {
    vx += q.w * (q.x - mx) * (q.x - mx);
    vy += q.w * (q.y - my) * (q.y - my);
    c += q.w * (q.x - mx) * (q.y - my);
  }
  if (vx <= 0 || vy <= 0) return false;
  r = c / std::sqrt(vx * vy);
  return true;
}

struct ExpectedShell {
  long observed = 0, unique = 0, compared = 0, possible = 0, nano = 0;
  double sum_i = 0, dev = 0, dev_meas = 0, expected = 0, i_over_sigma = 0, sigano = 0;
  std::vector<Pair> half, anomalous;
};

struct ExpectedSet {
  double sum_i = 0, dev = 0, expected = 0;
  long compared = 0;
};

struct Expected {
  std::vector<ExpectedShell> shell;           // per shell, total last
  std::vector<std::vector<ExpectedSet>> set;  // [set][shell], total last
};

double amplitude_sigma(const Halves& h, double& f) {
  const double i = std::max(0.0, (h.i1 + h.i2) / 2);
  const double s = std::sqrt(h.s1 * h.s1 + h.s2 * h.s2) / 2;
  f = std::sqrt(i);
  return std::sqrt(i + s) - f;
}

// Expected absolute deviation of observation i from the weighted mean of its class.
double expected_deviation(const std::vector<Obs>& cls, size_t i) {
  double sw = 0;
  for (const Obs& o : cls) sw += 1 / (double(o.sigma) * o.sigma);
  double var = 0;  // variance of I_i - mean: (1 - w_i/W) I_i - sum over j != i of (w_j/W) I_j
  for (size_t j = 0; j < cls.size(); ++j) {
    const double wj = 1 / (double(cls[j].sigma) * cls[j].sigma) / sw;
    const double c = (i == j ? 1 - wj : wj) * cls[j].sigma;
    var += c * c;
  }
  return std::sqrt(var / 1.570796);
}

// Adds one class to shell `row`; returns whether it passed the -3 sigma test.
bool add_class(const std::vector<Obs>& cls, Expected& x, size_t row, SchrageGenerator& rng) {
  double sw = 0, swi = 0;
  for (const Obs& o : cls) sw += 1 / (double(o.sigma) * o.sigma), swi += o.i / (double(o.sigma) * o.sigma);
  if (cls.empty() || swi / sw < -3 / std::sqrt(sw)) return false;  // nothing drawn for it either
  const double mean = swi / sw;
  const size_t n = cls.size();
  ExpectedShell& s = x.shell[row];
  ++s.unique;
  s.i_over_sigma += mean * std::sqrt(sw);
  s.observed += long(n);
  const Halves h = split(cls, rng);
  if (h.m >= 2) s.half.push_back({h.i1, h.i2, 1});
  if (n < 2) return true;
  for (size_t i = 0; i < n; ++i) {
    const double e = expected_deviation(cls, i);
    const double dev = std::fabs(cls[i].i - mean);
    s.sum_i += cls[i].i, s.dev += dev, s.dev_meas += std::sqrt(double(n) / double(n - 1)) * dev;
    s.expected += e, ++s.compared;
    ExpectedSet& t = x.set[size_t(cls[i].set)][row];
    t.sum_i += cls[i].i, t.dev += dev, t.expected += e, ++t.compared;
  }
  return true;
}

// Replays the statistics of reflections given in key order; `rows` gives each one's shell
// (-1 outside). Classes: "-" then "+" without Friedel's law, one class with it.
Expected expected_statistics(const std::vector<Reflection>& refl, const std::vector<int>& rows, size_t nshell,
                             size_t nset, bool friedel) {
  Expected x;
  x.shell.assign(nshell + 1, {});
  x.set.assign(nset, std::vector<ExpectedSet>(nshell + 1));
  SchrageGenerator rng;
  for (size_t r = 0; r < refl.size(); ++r) {
    if (rows[r] < 0) continue;
    const auto row = size_t(rows[r]);
    ExpectedShell& s = x.shell[row];
    std::vector<std::vector<Obs>> classes;
    if (friedel) {
      std::vector<Obs> all;  // gathering order: by data set
      for (int j = 0; j < int(nset); ++j) {
        for (const Obs& o : refl[r].minus) if (o.set == j) all.push_back(o);
        for (const Obs& o : refl[r].plus) if (o.set == j) all.push_back(o);
      }
      classes = {all};
    } else {
      classes = {refl[r].minus, refl[r].plus};
    }
    bool last_ok = false, any = false;
    for (const auto& cls : classes) {
      last_ok = add_class(cls, x, row, rng);
      any = any || last_ok;
    }
    if (!any) continue;
    const Halves p = split(refl[r].plus, rng), q = split(refl[r].minus, rng);
    if (p.m < 2 || q.m < 2 || !last_ok) continue;
    const double w = 1 / (p.s1 * p.s1 + p.s2 * p.s2 + q.s1 * q.s1 + q.s2 * q.s2 +
                          0.0025 * (p.i1 * p.i1 + p.i2 * p.i2 + q.i1 * q.i1 + q.i2 * q.i2));
    s.anomalous.push_back({p.i1 - q.i1, p.i2 - q.i2, w});
    s.anomalous.push_back({p.i1 - q.i2, p.i2 - q.i1, w});
    double fp = 0, fm = 0;
    const double sp = amplitude_sigma(p, fp), sm = amplitude_sigma(q, fm);
    s.sigano += std::fabs(fp - fm) / std::sqrt(sp * sp + sm * sm);
    ++s.nano;
  }
  ExpectedShell& t = x.shell[nshell];
  for (size_t i = 0; i < nshell; ++i) {
    const ExpectedShell& s = x.shell[i];
    t.observed += s.observed, t.unique += s.unique, t.compared += s.compared, t.nano += s.nano;
    t.sum_i += s.sum_i, t.dev += s.dev, t.dev_meas += s.dev_meas, t.expected += s.expected;
    t.i_over_sigma += s.i_over_sigma, t.sigano += s.sigano;
    t.half.insert(t.half.end(), s.half.begin(), s.half.end());
    t.anomalous.insert(t.anomalous.end(), s.anomalous.begin(), s.anomalous.end());
    for (auto& per_set : x.set) {
      per_set[nshell].sum_i += per_set[i].sum_i, per_set[nshell].dev += per_set[i].dev;
      per_set[nshell].expected += per_set[i].expected, per_set[nshell].compared += per_set[i].compared;
    }
  }
  return x;
}

// P2 (unique axis b, a = 10, b = 12, c = 14, beta = 100): 1/d^2 from the monoclinic metric.
double monoclinic_ss(int h, int k, int l) {
  const double sb2 = std::pow(std::sin(100 * M_PI / 180), 2), cb = std::cos(100 * M_PI / 180);
  return (h * h / 100.0 + l * l / 196.0 - 2.0 * h * l * cb / 140.0) / sb2 + k * k / 144.0;
}

// Unique reflections per shell by orbits of (h,k,l) -> (-h,k,-l), with Friedel mates joined
// when friedel is set.
std::vector<long> orbit_counts(const std::vector<float>& shells, bool friedel) {
  std::vector<std::set<std::tuple<int, int, int>>> seen(shells.size());
  for (int h = -12; h <= 12; ++h)
    for (int k = -12; k <= 12; ++k)
      for (int l = -12; l <= 12; ++l) {
        if (h == 0 && k == 0 && l == 0) continue;
        const double d = 1 / std::sqrt(monoclinic_ss(h, k, l));
        for (size_t i = 0; i < shells.size(); ++i) {
          if (d < shells[i]) continue;
          std::vector<std::tuple<int, int, int>> orbit = {{h, k, l}, {-h, k, -l}};
          if (friedel) orbit.insert(orbit.end(), {{-h, -k, -l}, {h, -k, l}});
          seen[i].insert(*std::max_element(orbit.begin(), orbit.end()));
          break;
        }
      }
  std::vector<long> n;
  for (const auto& s : seen) n.push_back(long(s.size()));
  return n;
}

// Reflections in key order of the representative: (0,1,2), (1,0,0), (1,1,1), (2,0,-1),
// (2,0,1), (2,1,1), (3,2,1). Centric: k = 0. (2,0,1) lies below -3 sigma; (3,2,1) is
// beyond the last shell.
std::vector<Reflection> monoclinic_reflections() {
  return {
      {{}, {{1, 0, 1, 2, 50, 5}}},
      {{}, {{0, 1, 0, 0, 100, 10}, {0, -1, 0, 0, 104, 10}, {1, 1, 0, 0, 96, 8}}},
      {{{0, 1, -1, 1, 176, 12}, {0, -1, -1, -1, 180, 10}},
       {{0, 1, 1, 1, 200, 10}, {1, 1, 1, 1, 210, 15}, {1, -1, 1, -1, 206, 10}}},
      {{}, {{0, 2, 0, -1, 500, 20}, {0, -2, 0, 1, 520, 20}, {1, 2, 0, -1, 480, 25}}},
      {{}, {{0, 2, 0, 1, -40, 5}, {1, 2, 0, 1, -44, 5}}},
      {{{0, -2, -1, -1, 290, 15}, {1, -2, -1, -1, 280, 20}}, {{0, 2, 1, 1, 300, 15}, {1, 2, 1, 1, 320, 15}}},
      {{}, {{0, 3, 2, 1, 100, 10}, {1, 3, 2, 1, 110, 10}}},
  };
}
const std::vector<int> kMonoclinicRows = {0, 0, 0, 1, 1, 1, -1};
// Limits on which no reflection of the cell lies (6.0 and 3.0 would hold (0,2,0), (0,4,0)).
const std::vector<float> kMonoclinicShells = {5.05f, 3.05f};

TestRun run_of(const std::vector<Reflection>& refl, int mode) {
  std::vector<Measured> m;
  for (const Reflection& r : refl)
    for (const auto* cls : {&r.minus, &r.plus})
      for (const Obs& o : *cls) m.push_back({o.set, o.h, o.k, o.l, o.i, o.sigma});
  return make_run(3, {10, 12, 14, 90, 100, 90}, {{"out.hkl", mode}}, {{"a.hkl", 1}, {"b.hkl", 1}}, m);
}

void expect_shell(const ShellSums& got, const ExpectedShell& x, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(got.observed, x.observed);
  EXPECT_EQ(got.unique, x.unique);
  EXPECT_EQ(got.possible, x.possible);
  EXPECT_EQ(got.compared, x.compared);
  EXPECT_EQ(got.half_pairs, long(x.half.size()));
  EXPECT_EQ(got.nano, x.nano);
  const ShellValues v = shell_values(got);
  auto pct = [](double a, double b) { return b > 0 ? 100 * a / b : -99.9; };
  EXPECT_NEAR(v.completeness, x.possible > 0 ? 100.0 * double(x.unique) / double(x.possible) : -99.9, 1e-4);
  EXPECT_NEAR(v.r_observed, pct(x.dev, x.sum_i), 1e-4);
  EXPECT_NEAR(v.r_expected, pct(x.expected, x.sum_i), 1e-4);
  EXPECT_NEAR(v.r_meas, pct(x.dev_meas, x.sum_i), 1e-4);
  EXPECT_NEAR(v.i_over_sigma, x.sum_i > 0 ? x.i_over_sigma / double(x.unique) : -99.0, 1e-4);
  double r = 0;
  EXPECT_NEAR(v.cc_half, pearson(x.half, r) ? 100 * r : -99.9, 1e-3);
  const bool ano = x.nano >= 2 && pearson(x.anomalous, r);
  EXPECT_EQ(v.anomal_corr, ano ? int(std::lround(100 * r)) : -99);
  EXPECT_NEAR(v.sigano, x.nano > 0 ? x.sigano / double(x.nano) : 0.0, 1e-4);
}

TEST(Statistics, ShellsWithoutFriedelsLawMatchTheirDefinitions) {
  const std::vector<Reflection> refl = monoclinic_reflections();
  const TestRun run = run_of(refl, -2);
  RandomState rng;
  const GroupStatistics st = shell_statistics(run.data(), 1, kMonoclinicShells, rng);
  Expected x = expected_statistics(refl, kMonoclinicRows, 2, 2, false);
  const std::vector<long> possible = orbit_counts(kMonoclinicShells, false);
  x.shell[0].possible = possible[0], x.shell[1].possible = possible[1];
  x.shell[2].possible = possible[0] + possible[1];
  ASSERT_EQ(st.rows(), 3u);
  // The hand-made data: 4 classes in shell 1 (one single observation), 3 in shell 2.
  EXPECT_EQ(x.shell[0].unique, 4);
  EXPECT_EQ(x.shell[1].unique, 3);
  EXPECT_EQ(x.shell[2].nano, 2);
  expect_shell(st.shell[0], x.shell[0], "shell 1");
  expect_shell(st.shell[1], x.shell[1], "shell 2");
  expect_shell(st.shell[2], x.shell[2], "total");
  for (size_t p = 0; p < 2; ++p)
    for (size_t row = 0; row < 3; ++row) {
      const SetShellSums& got = st.of_set(p, row);
      const ExpectedSet& e = x.set[p][row];
      EXPECT_EQ(got.compared, e.compared) << p << " " << row;
      const SetShellValues v = set_shell_values(got);
      EXPECT_NEAR(v.r_observed, e.sum_i > 0 ? 100 * e.dev / e.sum_i : -99.9, 1e-4) << p << " " << row;
      EXPECT_NEAR(v.r_expected, e.sum_i > 0 ? 100 * e.expected / e.sum_i : -99.9, 1e-4) << p << " " << row;
    }
}

TEST(Statistics, ShellsWithFriedelsLawMatchTheirDefinitions) {
  const std::vector<Reflection> refl = monoclinic_reflections();
  const TestRun run = run_of(refl, 1);
  RandomState rng;
  const GroupStatistics st = shell_statistics(run.data(), 1, kMonoclinicShells, rng);
  Expected x = expected_statistics(refl, kMonoclinicRows, 2, 2, true);
  const std::vector<long> possible = orbit_counts(kMonoclinicShells, true);
  x.shell[0].possible = possible[0], x.shell[1].possible = possible[1];
  x.shell[2].possible = possible[0] + possible[1];
  EXPECT_EQ(x.shell[0].unique, 3);
  expect_shell(st.shell[0], x.shell[0], "shell 1");
  expect_shell(st.shell[1], x.shell[1], "shell 2");
  expect_shell(st.shell[2], x.shell[2], "total");
}

TEST(Statistics, PossibleReflectionsCountCentricOnceWithoutFriedelsLaw) {
  const Cell cell{10, 12, 14, 90, 100, 90};
  const SymopList ops = xsymy(1, cell, 3).ops;
  const std::vector<float> shells = {6.1f, 4.1f, 3.05f, 2.55f, 2.15f};
  for (const bool friedel : {true, false}) {
    const std::vector<int64_t> got = possible_reflections(ops, cell, shells, friedel);
    const std::vector<long> want = orbit_counts(shells, friedel);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << "shell " << i << " friedel " << friedel;
  }
}

TEST(Statistics, ReflectionsBelowNoiseOrBeyondTheShellsContributeNothing) {
  std::vector<Reflection> refl = monoclinic_reflections();
  const TestRun all = run_of(refl, -2);
  refl.erase(refl.begin() + 4, refl.end());  // without (2,0,1) and (3,2,1) ...
  refl.push_back(monoclinic_reflections()[5]);  // ... but with (2,1,1)
  const TestRun fewer = run_of(refl, -2);
  RandomState r1, r2;
  const GroupStatistics a = shell_statistics(all.data(), 1, kMonoclinicShells, r1);
  const GroupStatistics b = shell_statistics(fewer.data(), 1, kMonoclinicShells, r2);
  for (size_t row = 0; row < 3; ++row) {
    const ShellSums &x = a.shell[row], &y = b.shell[row];
    EXPECT_EQ(x.observed, y.observed);
    EXPECT_EQ(x.unique, y.unique);
    EXPECT_EQ(x.compared, y.compared);
    EXPECT_EQ(x.sum_i, y.sum_i);
    EXPECT_EQ(x.sum_dev, y.sum_dev);
    EXPECT_EQ(x.sum_i_over_sigma, y.sum_i_over_sigma);
    EXPECT_EQ(x.half.xy, y.half.xy);
    EXPECT_EQ(x.anomalous.xy, y.anomalous.xy);
  }
  EXPECT_EQ(r1.s1, r2.s1);  // neither consumed random numbers
  EXPECT_EQ(r1.s2, r2.s2);
}

TEST(Statistics, SingleObservationCountsButIsNotCompared) {
  const TestRun run = run_of({{{}, {{0, 1, 0, 0, 100, 10}}}}, 1);
  RandomState rng;
  const GroupStatistics st = shell_statistics(run.data(), 1, kMonoclinicShells, rng);
  EXPECT_EQ(st.shell[0].observed, 1);
  EXPECT_EQ(st.shell[0].unique, 1);
  EXPECT_FLOAT_EQ(st.shell[0].sum_i_over_sigma, 10.0f);
  EXPECT_EQ(st.shell[0].compared, 0);
  EXPECT_EQ(st.shell[0].half_pairs, 0);
  const ShellValues v = shell_values(st.shell[0]);
  EXPECT_FLOAT_EQ(v.r_observed, -99.9f);
  EXPECT_FLOAT_EQ(v.i_over_sigma, -99.0f);
  EXPECT_FLOAT_EQ(v.cc_half, -99.9f);
  EXPECT_EQ(v.anomal_corr, -99);
}

TEST(Statistics, ShellLimits) {
  const std::vector<float> shells = {5.0f, 3.0f};
  EXPECT_EQ(shell_index(1.0f / 100.0f, shells), 0);
  EXPECT_EQ(shell_index(1.0f / 25.0f, shells), 0);  // d = 5 belongs to the first shell
  EXPECT_EQ(shell_index(1.0f / 24.0f, shells), 1);
  EXPECT_EQ(shell_index(1.0f / 9.0f, shells), 1);
  EXPECT_EQ(shell_index(1.0f / 8.9f, shells), -1);
  EXPECT_EQ(shell_index(0.0f, shells), 0);
  EXPECT_EQ(shell_index(0.01f, {}), -1);
}

TEST(Statistics, TooManyObservationsStop) {
  TestRun run = run_of(monoclinic_reflections(), -2);
  run.unique.max_observations = 2;
  RandomState rng;
  try {
    shell_statistics(run.data(), 1, kMonoclinicShells, rng);
    ADD_FAILURE() << "no stop";
  } catch (const VelmarError& e) {
    EXPECT_STREQ(e.what(), " !!! ERROR !!! ASSERT VIOLATION IN \"RSTAT\"");
  }
}

TEST(Statistics, ExpectedDeviationsOfEqualSigmas) {
  // n equal sigmas s: Var(I_i - mean) = s^2 (n - 1)/n.
  Equivalents eq(4);
  eq.n = 4;
  for (size_t i = 0; i < 4; ++i) eq.isym[i] = int16_t(i < 3 ? 1 : -1), eq.intensity[i] = 10, eq.sigma[i] = 2;
  std::vector<float> e(4, -1.0f);
  rest(+1, eq, e);
  for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(e[i], std::sqrt(4.0 * 2 / 3 / 1.570796), 1e-6);
  EXPECT_EQ(e[3], -1.0f);  // the other parity is left alone
  rest(0, eq, e);
  EXPECT_NEAR(e[3], std::sqrt(4.0 * 3 / 4 / 1.570796), 1e-6);
}

TEST(Ccmin, CriticalCorrelations) {
  EXPECT_NEAR(ccmin(3), 0.999999, 1e-6);
  EXPECT_NEAR(ccmin(5), 0.9911, 5e-5);
  for (const int n : {-1, 0, 1, 2}) EXPECT_FLOAT_EQ(ccmin(n), 1.001f);
  EXPECT_NEAR(ccmin(30), 3.674 / std::sqrt(3.674 * 3.674 + 28), 1e-6);
  EXPECT_NEAR(ccmin(31), 3.646 / std::sqrt(3.646 * 3.646 + 29), 1e-6);
  EXPECT_NEAR(ccmin(1000), 3.646 / std::sqrt(3.646 * 3.646 + 998), 1e-6);
  EXPECT_FLOAT_EQ(ccmin(10000), 0.1f);
}

TEST(Ransplit, GeneratorMatchesSchrageDecomposition) {
  RandomState state;
  EXPECT_FLOAT_EQ(lecuyer_uniform(state), 842 * 4.656613e-10f);  // (-40014 mod m1) - (-40692 mod m2)
  SchrageGenerator reference;
  reference.next();
  for (int i = 0; i < 100000; ++i) ASSERT_EQ(lecuyer_uniform(state), reference.next()) << "draw " << i + 2;
}

TEST(Ransplit, TwoObservationsSwapWhenTheDrawRoundsUp) {
  RandomState state;
  SchrageGenerator reference;
  const std::vector<int16_t> isym = {1, 1};
  const std::vector<float> y = {10, 20}, s = {1, 2};
  std::vector<int32_t> scratch(2);
  int swapped = 0;
  for (int n = 0; n < 200; ++n) {
    const bool swap = std::lround(reference.next()) == 1;
    const HalfSets h = ransplit(0, isym, y, s, scratch, state);
    ASSERT_EQ(h.m, 2);
    EXPECT_EQ(h.i1, swap ? 20.0f : 10.0f);
    EXPECT_EQ(h.sigma1, swap ? 2.0f : 1.0f);
    EXPECT_EQ(h.i2, swap ? 10.0f : 20.0f);
    swapped += swap;
  }
  EXPECT_GT(swapped, 50);
  EXPECT_LT(swapped, 150);
}

TEST(Ransplit, HalvesPartitionTheSelectedObservations) {
  const std::vector<int16_t> isym = {1, 2, -1, 1, 3, 1, 2};
  const std::vector<float> y = {10, 20, 1000, 30, 40, 50, 60}, s = {1, 2, 3, -4, 5, 1, 2};
  std::vector<int32_t> scratch(7);
  RandomState state;
  double w = 0, wi = 0;
  for (size_t i = 0; i < 7; ++i)
    if (isym[i] > 0 && s[i] > 0) w += 1 / (double(s[i]) * s[i]), wi += y[i] / (double(s[i]) * s[i]);
  std::set<float> first_halves;
  for (int n = 0; n < 50; ++n) {
    const HalfSets h = ransplit(+1, isym, y, s, scratch, state);
    ASSERT_EQ(h.m, 5);
    const double w1 = 1 / (double(h.sigma1) * h.sigma1), w2 = 1 / (double(h.sigma2) * h.sigma2);
    EXPECT_NEAR(w1 + w2, w, 1e-4);
    EXPECT_NEAR(h.i1 * w1 + h.i2 * w2, wi, 1e-2);
    first_halves.insert(h.i1);
  }
  EXPECT_GT(first_halves.size(), 3u);  // the split changes from call to call
  const RandomState before = state;
  const HalfSets one = ransplit(-1, isym, y, s, scratch, state);
  EXPECT_EQ(one.m, 1);
  EXPECT_EQ(one.i1, 0.0f);
  EXPECT_EQ(one.sigma1, -1.0f);
  EXPECT_EQ(one.i2, 0.0f);
  EXPECT_EQ(one.sigma2, -1.0f);
  EXPECT_EQ(state.s1, before.s1);  // nothing drawn
  EXPECT_EQ(state.s2, before.s2);
}

TEST(Ransplit, RunsWithFreshGeneratorsAreIdentical) {
  const TestRun run = run_of(monoclinic_reflections(), -2);
  RandomState a, b;
  const GroupStatistics x = shell_statistics(run.data(), 1, kMonoclinicShells, a);
  const GroupStatistics y = shell_statistics(run.data(), 1, kMonoclinicShells, b);
  for (size_t row = 0; row < x.rows(); ++row) {
    const ShellValues u = shell_values(x.shell[row]), v = shell_values(y.shell[row]);
    EXPECT_EQ(u.cc_half, v.cc_half);
    EXPECT_EQ(u.anomal_corr, v.anomal_corr);
    EXPECT_EQ(x.shell[row].half.xy, y.shell[row].half.xy);
    EXPECT_EQ(x.shell[row].anomalous.xy, y.shell[row].anomalous.xy);
  }
  // A generator that goes on draws different half sets.
  const GroupStatistics z = shell_statistics(run.data(), 1, kMonoclinicShells, a);
  bool differs = false;
  for (size_t row = 0; row < x.rows(); ++row) differs = differs || z.shell[row].half.xy != x.shell[row].half.xy;
  EXPECT_TRUE(differs);
}

}  // namespace
}  // namespace velmar
