// Shell statistics of small hand-made data sets against an independent recomputation from
// their definitions (half sets drawn as the program draws them), the possible counts at a
// shell limit, ccmin, the printed layout line for line, and a whole run.
#include "statistics/statistics.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "statistics/scaled_data.hpp"

namespace velmar {
namespace {

using namespace velmar::testing;

// L'Ecuyer's generator by Schrage's decomposition in 32-bit arithmetic: the half-set split
// below draws from it as the program does, from a fresh state for every call.
struct Schrage {
  int32_t s1 = 2147483562, s2 = 2147483398;
  float next() {
    s1 = 40014 * (s1 % 53668) - (s1 / 53668) * 12211, s1 += s1 < 0 ? 2147483563 : 0;
    s2 = 40692 * (s2 % 52774) - (s2 / 52774) * 3791, s2 += s2 < 0 ? 2147483399 : 0;
    const int32_t z = s1 - s2;
    return static_cast<float>(z < 1 ? z + 2147483562 : z) * 4.656613e-10f;
  }
};

using Class = std::vector<Measured>;  // in gathering order: data set, then isym
double weight(const Measured& o) { return 1.0 / (double(o.sigma) * o.sigma); }

struct Halves {
  double i1 = 0, s1 = -1, i2 = 0, s2 = -1;
  int m = 0;
};

Halves split(Class v, Schrage& rng) {  // shuffle, then the first m/2 against the rest
  const int m = int(v.size());
  if (m < 2) return {.m = m};
  for (int i = 1; i < m; ++i) std::swap(v[size_t(i - 1)], v[size_t(i - 1 + std::lround(rng.next() * float(m - i)))]);
  double w[2] = {}, wi[2] = {};
  for (int k = 0; k < m; ++k) w[k >= m / 2] += weight(v[size_t(k)]), wi[k >= m / 2] += weight(v[size_t(k)]) * v[size_t(k)].i;
  return {wi[0] / w[0], 1 / std::sqrt(w[0]), wi[1] / w[1], 1 / std::sqrt(w[1]), m};
}

struct Pairs {
  std::vector<std::array<double, 3>> p;  // x, y, weight
  double r() const {  // two-pass weighted Pearson correlation
    double sw = 0, mx = 0, my = 0, vx = 0, vy = 0, c = 0;
    for (auto [x, y, w] : p) sw += w, mx += w * x, my += w * y;
    mx /= sw, my /= sw;
    for (auto [x, y, w] : p) vx += w * (x - mx) * (x - mx), vy += w * (y - my) * (y - my), c += w * (x - mx) * (y - my);
    return c / std::sqrt(vx * vy);
  }
};

struct Shell {
  long observed = 0, unique = 0, compared = 0, nano = 0;
  double sum_i = 0, dev = 0, dev_meas = 0, expected = 0, i_over_sigma = 0, sigano = 0;
  Pairs half, anomalous;
};

// One class into shell s; false when its mean is below -3 sigma (nothing drawn then).
bool add_class(const Class& c, Shell& s, Schrage& rng) {
  double w = 0, wi = 0;
  for (const Measured& o : c) w += weight(o), wi += weight(o) * o.i;
  if (c.empty() || wi / w < -3 / std::sqrt(w)) return false;
  const double mean = wi / w, n = double(c.size());
  ++s.unique, s.observed += long(c.size()), s.i_over_sigma += mean * std::sqrt(w);
  if (const Halves h = split(c, rng); h.m >= 2) s.half.p.push_back({h.i1, h.i2, 1});
  for (size_t i = 0; i < c.size() && c.size() >= 2; ++i) {
    double var = 0;  // of I_i - mean = (1 - w_i/W) I_i - sum over j != i of (w_j/W) I_j
    for (size_t j = 0; j < c.size(); ++j) var += std::pow(((i == j) - weight(c[j]) / w) * c[j].sigma, 2);
    const double dev = std::fabs(c[i].i - mean);
    s.sum_i += c[i].i, s.dev += dev, s.dev_meas += std::sqrt(n / (n - 1)) * dev, ++s.compared;
    s.expected += std::sqrt(var / 1.570796);
  }
  return true;
}

// Anomalous signal; it counts only when the class taken last passed the -3 sigma test.
void add_anomalous(const Class& minus, const Class& plus, bool last_passed, Shell& s, Schrage& rng) {
  const Halves p = split(plus, rng), q = split(minus, rng);
  if (p.m < 2 || q.m < 2 || !last_passed) return;
  const double w = 1 / (p.s1 * p.s1 + p.s2 * p.s2 + q.s1 * q.s1 + q.s2 * q.s2 +
                        0.0025 * (p.i1 * p.i1 + p.i2 * p.i2 + q.i1 * q.i1 + q.i2 * q.i2));
  s.anomalous.p.insert(s.anomalous.p.end(), {{p.i1 - q.i1, p.i2 - q.i2, w}, {p.i1 - q.i2, p.i2 - q.i1, w}});
  auto f = [](const Halves& h) {  // F = sqrt(I) and its sigma from I + sigma(I)
    const double i = std::max(0.0, (h.i1 + h.i2) / 2);
    return std::pair{std::sqrt(i), std::sqrt(i + std::sqrt(h.s1 * h.s1 + h.s2 * h.s2) / 2) - std::sqrt(i)};
  };
  const auto [fp, sp] = f(p);
  const auto [fm, sm] = f(q);
  s.sigano += std::fabs(fp - fm) / std::sqrt(sp * sp + sm * sm), ++s.nano;
}

// P2 (unique axis b), a = 10, b = 12, c = 14, beta = 100. Reflections in key order:
// (0,1,2) once, (1,0,-2) once at -2.8 sigma, (1,0,0) centric, (1,1,1) both parities, (2,0,-1)
// centric, (2,0,1) at -3.4 sigma, (2,1,1) both parities, (3,2,1) beyond 3.05 Angstrom.
const std::vector<std::pair<Class, Class>> kReflections = {
    {{}, {{1, 0, 1, 2, 50, 5}}}, {{}, {{0, 1, 0, -2, -14, 5}}},
    {{}, {{0, 1, 0, 0, 100, 10}, {0, -1, 0, 0, 104, 10}, {1, 1, 0, 0, 96, 8}}},
    {{{0, 1, -1, 1, 176, 12}, {0, -1, -1, -1, 180, 10}}, {{0, 1, 1, 1, 200, 10}, {1, 1, 1, 1, 210, 15}, {1, -1, 1, -1, 206, 10}}},
    {{}, {{0, 2, 0, -1, 500, 20}, {0, -2, 0, 1, 520, 20}, {1, 2, 0, -1, 480, 25}}},
    {{}, {{0, 2, 0, 1, -12, 5}, {1, 2, 0, 1, -12, 5}}},
    {{{0, -2, -1, -1, 290, 15}, {1, -2, -1, -1, 280, 20}}, {{0, 2, 1, 1, 300, 15}, {1, 2, 1, 1, 320, 15}}},
    {{}, {{0, 3, 2, 1, 100, 10}, {1, 3, 2, 1, 110, 10}}},
};

double d_spacing(int h, int k, int l) {  // from the monoclinic metric
  const double sb2 = std::pow(std::sin(100 * M_PI / 180), 2), cb = std::cos(100 * M_PI / 180);
  return 1 / std::sqrt((h * h / 100.0 + l * l / 196.0 - h * l * cb / 70.0) / sb2 + k * k / 144.0);
}

size_t shell_of(double d, const std::vector<float>& shells) {  // shells.size() when beyond the last limit
  return size_t(std::find_if(shells.begin(), shells.end(), [d](float s) { return d >= s; }) - shells.begin());
}

TEST(Statistics, ShellsMatchTheirDefinitions) {
  // Limits on which no reflection of the cell lies; one shell gathers two anomalous pairs.
  for (const std::vector<float>& shells : {std::vector<float>{5.05f, 3.05f}, std::vector<float>{3.05f}})
    for (const int mode : {-2, 1}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " shells " + std::to_string(shells.size()));
      std::vector<Measured> m;
      std::vector<Shell> x(shells.size());
      Schrage rng;
      for (const auto& [minus, plus] : kReflections) {
        m.insert(m.end(), minus.begin(), minus.end()), m.insert(m.end(), plus.begin(), plus.end());
        const size_t row = shell_of(d_spacing(plus[0].h, plus[0].k, plus[0].l), shells);
        if (row == shells.size()) continue;
        Class all;  // the one class with Friedel's law, gathered by data set
        for (int j : {0, 1})
          for (const Class* c : {&minus, &plus})
            for (const Measured& o : *c) if (o.set == j) all.push_back(o);
        bool any = false, last = false;
        for (const Class* c : mode == 1 ? std::vector<const Class*>{&all} : std::vector<const Class*>{&minus, &plus})
          any = (last = add_class(*c, x[row], rng)) || any;
        if (any) add_anomalous(minus, plus, last, x[row], rng);
      }
      // Possible: the orbits of (h,k,l) -> (-h,k,-l), with the Friedel mates under Friedel's law.
      std::vector<std::set<std::tuple<int, int, int>>> possible(shells.size() + 1);
      for (int n = 0; n < 15625; ++n) {
        const int h = n % 25 - 12, k = n / 25 % 25 - 12, l = n / 625 - 12;
        std::set<std::tuple<int, int, int>> orbit = {{h, k, l}, {-h, k, -l}};
        if (mode == 1) orbit.insert({{-h, -k, -l}, {h, -k, l}});
        if (n != 7812) possible[shell_of(d_spacing(h, k, l), shells)].insert(*orbit.rbegin());  // not (0,0,0)
      }
      const TestRun run = make_run(3, {10, 12, 14, 90, 100, 90}, {{"o", mode}}, {{"a", 1}, {"b", 1}}, m);
      RandomState state;
      const GroupStatistics st = shell_statistics(run.data(), 1, shells, state);
      ASSERT_EQ(st.rows(), shells.size() + 1);
      for (size_t row = 0; row < shells.size(); ++row) {  // the total row: see the report layout test
        const Shell& e = x[row];
        const ShellSums& g = st.shell[row];
        EXPECT_EQ(std::make_tuple(g.observed, g.unique, g.possible, g.compared, g.nano),
                  std::make_tuple(e.observed, e.unique, long(possible[row].size()), e.compared, e.nano));
        const ShellValues v = shell_values(g);
        EXPECT_NEAR(v.completeness, 100.0 * double(e.unique) / double(possible[row].size()), 1e-4);
        EXPECT_NEAR(v.r_observed, 100 * e.dev / e.sum_i, 1e-4);
        EXPECT_NEAR(v.r_expected, 100 * e.expected / e.sum_i, 1e-4);
        EXPECT_NEAR(v.r_meas, 100 * e.dev_meas / e.sum_i, 1e-4);
        EXPECT_NEAR(v.i_over_sigma, e.i_over_sigma / double(e.unique), 1e-4);
        EXPECT_NEAR(v.cc_half, 100 * e.half.r(), 1e-3);
        EXPECT_EQ(v.anomal_corr, e.nano >= 2 ? int(std::lround(100 * e.anomalous.r())) : -99);
        if (double r = 0; e.nano >= 2 && g.anomalous.correlation(r)) { EXPECT_NEAR(r, e.anomalous.r(), 1e-6); }  // unrounded
        EXPECT_NEAR(v.sigano, e.nano > 0 ? e.sigano / double(e.nano) : 0.0, 1e-4);
      }
      // Without Friedel's law, in one shell: 8 classes (two observed once, one below -3
      // sigma left out), the anomalous pairs of (1,1,1) and (2,1,1).
      if (mode == -2 && shells.size() == 1) { EXPECT_EQ(std::make_tuple(x[0].unique, x[0].nano), std::make_tuple(8L, 2L)); }
    }
}

TEST(Statistics, OutermostReflectionsArePossibleWhereTheyAreObserved) {
  // A cubic cell: d >= limit is exactly h^2 + k^2 + l^2 <= N, an integer count free of
  // rounding. The limit is derived from the largest (1/d)^2 with h^2 + k^2 + l^2 = N, as the
  // default shells are.
  const Cell cell{11.909f, 11.909f, 11.909f, 90, 90, 90};
  const SymopList ops = xsymy(1, cell, 221).ops;
  std::vector<std::pair<int, float>> reps;  // h^2 + k^2 + l^2 <= 400 and (1/d)^2 of the representatives
  for (int h = 0; h <= 20; ++h)
    for (int k = 0; k <= h; ++k)
      for (int l = 0; l <= k; ++l)
        if (const int q = h * h + k * k + l * l; q > 0 && q <= 400 && hkltyp(ops, h, k, l) >= 0) {
          const ReflKey key = iasym(h, k, l, ops);
          reps.emplace_back(q, one_over_d_squared(reciprocal_basis(cell), key.h, key.k, key.l));
        }
  for (int n = 300; n <= 400; ++n) {
    float ss_max = 0.0f;
    int64_t inside = 0;
    for (const auto& [q, ss] : reps)
      if (q <= n) ++inside, ss_max = q == n ? std::max(ss_max, ss) : ss_max;
    if (ss_max == 0.0f) continue;  // no reflection with h^2 + k^2 + l^2 = n
    const std::vector<float> shells = {1.0f / std::sqrt(ss_max)};
    EXPECT_EQ(possible_reflections(ops, cell, shells, true)[0], inside) << n;
    EXPECT_EQ(std::count_if(reps.begin(), reps.end(), [&](const auto& r) { return shell_index(r.second, shells) == 0; }),
              inside) << n;
  }
}

TEST(Ccmin, CriticalCorrelations) {
  // t / sqrt(t^2 + n - 2) from the critical t of n - 2 degrees of freedom, at least 0.1.
  for (const auto& [n, expected, tolerance] : {std::tuple{int64_t{2}, 1.001, 1e-7}, {3, 0.999999, 1e-6}, {5, 0.9911, 5e-5},
                                               {30, 3.674 / std::sqrt(3.674 * 3.674 + 28), 1e-6},
                                               {31, 3.646 / std::sqrt(3.646 * 3.646 + 29), 1e-6}, {10000, 0.1, 1e-7}})
    EXPECT_NEAR(ccmin(n), expected, tolerance) << n;
}

// P1, a = 10 Angstrom, two data sets: (1,0,0) twice and (1,1,0) once in the first shell,
// (2,0,0) three times in the second; the reference data set r.hkl has a group of its own.
// Worked out by hand:
//   (1,0,0): mean 105, sigma 7.0711, |dev| 5 and 5, expected deviations sqrt(50/(pi/2));
//   (2,0,0): mean 42, sigma 2.3094, |dev| 2, 2, 0, expected deviations sqrt((32/3)/(pi/2)).
TEST(StatisticsReport, LayoutOfOneOutputGroup) {
  TempDir dir;
  const std::string out = dir.file("merged.hkl"), frame = std::string(" ").append(78, '*');
  const TestRun run = make_run(1, {10, 10, 10, 90, 90, 90}, {{out, 1}, {"", 1}}, {{"a.hkl", 1}, {"b.hkl", 1}, {"r.hkl", 2}},
                               {{0, 1, 0, 0, 100, 10}, {1, 1, 0, 0, 110, 10}, {0, 1, 1, 0, 50, 5}, {0, 2, 0, 0, 40, 4},
                                {0, -2, 0, 0, 44, 4}, {1, 2, 0, 0, 42, 4}, {2, 1, 0, 0, 1000, 1}});
  Report rep{std::fopen(dir.file("report").c_str(), "w"), std::fopen(dir.file("terminal").c_str(), "w")};
  RandomState rng;
  rstat(rep, run.data(), std::vector<float>{5.5f, 2.8f}, rng);
  std::fclose(rep.file), std::fclose(rep.terminal);
  const std::vector<std::string> terminal = split_lines(
      frame + "\n STATISTICS OF SCALED OUTPUT DATA SET : " + padded50(out) +
      "\n FILE TYPE:         KVD_ASCII      MERGE=TRUE           FRIEDEL'S_LAW=TRUE \n\n"
      "         0 OUT OF         6 REFLECTIONS REJECTED\n         3 REFLECTIONS ON OUTPUT FILE \n\n" + frame +
      "\n DEFINITIONS:\n R-FACTOR\n observed = (SUM(ABS(I(h,i)-I(h))))/(SUM(I(h,i)))\n"
      " expected = expected R-FACTOR derived from Sigma(I)\n COMPARED = number of reflections used for calculating R-FACTOR\n"
      " I/SIGMA  = mean of intensity/Sigma(I) of unique reflections\n            (after merging symmetry-related observations)\n"
      " Sigma(I) = standard deviation of reflection intensity I\n            estimated from sample statistics\n"
      " R-meas   = redundancy independent R-factor (intensities)\n"
      " CC(1/2)  = percentage of correlation between intensities from\n            random half-datasets. Correlation significant at\n"
      "            the 0.1% level is marked by an asterisk.\n Anomal   = percentage of correlation between random half-sets\n"
      "  Corr      of anomalous intensity differences. Correlation\n            significant at the 0.1% level is marked.\n"
      " SigAno   = mean anomalous difference in units of its estimated\n"
      "            standard deviation (|F(+)-F(-)|/Sigma). F(+), F(-)\n            are structure factor estimates obtained from the\n"
      "            merged intensity observations in each parity class.\n  Nano    = Number of unique reflections used to calculate\n"
      "            Anomal_Corr & SigAno. At least two observations\n            for each (+ and -) parity are required.\n"
      " SUBSET OF INTENSITY DATA WITH SIGNAL/NOISE >= -3.0 AS FUNCTION OF RESOLUTION\n"
      " RESOLUTION     NUMBER OF REFLECTIONS    COMPLETENESS R-FACTOR  R-FACTOR COMPARED I/SIGMA   R-meas  CC(1/2)"
      "  Anomal  SigAno   Nano\n"
      "   LIMIT     OBSERVED  UNIQUE  POSSIBLE     OF DATA   observed  expected" + std::string(37, ' ') + "      Corr\n"
      //  limit     observed unique possible  complete  R obs     R exp    comp.  I/sigma  R-meas  CC(1/2) Anomal SigAno Nano
      "     5.50           3       2        13       15.4%       4.8%      5.4%        2   12.42     6.7%   -99.9    -99 "
      "   0.000       0\n"
      "     2.80           3       1        76        1.3%       3.2%      6.2%        3   18.19     3.9%   -99.9    -99 "
      "   0.000       0\n"
      "    total           6       3        89        3.4%       4.2%      5.7%        5   14.35     5.7%   100.0    -99 "
      "   0.000       0");
  EXPECT_EQ(file_lines(dir.file("terminal")), terminal);
  std::vector<std::string> report = terminal;
  for (const auto& [name, rows] : {std::pair{"a.hkl", "     5.50         5.0%       5.6%         1\n"
                                                      "     2.80         4.8%       6.2%         2\n    total         4.9%       5.9%         3"},
                                   {"b.hkl", "     5.50         4.5%       5.1%         1\n"
                                             "     2.80         0.0%       6.2%         1\n    total         3.3%       5.4%         2"}}) {
    if (report.size() == terminal.size()) report.push_back(" ========== STATISTICS OF INPUT DATA SET ==========");
    for (const std::string& line : split_lines("  R-FACTORS FOR INTENSITIES OF DATA SET " + padded50(name) +
                                               "\n RESOLUTION   R-FACTOR   R-FACTOR   COMPARED\n"
                                               "   LIMIT      observed   expected\n" + rows))
      report.push_back(line);
  }
  EXPECT_EQ(file_lines(dir.file("report")), report);  // nothing for the group of the reference data set (blank name)
}

// A whole run on an unmerged P2(1)2(1)2(1) file whose equivalents agree, so that nothing is
// rejected: 48 reflections, each in four symmetry-related settings. The output files'
// contents are checked by the round-trip tests.
TEST(StatisticsRun, TableOnBothSetRFactorsOnTheReportOnly) {
  std::string in;
  for (int n = 0, h, k, l, op; n < 192; ++n, in += "\n") {
    h = 1 + n / 48, k = 1 + n / 12 % 4, l = 1 + n / 4 % 3, op = n % 4;
    for (const int v : {op % 2 ? -h : h, op < 2 ? k : -k, op == 0 || op == 3 ? l : -l, 100 * (h + k + l), 10})
      in.append(" ").append(std::to_string(v));
  }
  TempDir dir;
  dir.write("in.hkl", kvd_file(in));
  const RunResult r =
      run_velmar(dir, "OUTPUT_FILE=out.hkl\nFRIEDEL'S_LAW=FALSE\nINPUT_FILE=in.hkl\nRESOLUTION_SHELLS= 20 8\n");
  ASSERT_EQ(r.status, 0) << r.terminal;
  EXPECT_TRUE(contains(r.terminal, "         0 OUT OF       192 REFLECTIONS REJECTED\n       192 REFLECTIONS ON OUTPUT FILE \n"));
  EXPECT_TRUE(contains(r.terminal, "\n       NOTE:      Friedel pairs are treated as different reflections.\n SUBSET OF INTENSITY DATA"));
  for (const std::string& text : {r.terminal, r.report}) EXPECT_TRUE(contains(text, "\n    total         192      48")) << text;
  EXPECT_TRUE(contains(r.report, "  R-FACTORS FOR INTENSITIES OF DATA SET in.hkl") && !contains(r.terminal, "R-FACTORS FOR"));
}

}  // namespace
}  // namespace velmar
