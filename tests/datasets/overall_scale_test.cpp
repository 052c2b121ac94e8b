// Pairwise comparison and overall scaling of data sets on small hand-made data: the
// selection, the comparison's edge cases, the elimination, and xorder's results, report and
// stops.
#include "datasets/overall_scale.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "datasets/pair_comparison.hpp"
#include "driver/assembly.hpp"
#include "statistics/scaled_data.hpp"

namespace velmar {
namespace {

using testing::Measured;
using testing::TestRun;

// Reflections of P1 (cell 20 A) with 1/d^2 up to 0.36 and random intensities: one
// observation per data set, data set j's intensity (with noise of sd sqrt(I), or none) and
// sigma the true ones times factor(j, ss); data set j sees only the reflections for which
// sees(j, h) is true (all when not given).
std::vector<Measured> observations(int nset, const std::function<float(int, float)>& factor, unsigned seed = 5,
                                   bool noise = true, const std::function<bool(int, int)>& sees = nullptr) {
  std::mt19937 rng(seed);
  std::exponential_distribution<float> wilson(1.0f / 1000.0f);
  std::normal_distribution<float> normal;
  std::vector<Measured> m;
  for (int h = 0; h <= 12; ++h)
    for (int k = -12; k <= 12; ++k)
      for (int l = -12; l <= 12; ++l) {
        const float ss = float(h * h + k * k + l * l) / 400.0f;
        if (ss == 0.0f || ss > 0.36f || (h == 0 && (k < 0 || (k == 0 && l < 0)))) continue;
        const float i = 200.0f + wilson(rng);
        for (int j = 0; j < nset; ++j) {
          const float f = factor(j, ss), e = noise ? normal(rng) * std::sqrt(i) : 0.0f;
          if (!sees || sees(j, h)) m.push_back({j, h, k, l, (i + e) * f, std::sqrt(i) * f});
        }
      }
  return m;
}
const auto alike = [](int, float) { return 1.0f; };

TestRun scaling_run(int nset, const std::vector<Measured>& m) {
  std::vector<std::pair<std::string, int>> sets;
  for (int j = 0; j < nset; ++j) sets.emplace_back("set" + std::to_string(j + 1) + ".hkl", 1);
  TestRun r = testing::make_run(1, {20, 20, 20, 90, 90, 90}, {{"out.hkl", -1}}, sets, m);
  data_set_ranges(r.unique, r.obs, r.tables.sets);
  return r;
}

// What xorder printed, its status, and its stop message ("no stop" when it did not stop).
struct Printed {
  std::string text, stop;
  int status = -99;
};

Printed scale(TestRun& r, int reference) {
  Printed p;
  std::FILE* f = std::tmpfile();
  p.stop = testing::stop_text([&] { p.status = xorder(Report{f, nullptr}, 3.0f, reference, r.tables.sets, r.unique, r.obs); });
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) p.text += static_cast<char>(c);
  std::fclose(f);
  return p;
}

TEST(Xmedian, SelectsTheKthSmallestInPlace) {
  const std::vector<float> a = {5, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5};  // with ties
  std::vector<float> sorted = a;
  std::sort(sorted.begin(), sorted.end());
  for (int k = 1; k <= int(a.size()); ++k) {
    std::vector<float> b = a;
    xmedian(b, k);
    EXPECT_EQ(b[size_t(k - 1)], sorted[size_t(k - 1)]) << k;
    std::sort(b.begin(), b.end());
    EXPECT_EQ(b, sorted) << "a permutation";
  }
  std::vector<float> b = {3, 1, 2};
  xmedian(b, 0);
  xmedian(b, 4);
  EXPECT_EQ(b, (std::vector<float>{3, 1, 2})) << "k outside 1..n changes nothing";
}

TEST(SolveSymmetric, PivotsOnTheDiagonalAndDropsSmallPivots) {
  // (Regular and zero matrices: the scaling of three data sets and its stops below.)
  // [1 1; 1 1]: the second pivot vanishes, its unknown gets 0.
  std::vector<double> y(2);
  EXPECT_EQ(solve_symmetric(std::vector<double>{1, 1, 1}, std::vector<double>{2, 2}, y), 1);
  EXPECT_EQ(y, (std::vector<double>{2, 0}));
}

TEST(Xpair, EdgeCasesOfTheComparison) {
  // Without noise, data set 2 half as bright as data set 1: correlation 1, ln K = ln 2,
  // B = 0 with a zero residual (no weight in the B equations).
  TestRun r = scaling_run(2, observations(2, [](int j, float) { return j == 0 ? 1.0f : 0.5f; }, 5, false));
  StrongMeans means;
  strong_means(r.unique, r.obs, r.tables.sets, 3.0f, means);
  PairWork work;
  PairComparison c = xpair(0, 1, r.unique, means, r.tables.sets, work);
  EXPECT_GT(c.n, 1000);
  EXPECT_NEAR(c.r, 1.0f, 1e-5f);
  EXPECT_NEAR(c.ln_k, std::log(2.0f), 1e-5f);
  EXPECT_NEAR(c.b, 0.0f, 1e-5f);
  EXPECT_NEAR(c.var_b, 0.0f, 1e-9f);
  EXPECT_GT(c.var_ln_k, 0.0f);
  // Ranges that only touch: nothing.
  std::vector<DataSet> touching = r.tables.sets;
  touching[1].range.ss_min = touching[0].range.ss_max;
  c = xpair(0, 1, r.unique, means, touching, work);
  EXPECT_EQ(std::make_tuple(c.n, c.r, c.ln_k, c.b), std::make_tuple(0, 0.0f, 0.0f, 0.0f));

  // A relative B of 2 with noise: the slope of ln(I1/I2) against SS.
  TestRun b2 = scaling_run(2, observations(2, [](int j, float ss) { return j == 0 ? 1.0f : std::exp(-2 * ss); }));
  strong_means(b2.unique, b2.obs, b2.tables.sets, 3.0f, means);
  c = xpair(0, 1, b2.unique, means, b2.tables.sets, work);
  EXPECT_NEAR(c.b, 2.0f, 0.15f);
  EXPECT_GT(c.var_b, 0.0f);
  // A narrow common range of one populated bin: B = 0.
  std::vector<DataSet> narrow = b2.tables.sets;
  narrow[0].range.ss_min = 0.2f, narrow[0].range.ss_max = 0.2001f;
  c = xpair(0, 1, b2.unique, means, narrow, work);
  EXPECT_GT(c.n, 2);
  EXPECT_EQ(std::make_tuple(c.b, c.var_b), std::make_tuple(0.0f, 0.0f));
  // Misfits never enter: with every observation of data set 1 a misfit nothing is common.
  for (size_t u = 0; u < b2.unique.size(); ++u)
    for (int32_t i = 0; i < b2.unique.count(u, 0); ++i) b2.obs.misfit[size_t(b2.unique.first(u, 0) + i)] = 1;
  strong_means(b2.unique, b2.obs, b2.tables.sets, 3.0f, means);
  EXPECT_EQ(xpair(0, 1, b2.unique, means, b2.tables.sets, work).n, 0);
}

// (Copies of one input file in two output groups are scaled alike: the demo-report tests.)
TEST(Xorder, ConstantFactorAndReferenceNotFirst) {
  // Data set 2 is twice as bright as data set 1; data set 3 has B = 3 relative to 1. Scaled
  // to data set 2, which keeps K = 1, B = 0.
  TestRun r = scaling_run(3, observations(3, [](int j, float ss) { return j == 1 ? 2.0f : j == 2 ? std::exp(-3 * ss) : 1.0f; }));
  const Printed p = scale(r, 2);
  ASSERT_EQ(p.status, 3) << p.stop << p.text;
  const std::vector<DataSet>& s = r.tables.sets;
  EXPECT_EQ(std::make_pair(s[1].k, s[1].b), std::make_pair(1.0f, 0.0f));
  EXPECT_NEAR(s[0].k / 2.0f, 1.0f, 0.01f);
  EXPECT_NEAR(s[0].b, 0.0f, 0.05f);
  EXPECT_NEAR(s[2].k / 2.0f, 1.0f, 0.01f);
  EXPECT_NEAR(s[2].b, 3.0f, 0.05f);
  // The pair lines show the last comparison, made with the factors of the earlier cycles
  // applied: ratios near 1 and B near 0.
  for (const char* pair : {"\n    1    2", "\n    1    3", "\n    2    3"}) {
    const size_t at = p.text.find(pair);
    ASSERT_NE(at, std::string::npos) << pair << p.text;
    EXPECT_NEAR(std::stod(p.text.substr(at + 39, 17)), 1.0, 0.002) << pair;
    EXPECT_NEAR(std::stod(p.text.substr(at + 56, 15)), 0.0, 0.01) << pair;
  }
  EXPECT_TRUE(testing::contains(p.text, "\n    1.0000   0.000    set2.hkl" + std::string(42, ' ') + "\n"));
}

TEST(Xorder, StopsAndWarnings) {
  const std::string unable = "\n" + std::string(15, ' ') + "PROGRAM IS UNABLE TO PRODUCE A SCALED DATA SET.\n";
  // Identical data sets: no B equation has weight, the matrix is zero.
  TestRun same = scaling_run(2, observations(2, alike, 5, false));
  Printed p = scale(same, 1);
  EXPECT_EQ(p.stop, " !!! ERROR !!!");
  EXPECT_TRUE(p.text.ends_with("\n\n\n !!! ERROR !!! INACCURATE SCALING FACTORS.\n" + std::string(15, ' ') +
                               "RANK OF NORMAL MATRIX IS    0 INSTEAD OF    2" + unable))
      << p.text;
  // Data set 3 shares no reflection with data sets 1 and 2.
  TestRun apart = scaling_run(3, observations(3, alike, 5, true, [](int j, int h) { return (j == 2) == (h % 2 == 1); }));
  p = scale(apart, 1);
  EXPECT_EQ(p.stop, " !!! ERROR !!!");
  EXPECT_TRUE(p.text.ends_with("\n\n\n !!! ERROR !!! INSUFFICIENT NUMBER OF COMMON STRONG REFLECTIONS." + unable)) << p.text;
  EXPECT_TRUE(testing::contains(p.text, "\n    1    3           0           0.000")) << p.text;
  // Unrelated intensities: a dangerously small correlation, scaling goes on.
  std::vector<Measured> a = observations(1, alike, 1);
  for (Measured m : observations(1, alike, 2)) a.push_back({1, m.h, m.k, m.l, m.i, m.sigma});
  TestRun unrelated = scaling_run(2, a);
  p = scale(unrelated, 1);
  EXPECT_EQ(p.status, 2) << p.stop;
  EXPECT_TRUE(testing::contains(p.text, "\n\n\n !!! WARNING !!! SOME CORRELATION FACTORS ARE DANGEROUSLY SMALL.\n"
                                        " *** DATA SETS MAY BE INCOMPATIBLE.***\n\n\n K*EXP(B*SS)"))
      << p.text;
  // One data set: nothing done, nothing printed.
  TestRun single = scaling_run(1, observations(1, alike));
  p = scale(single, 1);
  EXPECT_EQ(std::make_pair(p.status, p.text), std::make_pair(0, std::string()));
}

}  // namespace
}  // namespace velmar
