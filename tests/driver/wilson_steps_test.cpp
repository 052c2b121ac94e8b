// The mean-intensity list, the absolute-scale step and the Wilson sections: on hand-built
// observation lists and through whole runs.
#include "driver/wilson_steps.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "statistics/mean_intensity_list.hpp"
#include "statistics/scaled_data.hpp"

namespace velmar {
namespace {

using namespace velmar::testing;

bool no_scratch_file(const TempDir& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".tmp") return false;
  return true;
}

TEST(Makref, LinesPerGroupSkipUnusableObservations) {
  TestRun run = make_run(19, {50, 60, 70, 90, 90, 90}, {{"a.hkl", 1}, {"b.hkl", 1}, {"", 1}}, {{"s1", 1}, {"s2", 2}, {"ref", 3}},
                         {{0, 1, 2, 3, 100, 10}, {1, -1, 2, -3, 200, 10},
                          {0, 2, 2, 3, 50, 5, {}, 2.0f},    // I F = 100, sigma F = 10
                          {0, 2, 2, -3, 999, -5},           // rejected
                          {1, 2, -2, 3, 999, 5, {}, 0.0f},  // no correction factor
                          {2, 1, 2, 3, 5000, 1}, {2, 3, 1, 1, 7, 1},  // reference set only
                          {0, 1, 0, 0, 10, 1},              // systematically absent
                          {1, 3, 3, 3, -20, 4}});
  TempDir dir;
  const std::string name = dir.file("VMROUT_01.tmp");
  // The lines up to their 1/d^2 column (its values and range: the Wilson lines of the runs below).
  const std::string l123 = "     1     2     3  0.", l333 = "     3     3     3 -0.2000000E+02  0.4000000E+01";
  const struct {
    int group;
    std::vector<std::string> lines;
  } cases[] = {
      {0, {l123 + "1500000E+03  0.7071068E+01", "     2     2     3  0.1000000E+03  0.1000000E+02", l333}},
      {2, {l123 + "2000000E+03  0.1000000E+02", l333}},
      {3, {}},
  };
  for (const auto& c : cases) {
    const MeanIntensityList list = makref(run.tables, run.unique, run.obs, c.group, name);
    const std::vector<std::string> lines = file_lines(name);
    ASSERT_EQ(lines.size(), c.lines.size()) << c.group;
    EXPECT_EQ(list.lines, static_cast<int64_t>(c.lines.size()));
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(0, 48), c.lines[i]);
  }
  EXPECT_EQ(stop_text([&] { makref(run.tables, run.unique, run.obs, 0, dir.file("no/such/dir.tmp")); }),
            " !!! ERROR !!! CANNOT WRITE FILE " + dir.file("no/such/dir.tmp"));
}

TEST(AbsoluteScale, FactorAndCellVolume) {
  const double v = cell_volume({50, 60, 70, 90, 90, 90});
  EXPECT_NEAR(v, 210000.0, 0.01);
  EXPECT_NEAR(cell_volume({40, 50, 60, 90, 100, 90}), 120000.0 * std::sin(100.0 * M_PI / 180.0), 0.05);
  EXPECT_NEAR(cell_volume({30, 30, 30, 60, 60, 60}), 27000.0 / std::sqrt(2.0), 0.05);
  for (const auto& [t, factor] : {std::pair{0.0, 1.0}, {5.0, std::exp(5.0)}, {-5.0, std::exp(-5.0)}, {22.9, std::exp(22.9)},
                                  {23.1, 1.0}, {-23.1, 1.0}})
    EXPECT_NEAR(absolute_scale_factor(static_cast<float>(std::log(1.09172 * v) - t), v), factor, 2e-5 * factor) << t;
}

TEST(AbsoluteScale, EmptyListEndsTheRunQuietly) {
  TempDir dir;
  TestRun run = make_run(1, {30, 35, 40, 90, 90, 90}, {{dir.file("o.hkl"), 1}}, {{"s.hkl", 1}},
                         {{0, 1, 2, 3, 100, -10}, {0, 2, 2, 3, 50, -5}, {0, 1, 0, 0, 80, -1}});  // no sigma > 0
  Report rep{std::fopen(dir.file("lp").c_str(), "w"), nullptr};
  EXPECT_FALSE(place_on_absolute_scale(rep, run.tables, run.unique, run.obs, dir.file("VMROUT_01.tmp")));
  EXPECT_FALSE(print_wilson_sections(rep, run.tables, run.unique, run.obs, dir.file("VMROUT_01.tmp")));
  std::fclose(rep.file);
  EXPECT_TRUE(no_scratch_file(dir));
  // Nothing but the head of the section that found its list empty.
  EXPECT_EQ(dir.read("lp"), "\n\n" + std::string(frame_line()) + "\n    WILSON STATISTICS OF SCALED DATA SET: " +
                                padded50(dir.file("o.hkl")) + "\n" + std::string(frame_line()) + "\n");
  for (float c : run.obs.corr) EXPECT_EQ(c, 1.0f);
}

