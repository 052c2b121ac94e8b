// Wilson statistics on list files written here: reports against an independent
// recomputation, generated data of known B, twinned data, aliens and ice rings, the
// selection rules and the failures.
#include "statistics/wilson.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::contains;
using testing::TempDir;

struct Refl {
  int h, k, l;
  float i, sigma;
};

struct WilsonRun {
  WilsonResult result;
  std::string report, terminal;
};

WilsonRun run_wilson(const std::string& list, int sg, const Cell& cell, float ss_min, float ss_max,
                     WilsonRecord kind = WilsonRecord::kOneIntensity) {
  TempDir dir;
  dir.write("list.tmp", list);
  Report rep{std::fopen(dir.file("lp").c_str(), "w"), std::fopen(dir.file("term").c_str(), "w")};
  WilsonRun r;
  r.result = wilson(rep, WilsonPrint::kReport, dir.file("list.tmp"), {kind, sg, cell, ss_min, ss_max});
  std::fclose(rep.file);
  std::fclose(rep.terminal);
  r.report = dir.read("lp");
  r.terminal = dir.read("term");
  return r;
}

// The list as the driver writes it, and the (1/d)^2 range of its reflections.
WilsonRun run_wilson(const std::vector<Refl>& refl, int sg, const Cell& cell) {
  const Mat3 b = reciprocal_basis(cell);
  std::string list;
  float lo = 1e30f, hi = -1e30f;
  char line[100];
  for (const Refl& r : refl) {
    std::snprintf(line, sizeof line, "%6d%6d%6d%15.7E%15.7E\n", r.h, r.k, r.l, r.i, r.sigma);
    list += line;
    lo = std::min(lo, one_over_d_squared(b, r.h, r.k, r.l));
    hi = std::max(hi, one_over_d_squared(b, r.h, r.k, r.l));
  }
  return run_wilson(list, sg, cell, lo, hi);
}

// One reflection per symmetry class inside dmin, intensity drawn from the Wilson
// distribution of mean epsilon x 1000 exp(-B SS/2) (exponential for acentric, chi-square
// with one degree of freedom for centric reflections).
std::vector<Refl> wilson_data(int sg, const Cell& cell, float dmin, float b_factor, unsigned seed) {
  const SymopList ops = xsymy(1, cell, sg).ops;
  const Mat3 b = reciprocal_basis(cell);
  const int m = static_cast<int>(std::max({cell[0], cell[1], cell[2]}) / dmin) + 1;
  std::mt19937 rng(seed);
  std::exponential_distribution<double> exponential;
  std::normal_distribution<double> normal;
  std::vector<Refl> out;
  for (int h = -m; h <= m; ++h)
    for (int k = -m; k <= m; ++k)
      for (int l = -m; l <= m; ++l) {
        const float ss = one_over_d_squared(b, h, k, l);
        if (ss == 0.0f || ss > 1.0f / (dmin * dmin)) continue;
        const ReflKey key = iasym(h, k, l, ops);
        if (key.h != h || key.k != k || key.l != l) continue;
        const int eps = sysabs(h, k, l, ops);
        if (eps < 0) continue;
        const double g = normal(rng);
        const double draw = hkltyp(ops, h, k, l) > 0 ? g * g : exponential(rng);
        out.push_back({h, k, l, static_cast<float>(eps * 1000.0 * std::exp(-b_factor * ss / 2.0) * draw), 1.0f});
      }
  return out;
}

// The numbers after the first line that starts with `head` and holds `word`.
std::vector<double> row_after(const std::string& report, const std::string& head, const std::string& word) {
  const size_t at = report.find(head);
  std::istringstream in(report.substr(at == std::string::npos ? report.size() : at));
  std::vector<double> v;
  for (std::string line; std::getline(in, line);) {
    const size_t w = line.find(word);
    if (w == std::string::npos) continue;
    std::istringstream f(line.substr(w + word.size()));
    for (double x; f >> x;) v.push_back(x);
    break;
  }
  return v;
}

