// Scaling of measured data: the four sweeps of one sample (electron diffraction, STW
// files) agree better with each other after scaling, and the merged statistics improve.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "common/scratch_files.hpp"
#include "datasets/pair_comparison.hpp"
#include "driver/assembly.hpp"
#include "driver/control_file.hpp"
#include "input/loader.hpp"
#include "scaling/scaling_driver.hpp"
#include "statistics/statistics.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

// The stages of a run up to the assembled unique reflections, in the test's process.
struct Loaded {
  ControlTables t;
  std::vector<DataSetBlock> blocks;
  ObservationList obs;
  UniqueTable unique;
  std::vector<float> shells;

  explicit Loaded(const std::string& control) {
    const Report quiet{nullptr, nullptr};
    t.capacity = prescan_capacity(control);
    pvelmar(control, quiet, kMaxShells, t);
    UnitTable units;
    const std::vector<LoadingJob> jobs = make_loading_jobs(1, static_cast<int>(t.sets.size()), units);
    readhkl1(quiet, t, jobs);
    blocks = observation_blocks(t.sets);
    read_back_observations(jobs, blocks, obs, -1);
    assemble_unique_reflections(t, blocks, obs, unique);
    shells = resolution_shells(t, unique.size());
  }
};

// Mean correlation between all pairs of data sets on their common strong reflections.
double mean_pair_correlation(const Loaded& l) {
  StrongMeans means;
  strong_means(l.unique, l.obs, l.t.sets, l.t.run.min_i_sigma, means);
  PairWork work;
  std::vector<double> r;
  for (int j = 1; j < l.unique.nset; ++j)
    for (int i = 0; i < j; ++i) r.push_back(xpair(i, j, l.unique, means, l.t.sets, work).r);
  return std::accumulate(r.begin(), r.end(), 0.0) / double(r.size());
}

ShellValues total_row(const Loaded& l) {
  RandomState rng;
  const GroupStatistics st = shell_statistics(ScaledData{l.t, l.unique, l.obs, "1.0.0", " 6-Dec-2026"}, 1, l.shells, rng);
  return shell_values(st.shell.back());
}

TEST(MeasuredData, SweepsOfOneSampleAgreeBetterAfterScaling) {
  std::string control = "WFAC1=1000\nOUTPUT_FILE=stw.hkl\n";  // statistics over all observations
  for (const char* name : {"stw_t1.hkl", "stw_t2.hkl", "stw_t3.hkl", "stw_t4.hkl"}) {
    const std::string file = testing::real_data(name);
    if (file.empty()) GTEST_SKIP() << "measured data not available";
    control += "INPUT_FILE=" + file + "\n";
  }
  testing::TempDir dir;
  testing::InDirectory in(dir);
  Loaded l(control);
  const double before = mean_pair_correlation(l);
  const ShellValues unscaled = total_row(l);
  const std::vector<float> input_sigma = l.obs.sigma;
  std::FILE* report = std::tmpfile();
  scalsets(Report{report, nullptr}, l.t, l.blocks, l.unique, l.obs);
  std::fclose(report);
  const ShellValues scaled = total_row(l);
  // The same selection of strong reflections as before: input sigmas, no error model.
  l.obs.sigma = input_sigma;
  for (DataSet& s : l.t.sets) s.model = {};
  const double after = mean_pair_correlation(l);
  std::printf("STW sweeps: mean correlation between sweeps %.3f before, %.3f after scaling; R-meas %.1f%% -> %.1f%%, "
              "CC(1/2) %.1f -> %.1f\n", before, after, unscaled.r_meas, scaled.r_meas, unscaled.cc_half, scaled.cc_half);
  EXPECT_GT(after, before + 0.01);
  EXPECT_LT(scaled.r_meas, unscaled.r_meas - 1.0f);
  EXPECT_GT(scaled.cc_half, unscaled.cc_half);
  remove_all_scratch_files();
}

}  // namespace
}  // namespace velmar
