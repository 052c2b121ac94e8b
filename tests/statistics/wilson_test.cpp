// Wilson statistics on list files written here: whole reports against an independent
// recomputation (tests/data/make_wilson_cases.py), the alien list limit, the selection
// rules with the operator count, and the failures.
#include "statistics/wilson.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "symmetry/cell_geometry.hpp"
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
  const WilsonResult result = wilson(rep, WilsonPrint::kReport, dir.file("list.tmp"), {kind, sg, cell, ss_min, ss_max});
  std::fclose(rep.file), std::fclose(rep.terminal);
  return {result, dir.read("lp"), dir.read("term")};
}

// The list as the driver writes it, over the (1/d)^2 range of its reflections.
WilsonRun run_wilson(const std::vector<Refl>& refl, int sg, const Cell& cell) {
  const Mat3 b = reciprocal_basis(cell);
  std::string list;
  float lo = 1e30f, hi = -1e30f;
  char line[100];
  for (const Refl& r : refl) {
    std::snprintf(line, sizeof line, "%6d%6d%6d%15.7E%15.7E\n", r.h, r.k, r.l, r.i, r.sigma);
    list += line;
    lo = std::min(lo, one_over_d_squared(b, r.h, r.k, r.l)), hi = std::max(hi, one_over_d_squared(b, r.h, r.k, r.l));
  }
  return run_wilson(list, sg, cell, lo, hi);
}

TEST(Wilson, ReportsMatchAnIndependentRecomputation) {
  // Case 1 has every selection rule once; case 2 has four aliens, one of them centric.
  for (const auto& [name, cell] : {std::pair{"wilson_case1", Cell{10, 12, 14, 90, 100, 90}},
                                   std::pair{"wilson_case2", Cell{30, 40, 50, 90, 100, 90}}}) {
    const std::string path = std::string(VELMAR_SOURCE_DIR) + "/tests/data/" + name;
    std::vector<Refl> refl;
    std::ifstream in(path + ".lst");
    for (Refl r; in >> r.h >> r.k >> r.l >> r.i >> r.sigma;) refl.push_back(r);
    std::ostringstream expected;
    expected << std::ifstream(path + ".lp").rdbuf();
    ASSERT_TRUE(!refl.empty() && contains(expected.str(), "WILSON LINE")) << name;
    const WilsonRun r = run_wilson(refl, 3, cell);  // P2, unique axis b
    EXPECT_EQ(r.result.status, kWilsonOk);
    EXPECT_EQ(r.report, expected.str()) << name;
    EXPECT_EQ(r.terminal, "");
  }
}

TEST(Wilson, AlienListKeepsThe500HighestScores) {
  // All reflections in shell 1 (the range reaches far beyond them): one mean, Z = I/<I>.
  std::string list;
  char line[80];
  for (int n = 0, h = 1; n < 20501; ++h)
    for (int k = 0; k < 100 && n < 20501; ++k, ++n) {
      const float i = n < 501 ? 1000.0f + static_cast<float>((n * 7919) % 501) : 1.0f;  // 1000..1500 once each
      std::snprintf(line, sizeof line, "%d %d 0 %.1f 0.5\n", h, k, i);
      list += line;
    }
  const WilsonRun r = run_wilson(list, 1, {100, 100, 100, 90, 90, 90}, 1e-4f, 1000.0f);
  ASSERT_EQ(r.result.status, kWilsonOk);
  EXPECT_TRUE(contains(r.report, " List of    500 reflections *NOT* obeying Wilson distribution (Z> 10.0)\n"));
  EXPECT_TRUE(contains(r.report, "  0.1500E+04") && contains(r.report, "  0.1001E+04"));  // highest and lowest kept
  EXPECT_FALSE(contains(r.report, "  0.1000E+04"));  // lowest dropped
}