std::vector<double> overall(const std::string& report, const std::string& head) {
  return row_after(report, head, "overall");
}

TEST(Wilson, ReportsMatchAnIndependentRecomputation) {
  const struct {
    std::string name;
    Cell cell;
  } cases[] = {{"wilson_case1", {10, 12, 14, 90, 100, 90}}, {"wilson_case2", {30, 40, 50, 90, 100, 90}}};
  for (const auto& c : cases) {
    const std::string dir = std::string(VELMAR_SOURCE_DIR) + "/tests/data/";
    std::vector<Refl> refl;
    std::ifstream in(dir + c.name + ".lst");
    for (Refl r; in >> r.h >> r.k >> r.l >> r.i >> r.sigma;) refl.push_back(r);
    ASSERT_FALSE(refl.empty()) << c.name;
    std::ifstream expected(dir + c.name + ".lp");
    std::ostringstream text;
    text << expected.rdbuf();
    ASSERT_TRUE(contains(text.str(), "WILSON LINE")) << c.name;
    const WilsonRun r = run_wilson(refl, 3, c.cell);  // P2, unique axis b
    EXPECT_EQ(r.result.status, kWilsonOk);
    EXPECT_EQ(r.report, text.str()) << c.name;
    EXPECT_EQ(r.terminal, "");
  }
}

TEST(Wilson, GeneratedDataGiveTheirBAndTheTheoreticalDistributions) {
  const struct {
    int sg;
    Cell cell;
    float dmin, b;
  } cases[] = {{1, {50, 60, 70, 90, 90, 90}, 2.2f, 15.0f}, {19, {60, 70, 80, 90, 90, 90}, 2.0f, 35.0f},
               {5, {80, 50, 60, 90, 110, 90}, 2.0f, 25.0f}};
  for (const auto& c : cases) {
    const WilsonRun r = run_wilson(wilson_data(c.sg, c.cell, c.dmin, c.b, 7), c.sg, c.cell);
    ASSERT_EQ(r.result.status, kWilsonOk) << c.sg;
    EXPECT_NEAR(r.result.b, c.b, 1.0) << c.sg;
    EXPECT_NEAR(r.result.a, std::log(1000.0), 0.1) << c.sg;  // epsilon divided out again
    EXPECT_GT(r.result.correlation, 0.99) << c.sg;
    const std::vector<double> acentric = overall(r.report, "OF ACENTRIC DATA");
    ASSERT_EQ(acentric.size(), 3u);
    EXPECT_NEAR(acentric[0], 1.0, 0.04) << c.sg;
    EXPECT_NEAR(acentric[1], 1.0, 0.12) << c.sg;
    const std::vector<double> na = overall(r.report, " Na(Z)obs/Na(Z)exp");
    ASSERT_EQ(na.size(), 10u);
    for (double ratio : na) EXPECT_NEAR(ratio, 1.0, 0.05) << c.sg;
    if (c.sg == 1) continue;  // no centric reflections
    const std::vector<double> centric = overall(r.report, "OF  CENTRIC DATA");
    const std::vector<double> nc = overall(r.report, " Nc(Z)obs/Nc(Z)exp");
    ASSERT_EQ(centric.size() + nc.size(), 13u) << c.sg;
    EXPECT_NEAR(centric[0], 1.0, 0.12) << c.sg;
    for (size_t k = 2; k < nc.size(); ++k) EXPECT_NEAR(nc[k], 1.0, 0.12) << c.sg << " Z=0." << k + 1;
  }
}