// The factor multiplies every correction factor: the scaled data's Wilson line has the
// intercept of a protein crystal of this volume (the generator's mean intensity at SS = 0 is
// 1000), and the generator's B.
#ifdef VELMAR_SYNTH_BINARY
TEST(WilsonRun, FactorAndASectionPerNamedOutputFile) {
  TempDir dir;
  for (const std::string seed : {"1", "2"})
    ASSERT_TRUE(synthesize(dir, "s" + seed + ".hkl", "--sg 19 --cell 60 70 80 90 90 90 --dmin 2.2 --wilson-b 30 --obs 80000 --seed " + seed));
  dir.write("VELMAR.INP", "OUTPUT_FILE=one.hkl\nINPUT_FILE=s1.hkl\nOUTPUT_FILE=two.hkl\nINPUT_FILE=s2.hkl\n");
  const RunResult r = run_velmar(dir);
  ASSERT_EQ(r.status, 0) << r.report;
  EXPECT_TRUE(no_scratch_file(dir));
  const std::string factor = "\nFACTOR TO PLACE ALL DATA SETS TO AN APPROXIMATE ABSOLUTE SCALE";
  const size_t at = r.report.find(factor);
  ASSERT_TRUE(at != std::string::npos && contains(r.terminal, factor));
  EXPECT_EQ(r.report.substr(at + factor.size(), 5) + r.report.substr(at + factor.size() + 13, 39),
            "   0.\n(ASSUMING A PROTEIN WITH 50% SOLVENT)\n");  // E13.4
  const std::string head = "\n\n\n" + std::string(frame_line()) + "\n    WILSON STATISTICS OF SCALED DATA SET: ";
  const size_t one = r.report.find(head + padded50("one.hkl") + "\n" + std::string(frame_line()) + "\n");
  const size_t two = r.report.find(head + padded50("two.hkl") + "\n" + std::string(frame_line()) + "\n");
  ASSERT_NE(one, std::string::npos);
  EXPECT_LT(r.report.rfind("R-FACTORS FOR INTENSITIES OF DATA SET"), one);
  EXPECT_LT(one, two);
  EXPECT_LT(two, r.report.find("cpu time used by VELMAR"));
  EXPECT_FALSE(contains(r.terminal, "WILSON STATISTICS"));
  const size_t fit = r.report.find("WILSON LINE (using all data) : A=", one) + 33;  // A= (F8.3) B= (F8.3)
  EXPECT_NEAR(std::stod(r.report.substr(fit, 8)), std::log(1.09172 * 60 * 70 * 80), 0.05);
  EXPECT_NEAR(std::stod(r.report.substr(fit + 11, 8)), 30.0, 1.0);
  EXPECT_NEAR(std::stod(r.report.substr(at + factor.size(), 13)) * 1000.0 / (1.09172 * 60 * 70 * 80), 1.0, 0.05);
}
#endif

TEST(WilsonRun, FailedWilsonRunStopsAndLeavesNoScratchFile) {
  TempDir dir;
  dir.write("a.hkl", kvd_file("  1 2 3 100.0 10.0\n  -1 2 3 110.0 10.0\n", true));  // one reflection
  dir.write("VELMAR.INP", "OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\n");
  const RunResult r = run_velmar(dir);
  EXPECT_EQ(r.status, 1);
  const std::string end = " !!! ERROR !!! NO DATA FOR WILSON PLOT\n !!! ERROR !!! CANNOT OPEN OR READ FILE  " +
                          padded50("VMROUT_01.tmp") + "\n";
  EXPECT_TRUE(r.report.ends_with(end)) << r.report;
  EXPECT_TRUE(r.terminal.ends_with(end));
  EXPECT_TRUE(no_scratch_file(dir));
}

TEST(WilsonRun, EveryMeasuredFilePrintsItsWilsonSection) {
  for (const char* name : {"feacac13.hkl", "lta_t1.hkl", "lysozyme_wedge.hkl", "p1_wedge.hkl", "stw_t1.hkl", "stw_t2.hkl",
                           "stw_t3.hkl", "stw_t4.hkl"}) {
    const std::string path = real_data(name);
    if (path.empty()) GTEST_SKIP() << "measured data not available";
    TempDir dir;
    dir.write("VELMAR.INP", "OUTPUT_FILE=out.hkl\nINPUT_FILE=" + path + "\n");
    const RunResult r = run_velmar(dir);
    EXPECT_EQ(r.status, 0) << name << r.report;
    // The section from its head to its last table (their layout: the Wilson statistics tests).
    EXPECT_TRUE(contains(r.report, "    WILSON STATISTICS OF SCALED DATA SET: " + padded50("out.hkl")) &&
                contains(r.report, " Na(Z)obs/Na(Z)exp versus resolution and Z (0.1-1.0)\n")) << name;
    EXPECT_TRUE(no_scratch_file(dir)) << name;
  }
}

}  // namespace
}  // namespace velmar
