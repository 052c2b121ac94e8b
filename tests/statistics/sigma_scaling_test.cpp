// Rescaling of sigmas by resolution bin after the zero-dose correction.
#include "statistics/sigma_scaling.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "statistics/scaled_data.hpp"

namespace velmar {
namespace {

using testing::make_run;
using testing::Measured;
using testing::padded50;
using testing::TestRun;

struct Scaled {
  std::vector<float> factors;
  std::string report;
};

Scaled rescale(TestRun& r, int nbin, float wc = 1.5f) {
  std::FILE* f = std::tmpfile();
  const Report rep{f, nullptr};
  Scaled s;
  s.factors = esdsca(rep, wc, nbin, r.tables, r.unique, r.obs);
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) s.report += static_cast<char>(c);
  std::fclose(f);
  return s;
}

// One data set in P1 (cell 50 50 50 90 90 90) with the (1/d)^2 range [0, 0.04]: (h, 0, 0)
// has (1/d)^2 = h^2/2500.
TestRun one_set(int mode, const std::vector<Measured>& m) {
  TestRun r = make_run(1, Cell{50, 50, 50, 90, 90, 90}, {{"out.hkl", mode}}, {{"set1.hkl", 1}}, m);
  r.tables.sets[0].range.ss_min = 0.0f;
  r.tables.sets[0].range.ss_max = 0.04f;
  return r;
}

TEST(SigmaScaling, BinOfAReflection) {
  for (const auto& [ss, bin] : {std::pair{0.01f, 0}, {0.0149f, 0}, {0.0151f, 1}, {0.06f, 9}, {0.11f, 9}, {0.2f, 9}, {0.0f, 0}})
    EXPECT_EQ(sigma_bin(ss, 0.01f, 0.06f, 10), bin) << ss;
}

TEST(SigmaScaling, SmallCasesAndTheTable) {
  // Bin 1 ((1/d)^2 below 0.02): (1,0,0) three times (once as its Friedel mate), J = 110,
  // D = 8, E = 3 (1 - 1/3) = 2: factor 2. Bin 2: (8,0,0) twice, E = 2 (1 - 1/2) = 1, not
  // above 1: factor 1; (9,0,0) once, unusable. The reference data set (blank output name)
  // gets no factors and no table, however its observations scatter.
  const std::vector<Measured> m = {
      {0, 1, 0, 0, 100, 5}, {0, 1, 0, 0, 110, 5}, {0, -1, 0, 0, 120, 5}, {0, 8, 0, 0, 100, 5},
      {0, 8, 0, 0, 110, 5}, {0, 9, 0, 0, 500, -5}, {1, 1, 0, 0, 100, 5}, {1, 1, 0, 0, 300, 5}, {1, 1, 0, 0, 500, 5}};
  TestRun r = make_run(1, Cell{50, 50, 50, 90, 90, 90}, {{"out.hkl", -1}, {"", 1}}, {{"set1.hkl", 1}, {"ref.hkl", 2}}, m);
  for (DataSet& set : r.tables.sets) set.range.ss_min = 0.0f, set.range.ss_max = 0.04f;
  const Scaled s = rescale(r, 2);
  EXPECT_EQ(s.factors, (std::vector<float>{2.0f, 1.0f, 1.0f, 1.0f}));
  // Every sigma of the bin is scaled, kept or not; an unusable one stays negative.
  std::vector<float> sigma;
  for (size_t i = 0; i < r.obs.size(); ++i)
    if (!r.obs.key[i].is_end_marker()) sigma.push_back(r.obs.sigma[i]);
  EXPECT_EQ(sigma, (std::vector<float>{10, 10, 10, 5, 5, -5, 5, 5, 5}));
  const std::string frame = " " + std::string(78, '*') + "\n";
  EXPECT_EQ(s.report, frame + "              SCALING FACTORS FOR Sigma(I) AS FUNCTION OF RESOLUTION\n" + frame +
                          " SCALING FACTORS FOR Sigma(I) FOR DATA SET " + padded50("set1.hkl") + "\n" +
                          std::string(34, ' ') + " RESOLUTION (ANGSTROM)  \n" +
                          "         10.00  5.77\n"
                          " FACTOR   2.00  1.00\n");
}

TEST(SigmaScaling, FriedelMatesAreClassesOfTheirOwn) {
  // The + and - observations of (1,0,0) differ by 100: apart, each class scatters as its
  // sigmas say (D = 8 + 8, E = 2 + 2, factor 2); together the step between them counts.
  const std::vector<Measured> m = {{0, 1, 0, 0, 100, 5},  {0, 1, 0, 0, 110, 5},  {0, 1, 0, 0, 120, 5},
                                   {0, -1, 0, 0, 200, 5}, {0, -1, 0, 0, 210, 5}, {0, -1, 0, 0, 220, 5}};
  TestRun apart = one_set(-2, m);
  EXPECT_EQ(rescale(apart, 1, 0.0f).factors, (std::vector<float>{2.0f}));
  TestRun together = one_set(-1, m);
  EXPECT_GT(rescale(together, 1, 0.0f).factors[0], 10.0f);
}

TEST(SigmaScaling, SingleObservationsContributeNothing) {
  std::vector<Measured> m;
  for (int h = 1; h <= 9; ++h) m.push_back({0, h, 0, 0, 100.0f * h, 3});
  TestRun r = one_set(-1, m);
  const Scaled s = rescale(r, 25);
  EXPECT_EQ(s.factors, std::vector<float>(25, 1.0f));
  // 25 bins print as 20 and 5.
  EXPECT_TRUE(testing::contains(s.report, "\n FACTOR "
                                              "  1.00  1.00  1.00  1.00  1.00  1.00  1.00  1.00  1.00  1.00"
                                              "  1.00  1.00  1.00  1.00  1.00  1.00  1.00  1.00  1.00  1.00\n"
                                              " FACTOR   1.00  1.00  1.00  1.00  1.00\n"));
}

}  // namespace
}  // namespace velmar
