// The correction-factor refinement and the error-model fit on small hand-made data sets, and
// the scaling driver through whole runs.
#include "scaling/scaling_driver.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "driver/assembly.hpp"
#include "scaling/corfac.hpp"
#include "scaling/error_model_fit.hpp"
#include "statistics/scaled_data.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::make_run;
using testing::Measured;
using testing::TestRun;

// Reflections of P1 (cell 20 A) observed `n` times in each data set with Gaussian noise of
// the given sigma; data set j's intensities are the true ones times scale[j].
std::vector<Measured> repeated(std::vector<float> scale, int n, float sigma, unsigned seed = 3) {
  std::mt19937 rng(seed);
  std::exponential_distribution<float> wilson(1.0f / 2000.0f);
  std::normal_distribution<float> noise;
  std::vector<Measured> m;
  for (int h = 1; h <= 8; ++h)
    for (int k = -8; k <= 8; ++k)
      for (int l = -8; l <= 8; ++l) {
        const float i = 300.0f + wilson(rng);
        for (int j = 0; j < int(scale.size()); ++j)
          for (int r = 0; r < n; ++r)
            m.push_back({j, h, k, l, scale[size_t(j)] * (i + sigma * noise(rng)), scale[size_t(j)] * sigma,
                         {100.0f, 100.0f, float(1 + r), 0.0f}});
      }
  return m;
}

TestRun prepared(int nset, const std::vector<Measured>& m) {
  std::vector<std::pair<std::string, int>> sets;
  for (int j = 0; j < nset; ++j) sets.emplace_back(std::string("s").append(std::to_string(j + 1)), 1);
  TestRun r = make_run(1, {20, 20, 20, 90, 90, 90}, {{"o", 1}}, sets, m);
  data_set_ranges(r.unique, r.obs, r.tables.sets);
  return r;
}

// (The factors' recovery and their division out of the observations: the recovery tests.)
TEST(Corfac, DataSetOfWeakObservationsKeepsFactorOne) {
  // Merged geometry: one factor per kind and data set. A data set whose observations are all
  // weak contributes nothing: its factor stays 1 and its observations are divided by 1.
  TestRun weak = prepared(2, repeated({1.0f, 1.0f}, 2, 20.0f));
  for (size_t u = 0; u < weak.unique.size(); ++u)
    for (int32_t i = 0; i < weak.unique.count(u, 1); ++i) weak.obs.intensity[size_t(weak.unique.first(u, 1) + i)] = 1.0f;
  count_usable_observations(weak.tables, 3.0f, weak.unique, weak.obs);
  const std::vector<CorrectionGroup> groups = correction_groups(weak.tables);
  const std::vector<float> nodes = setgrid2(weak.tables.sets, setgrid1(weak.tables.sets, 50));
  CorfacWork work;
  const KindRefinement w = corfac(CorrectionKind::kDecay, groups, weak.tables, 3.0f, nodes, weak.unique, weak.obs, work);
  ASSERT_EQ(w.factors.size(), 2u);
  EXPECT_EQ(w.factors[1], 1.0f);
  EXPECT_EQ(weak.obs.corr[size_t(weak.unique.first(10, 1))], 1.0f);
}

TEST(ErrorModelFit, MisfitsAndIterations) {
  // Counting sigmas 20 that understate the scatter (sd 30): a comes out near (30/20)^2.
  std::vector<Measured> m = repeated({1.0f}, 4, 30.0f);
  for (Measured& o : m) o.sigma = 20.0f;
  m.push_back({0, 9, 9, 9, 5000.0f, 20.0f});   // two strongly disagreeing observations
  m.push_back({0, 9, 9, 9, 9000.0f, 20.0f});
  m.push_back({0, 1, 1, 1, 2000.0f, -5.0f});   // a sigma that is not positive
  TestRun r = prepared(1, m);
  count_usable_observations(r.tables, 3.0f, r.unique, r.obs);
  const std::vector<CorrectionGroup> groups = correction_groups(r.tables);
  ASSERT_EQ(groups.size(), 1u);
  const int iterations = refine_error_model(groups, r.tables, r.unique, r.obs);
  EXPECT_GE(iterations, 3);
  EXPECT_LE(iterations, kMaxErrorModelIterations);
  EXPECT_NEAR(r.tables.sets[0].model.a, 2.25f, 0.2f);
  EXPECT_GE(r.tables.sets[0].model.b, r.tables.sets[0].range.b_min);
  size_t u = 0;
  while (!(r.unique.uniq[u].h == 9 && r.unique.uniq[u].k == 9 && r.unique.uniq[u].l == 9)) ++u;
  const auto first = size_t(r.unique.first(u, 0));
  EXPECT_EQ(std::make_pair(r.obs.misfit[first], r.obs.misfit[first + 1]), std::make_pair(uint8_t{1}, uint8_t{1}))
      << "rejecting one of two leaves one: both go";
  size_t v = 0;
  while (!(r.unique.uniq[v].h == 1 && r.unique.uniq[v].k == 1 && r.unique.uniq[v].l == 1)) ++v;
  int marked = 0;
  for (int32_t i = 0; i < r.unique.count(v, 0); ++i)
    if (r.obs.sigma[size_t(r.unique.first(v, 0) + i)] < 0) marked += r.obs.misfit[size_t(r.unique.first(v, 0) + i)];
  EXPECT_EQ(marked, 1) << "the non-positive sigma is a misfit";

  // The final sigmas keep the misfits negative (their size: the recovery tests).
  const std::vector<DataSetBlock> blocks = {{0, int64_t(r.obs.size()) - 1}};  // all but the end marker
  final_sigmas(r.tables, blocks, r.obs);
  EXPECT_LT(r.obs.sigma[first], 0.0f);
}

TEST(Scalsets, OneDataSetStillGetsCorrectionsImagesAndErrorModel) {
  testing::TempDir dir;
  ASSERT_TRUE(testing::synthesize(dir, "s.hkl", "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.5 --seed 4 --images 90 "
                                                "--multiplicity 3 --decay 0.2 0.5 --error-model 1.5 0.0005"));
  dir.write("VELMAR.INP", "OUTPUT_FILE=o.hkl\nINPUT_FILE=s.hkl\n");
  const testing::RunResult r = testing::run_velmar(dir);
  ASSERT_EQ(r.status, 0) << r.report;
  const std::pair<const char*, const char*> sections[] = {
      {"           CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION\n", "DECAY_001.cbf"},
      {"  CORRECTION FACTORS AS FUNCTION OF X (fast) & Y(slow) IN THE DETECTOR PLANE\n", "MODPIX_001.cbf"},
      {"   CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & DETECTOR SURFACE POSITION\n", "ABSORP_001.cbf"}};
  for (const auto& [title, image] : sections) EXPECT_TRUE(testing::contains(r.report, title) && dir.exists(image)) << image;
  EXPECT_TRUE(testing::contains(r.report, "     a        b          ISa    ISa0   INPUT DATA SET\n"));
  EXPECT_FALSE(testing::contains(r.report, " 1.000E+00  1.000E-04")) << "the model was refined";
}

}  // namespace
}  // namespace velmar