TEST(Wilson, SelectionRulesAndEpsilon) {
  const Cell cell{40, 50, 60, 90, 100, 90};
  // Every general reflection of C2 is left unchanged by the identity and the centring.
  const std::vector<Refl> general = {{1, 1, 1, 100, 1}, {2, 2, 3, 100, 1}, {3, 1, -4, 100, 1}, {4, 2, 5, 100, 1}};
  for (const auto& [sg, mean, other] : {std::tuple{5, " 5.0000E+01 ", " 1.0000E+02 "}, {3, " 1.0000E+02 ", " 5.0000E+01 "}}) {
    const WilsonRun r = run_wilson(general, sg, cell);
    EXPECT_EQ(r.result.used, 4) << sg;
    EXPECT_TRUE(contains(r.report, mean) && !contains(r.report, other)) << sg;
  }
  // I = -3 sigma exactly is not used, a little above is; both ends of the range are inside.
  EXPECT_EQ(run_wilson(std::vector<Refl>{{1, 1, 1, -30, 10}, {1, 0, 0, 5, 1}, {2, 2, 2, -29.9f, 10}, {3, 3, 3, 5, 1}}, 1, cell)
                .result.used, 3);
  // Both Friedel mates: inverse-variance mean, a mate with sigma <= 0 left out; and any free
  // form: commas, tabs, repeat counts, Fortran exponents.
  const std::string one = run_wilson("1 1 1 150 7.0710678\n2 2 3 50 5\n3 1 -4 60 2\n", 1, cell, 0.0f, 0.02f).report;
  EXPECT_EQ(run_wilson("1 1 1 100 10 200 10\n2 2 3 50 5 999 0\n3 1 -4 60 2 -1 -1\n", 1, cell, 0.0f, 0.02f,
                       WilsonRecord::kTwoIntensities).report, one);
  EXPECT_EQ(run_wilson("1,1,1,1.5D2,7.0710678\n2\t2 3 1*50 5\n3 1 -4 60 2 extra\n", 1, cell, 0.0f, 0.02f).report, one);
}

TEST(Wilson, TooFewShellsFailuresAndMessages) {
  const Cell cell{40, 50, 60, 90, 90, 90};
  // Two shells with reflections: no line is fitted.
  WilsonRun r = run_wilson(std::vector<Refl>{{1, 0, 0, 100, 1}, {5, 5, 5, 10, 1}}, 1, cell);
  EXPECT_EQ(r.result.status, kWilsonOk);
  EXPECT_EQ(r.result.a, 0.0f);
  EXPECT_TRUE(contains(r.report, "   WILSON LINE (using all data) : A=   0.000 B=   0.000 CORRELATION=  0.00\n"));
  const auto message = [](int status) {
    return std::string(" !!! ERROR !!! ") + (status == kWilsonNoData        ? "NO DATA FOR WILSON PLOT\n"
                                                 : status == kWilsonBadSymmetry ? "ILLEGAL SPACE GROUP NUMBER OR UNIT CELL\n"
                                                                                : "CANNOT READ SCRATCH FILE\n");
  };
  const struct { std::string list; int sg; float lo, hi; int status; } cases[] = {
      {"1 1 1 10 1\n", 1, 0.01f, 0.01f, kWilsonNoData},               // SSMAX = SSMIN
      {"1 1 1 -10 1\n9 9 9 10 1\n", 1, 0.0f, 0.01f, kWilsonNoData},  // too weak, outside
      {"0 1 0 10 1\n", 4, 0.0f, 0.01f, kWilsonNoData},                // absent in P2(1)
      {"1 1 1 10 1\n", 231, 0.0f, 0.01f, kWilsonBadSymmetry},
      {"1 1 1 10 1\n1 1 x 10 1\n", 1, 0.0f, 0.01f, kWilsonReadError},
      {"1 1 40000 10 1\n", 1, 0.0f, 0.01f, kWilsonReadError},
  };
  for (const auto& c : cases) {
    r = run_wilson(c.list, c.sg, cell, c.lo, c.hi);
    EXPECT_EQ(std::make_tuple(r.result.status, r.report, r.terminal), std::make_tuple(c.status, message(c.status), message(c.status)))
        << c.list;
  }
  Report quiet{nullptr, nullptr};
  EXPECT_EQ(wilson(quiet, WilsonPrint::kReport, "/nonexistent/list", {WilsonRecord::kOneIntensity, 1, cell, 0, 1}).status,
            kWilsonReadError);
}

}  // namespace
}  // namespace velmar