TEST(Wilson, PerfectTwinningMovesTheAcentricMomentsTowardOnePointFive) {
  // In P1 with a = b the twin law (h,k,l) -> (k,h,-l) superposes two lattices exactly.
  const Cell cell{60, 60, 80, 90, 90, 90};
  const std::vector<Refl> single = wilson_data(1, cell, 2.3f, 20.0f, 11);
  std::map<std::array<int, 3>, float> intensity;
  for (const Refl& r : single) intensity[{r.h, r.k, r.l}] = r.i;
  std::vector<Refl> twinned = single;
  for (Refl& r : twinned) {
    auto mate = intensity.find({r.k, r.h, -r.l});
    if (mate == intensity.end()) mate = intensity.find({-r.k, -r.h, r.l});  // the Friedel mate was listed
    ASSERT_NE(mate, intensity.end());
    r.i = 0.5f * (r.i + mate->second);
  }
  const std::vector<double> untwinned = overall(run_wilson(single, 1, cell).report, "OF ACENTRIC DATA");
  const std::string report = run_wilson(twinned, 1, cell).report;
  const std::vector<double> moments = overall(report, "OF ACENTRIC DATA");
  ASSERT_EQ(untwinned.size() + moments.size(), 6u);
  EXPECT_NEAR(untwinned[0], 1.0, 0.04);
  EXPECT_NEAR(moments[0], 0.75, 0.04);  // <I^2>/<I>^2 = 1.5 instead of 2
  // Few weak reflections: N(Z) = 1 - (1 + 2Z) exp(-2Z) instead of 1 - exp(-Z).
  const std::vector<double> na = overall(report, " Na(Z)obs/Na(Z)exp");
  ASSERT_EQ(na.size(), 10u);
  EXPECT_NEAR(na[0], (1 - 1.2 * std::exp(-0.2)) / (1 - std::exp(-0.1)), 0.05);
}

TEST(Wilson, PlantedAliensAndAnIceRing) {
  const Cell cell{70, 80, 90, 90, 90, 90};
  std::vector<Refl> refl = wilson_data(19, cell, 2.5f, 20.0f, 3);
  const Mat3 b = reciprocal_basis(cell);
  std::vector<std::array<int, 3>> planted;
  int ring = 0;
  for (size_t n = 0; n < refl.size(); ++n) {
    Refl& r = refl[n];
    const float d = 1.0f / std::sqrt(one_over_d_squared(b, r.h, r.k, r.l));
    const bool in_ring = std::fabs(d - 3.669f) < 0.004f && r.h != 0 && r.k != 0 && r.l != 0;
    if (n % 1000 != 500 && !in_ring) continue;
    r.i = 60.0f * 1000.0f * std::exp(-20.0f / (2.0f * d * d));  // 60 times the mean
    planted.push_back({r.h, r.k, r.l});
    ring += in_ring;
  }
  ASSERT_GT(ring, 5);
  const WilsonRun r = run_wilson(refl, 19, cell);
  ASSERT_EQ(r.result.status, kWilsonOk);
  for (const auto& [h, k, l] : planted) {
    char line[40];
    std::snprintf(line, sizeof line, "\n%5d%5d%5d", h, k, l);
    EXPECT_TRUE(contains(r.report, line)) << line;
  }
  // By score: tagged, scores falling. By resolution: d rising, the ring at 3.669 A.
  const size_t by_resolution = r.report.find("(sorted by resolution)");
  ASSERT_NE(by_resolution, std::string::npos);
  std::istringstream first(r.report.substr(r.report.find("(Z> 10.0)")));
  std::istringstream second(r.report.substr(by_resolution));
  std::string line;
  std::vector<double> scores, resolutions;
  while (std::getline(first, line) && !contains(line, "sorted by"))
    if (contains(line, "\"alien\"")) scores.push_back(std::stod(line.substr(23, 8)));
  while (std::getline(second, line))
    if (line.size() == 55) resolutions.push_back(std::stod(line.substr(15, 8)));
  EXPECT_GE(scores.size(), planted.size());
  EXPECT_EQ(resolutions.size(), scores.size());
  EXPECT_TRUE(std::is_sorted(scores.rbegin(), scores.rend()));
  EXPECT_TRUE(std::is_sorted(resolutions.begin(), resolutions.end()));
  EXPECT_GE(std::count_if(resolutions.begin(), resolutions.end(), [](double d) { return std::fabs(d - 3.67) < 0.006; }),
            ring);
}

TEST(Wilson, AlienListKeepsThe500HighestScores) {
  // All reflections in shell 1 (the range reaches far beyond them): one mean, Z = I/<I>.
  std::string list;
  char line[80];
  int n = 0;
  for (int h = 1; n < 20501; ++h)
    for (int k = 0; k < 100 && n < 20501; ++k, ++n) {
      const float i = n < 501 ? 1000.0f + static_cast<float>((n * 7919) % 501) : 1.0f;  // 1000..1500 once each
      std::snprintf(line, sizeof line, "%d %d 0 %.1f 0.5\n", h, k, i);
      list += line;
    }
  const WilsonRun r = run_wilson(list, 1, {100, 100, 100, 90, 90, 90}, 1e-4f, 1000.0f);
  ASSERT_EQ(r.result.status, kWilsonOk);
  EXPECT_TRUE(contains(r.report, " List of    500 reflections *NOT* obeying Wilson distribution (Z> 10.0)\n"));
  EXPECT_TRUE(contains(r.report, "  0.1500E+04"));  // highest kept
  EXPECT_TRUE(contains(r.report, "  0.1001E+04"));
  EXPECT_FALSE(contains(r.report, "  0.1000E+04"));  // lowest dropped
}

TEST(Wilson, SelectionRulesAndEpsilon) {
  const Cell cell{40, 50, 60, 90, 100, 90};
  // Every general reflection of C2 is left unchanged by the identity and the centring.
  const std::vector<Refl> general = {{1, 1, 1, 100, 1}, {2, 2, 3, 100, 1}, {3, 1, -4, 100, 1}, {4, 2, 5, 100, 1}};
  const char* c2 = " 5.0000E+01 ";
  const char* p2 = " 1.0000E+02 ";
  for (const auto& [sg, mean, other] : {std::tuple{5, c2, p2}, std::tuple{3, p2, c2}}) {
    const WilsonRun r = run_wilson(general, sg, cell);
    EXPECT_EQ(r.result.used, 4) << sg;
    EXPECT_TRUE(contains(r.report, mean)) << sg;
    EXPECT_FALSE(contains(r.report, other)) << sg;
  }
  // I = -3 sigma exactly is not used, a little above is; both ends of the range are inside.
  const WilsonRun r = run_wilson(
      std::vector<Refl>{{1, 1, 1, -30, 10}, {1, 0, 0, 5, 1}, {2, 2, 2, -29.9f, 10}, {3, 3, 3, 5, 1}}, 1, cell);
  EXPECT_EQ(r.result.used, 3);
  // Both Friedel mates: inverse-variance mean, a mate with sigma <= 0 left out.
  const std::string two = "1 1 1 100 10 200 10\n2 2 3 50 5 999 0\n3 1 -4 60 2 -1 -1\n";
  const std::string one = "1 1 1 150 7.0710678\n2 2 3 50 5\n3 1 -4 60 2\n";
  const float lo = 0.0f, hi = 0.02f;
  EXPECT_EQ(run_wilson(two, 1, cell, lo, hi, WilsonRecord::kTwoIntensities).report,
            run_wilson(one, 1, cell, lo, hi).report);
  // Any free form: commas, tabs, repeat counts, Fortran exponents.
  EXPECT_EQ(run_wilson("1,1,1,1.5D2,7.0710678\n2\t2 3 1*50 5\n3 1 -4 60 2 extra\n", 1, cell, lo, hi).report,
            run_wilson(one, 1, cell, lo, hi).report);
}

TEST(Wilson, TooFewShellsFailuresAndMessages) {
  const Cell cell{40, 50, 60, 90, 90, 90};
  // Two shells with reflections: no line is fitted.
  WilsonRun r = run_wilson(std::vector<Refl>{{1, 0, 0, 100, 1}, {5, 5, 5, 10, 1}}, 1, cell);
  EXPECT_EQ(r.result.status, kWilsonOk);
  EXPECT_EQ(r.result.a, 0.0f);
  EXPECT_TRUE(contains(r.report, "   WILSON LINE (using all data) : A=   0.000 B=   0.000 CORRELATION=  0.00\n"));
  const std::string no_data = " !!! ERROR !!! NO DATA FOR WILSON PLOT\n",
                    illegal = " !!! ERROR !!! ILLEGAL SPACE GROUP NUMBER OR UNIT CELL\n",
                    unreadable = " !!! ERROR !!! CANNOT READ SCRATCH FILE\n";
  const Cell no_angle{40, 50, 60, 0, 90, 90};
  const struct {
    std::string list;
    int sg;
    Cell cell;
    float lo, hi;
    int status;
    const std::string& message;
  } cases[] = {
      {"1 1 1 10 1\n", 1, cell, 0.01f, 0.01f, kWilsonNoData, no_data},               // SSMAX = SSMIN
      {"1 1 1 -10 1\n9 9 9 10 1\n", 1, cell, 0.0f, 0.01f, kWilsonNoData, no_data},  // too weak, outside
      {"0 1 0 10 1\n", 4, cell, 0.0f, 0.01f, kWilsonNoData, no_data},               // absent in P2(1)
      {"1 1 1 10 1\n", 231, cell, 0.0f, 0.01f, kWilsonBadSymmetry, illegal},
      {"1 1 1 10 1\n", 1, no_angle, 0.0f, 0.01f, kWilsonBadSymmetry, illegal},
      {"1 1 1 10 1\n1 1 x 10 1\n", 1, cell, 0.0f, 0.01f, kWilsonReadError, unreadable},
      {"1 1 1 10\n", 1, cell, 0.0f, 0.01f, kWilsonReadError, unreadable},
      {"1 1 40000 10 1\n", 1, cell, 0.0f, 0.01f, kWilsonReadError, unreadable},
  };
  for (const auto& c : cases) {
    r = run_wilson(c.list, c.sg, c.cell, c.lo, c.hi);
    EXPECT_EQ(r.result.status, c.status) << c.list;
    EXPECT_EQ(r.report, c.message) << c.list;
    EXPECT_EQ(r.terminal, c.message) << c.list;
  }
  Report quiet{nullptr, nullptr};
  EXPECT_EQ(wilson(quiet, WilsonPrint::kReport, "/nonexistent/list", {WilsonRecord::kOneIntensity, 1, cell, 0, 1}).status,
            kWilsonReadError);
}

TEST(Wilson, CentricAlienScoreFollowsTheRationalApproximation) {
  // 40 centric h0l reflections of P2 in one shell, one of them strong.
  std::string list;
  for (int h = 1; h <= 40; ++h) list += std::to_string(h) + " 0 1 " + (h == 7 ? "2000" : "10") + " 1\n";
  const WilsonRun r = run_wilson(list, 3, {40, 50, 60, 90, 90, 90}, 1e-4f, 100.0f);
  const double z = 2000.0 / ((39 * 10.0 + 2000.0) / 40);
  const double x = std::sqrt(z / 2);
  const double score = 4 * std::log(1 + x * (0.278393 + x * (0.230389 + x * (0.000972 + 0.078108 * x))));
  const std::vector<double> row = row_after(r.report, "(Z> 10.0)", "    7    0    1");
  ASSERT_EQ(row.size(), 4u) << r.report;
  EXPECT_NEAR(row[1], score, 0.006);  // 13.32, where the acentric rule would give Z = 33.47
}

}  // namespace
}  // namespace velmar
