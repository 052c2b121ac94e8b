// The loader, through whole runs: accepted and rejected counts, Friedel handling, the
// exclusion list, consistency warnings and the stop messages of unusable data sets. (Every
// measured file is loaded by WilsonRun.EveryMeasuredFilePrintsItsWilsonSection.)
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "common/scratch_files.hpp"
#include "driver/assembly.hpp"
#include "driver/control_file.hpp"
#include "input/loader.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::contains;
using testing::kvd_file;
using testing::RunResult;
using testing::TempDir;

const std::string kRun = "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\n";

// Mean intensity, accepted and rejected counts of data set `iset` in the loading summary.
std::array<double, 3> summary_of(const std::string& report, int iset) {
  std::array<double, 3> v = {-1, -1, -1};
  char row[8];
  std::snprintf(row, sizeof row, "\n%4d ", iset);
  const size_t head = report.find(" SET# INTENSITY  ACCEPTED REJECTED\n");
  const size_t at = head == std::string::npos ? head : report.find(row, head);
  if (at != std::string::npos) std::istringstream(report.substr(at + 6)) >> v[0] >> v[1] >> v[2];
  return v;
}

TEST(Loader, CountsAndMeanOfASmallFile) {
  TempDir dir;
  // P2_12_12_1: (2,0,0) is allowed, (1,0,0) and (0,0,3) absent; sigma <= 0 is not used;
  // (1,1,1) lies outside the accepted range 30..3 A.
  dir.write("a.hkl", kvd_file("  2 0 0 100.0 10.0\n  1 0 0 50.0 5.0\n  0 0 3 70.0 5.0\n"
                              "  2 2 3 -40.0 0.0\n  5 5 5 300.0 9.0\n  1 1 1 10.0 1.0\n"));
  const RunResult r = testing::run_velmar(dir, kRun + "INCLUDE_RESOLUTION_RANGE=30 3\n");
  EXPECT_EQ(r.status, 0) << r.report;
  EXPECT_EQ(summary_of(r.report, 1), (std::array<double, 3>{200, 2, 0})) << r.report;
}

// The first data set is listed before the second stops the run; no scratch file is left.
TEST(Loader, UnusableDataSetsStopTheRun) {
  const std::string useless = "\n !!! ERROR !!! USELESS DATA ON INPUT REFLECTION FILE\n\n";
  const std::pair<std::string, std::string> cases[] = {
      {"  2 0 0 100.0 0.0\n  4 0 0 100.0 -1.0\n", useless},
      {"  2 0 0 -100.0 1.0\n", useless},
      {"  2 0 0 100.0\n", "\n !!! ERROR !!! CANNOT OPEN OR READ INPUT DATA FILE\n\n"},
      {"  40000 0 0 100.0 1.0\n",
       "\n !!! ERROR !!! REFLECTION INDICES TOO LARGE (MORE THAN 32766) ON INPUT DATA FILE\n\n"},
  };
  for (const auto& [data, message] : cases) {
    TempDir dir;
    dir.write("a.hkl", kvd_file("  2 0 0 100.0 10.0\n"));
    dir.write("b.hkl", kvd_file(data));
    const RunResult r = testing::run_velmar(dir, kRun + "INPUT_FILE=b.hkl\n");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(r.report.ends_with(message)) << data << r.report;
    EXPECT_EQ(summary_of(r.report, 1)[1], 1) << data;
    EXPECT_GE(summary_of(r.report, 2)[1], 0) << data;  // the failing data set is listed too
    EXPECT_FALSE(dir.exists("VMROUT_01.tmp"));
  }
}

TEST(Loader, AnomalFilesUnderBothFriedelSettings) {
  // h k l I+ s+ I- s- and four further values; without Friedel's law two records for the
  // first line, with it one combined record per line.
  const std::string anomal = "  1 2 3 100.0 10.0 300.0 10.0 0 0 0 0\n  2 2 2 50.0 5.0 0.0 -1.0 0 0 0 0\n";
  for (const auto& [law, accepted, mean] : {std::tuple{"FALSE", 3, 150.0}, std::tuple{"TRUE", 2, 125.0}}) {
    TempDir dir;
    dir.write("a.hkl", anomal);
    const RunResult r = testing::run_velmar(dir, "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\nOUTPUT_FILE=o\n"
                                                 "FRIEDEL'S_LAW=" + std::string(law) + "\nINPUT_FILE=a.hkl ANOMAL\n");
    EXPECT_EQ(std::make_pair(r.status, summary_of(r.report, 1)), std::make_pair(0, std::array<double, 3>{mean, double(accepted), 0}))
        << law << r.report;
  }
}

TEST(Loader, InconsistentCellWarnsUnlessReindexed) {
  const std::string warning = "\n !!! WARNING !!! INCONSISTENT SPACE GROUP OR CELL CONSTANTS\n\n";
  for (const std::string reidx : {"", "REIDX=-1 0 0 0 0 -1 0 0 0 0 1 0\n"}) {
    TempDir dir;
    // a 15 % off; two resolutions, as the Wilson statistics need
    dir.write("a.hkl", kvd_file("  2 0 0 100.0 10.0\n  0 2 0 80.0 8.0\n", false,
                                "!SPACE_GROUP_NUMBER=19\n!UNIT_CELL_CONSTANTS= 57.5 60 70 90 90 90\n"));
    const RunResult r =
        testing::run_velmar(dir, "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\n" + reidx + kRun);
    EXPECT_EQ(std::make_tuple(r.status, contains(r.report, warning), contains(r.terminal, warning)),
              std::make_tuple(0, reidx.empty(), reidx.empty()));
  }
}

TEST(Loader, ReindexingAppliesExceptToTheReferenceSet) {
  // REIDX swaps h and l: (0,0,2) becomes (2,0,0), allowed, while (2,0,0) becomes (0,0,2),
  // also allowed; (0,0,3) becomes (3,0,0), absent. The reference set keeps its indices.
  // (Loaded in the test's process: two reflections are too few for the scaling that follows.)
  TempDir dir;
  const std::string p222 = "!SPACE_GROUP_NUMBER=16\n!UNIT_CELL_CONSTANTS= 50 50 50 90 90 90\n";
  dir.write("a.hkl", kvd_file("  0 0 3 100.0 10.0\n  0 0 2 100.0 10.0\n", false, p222));
  dir.write("r.hkl", kvd_file("  0 0 3 100.0 10.0\n  0 0 2 100.0 10.0\n", false, p222));
  testing::InDirectory in(dir);
  ControlTables t;
  const std::string control = "SPACE_GROUP_NUMBER=17\nUNIT_CELL_CONSTANTS=50 50 50 90 90 90\n"
                              "REIDX=0 0 1 0 0 1 0 0 1 0 0 0\nREFERENCE_DATA_SET=r.hkl\n" + kRun;
  t.capacity = prescan_capacity(control);
  const Report quiet{nullptr, nullptr};
  pvelmar(control, quiet, kMaxShells, t);
  UnitTable units;
  readhkl1(quiet, t, make_loading_jobs(t.run.processors, 2, units));
  // P222_1: 00l with l odd is absent. Reindexed (3,0,0) survives, (2,0,0) too; the
  // reference set keeps (0,0,3), which is absent.
  EXPECT_EQ(std::make_pair(t.sets[0].load.nrec, t.sets[1].load.nrec), std::make_pair(int64_t{2}, int64_t{1}));
  remove_all_scratch_files();
}

TEST(Loader, ExclusionList) {
  TempDir dir;
  dir.write("a.hkl", kvd_file("  2 2 2 100.0 10.0\n -2 2 -2 100.0 10.0\n  2 2 4 100.0 10.0\n  4 4 4 10.0 1.0\n"));
  // (2,2,2) and a symmetry mate of it twice; one reflection not in the data.
  dir.write("REMOVE.HKL", "2 2 2\n-2 -2 2\n2,-2,2\n9 9 9\n");
  RunResult r = testing::run_velmar(dir, kRun);
  EXPECT_EQ(r.status, 0) << r.report;
  EXPECT_TRUE(contains(r.report, "\nNUMBER OF UNIQUE REFLECTIONS IN FILE \"REMOVE.HKL\"       2\n"));
  EXPECT_EQ(std::make_pair(summary_of(r.report, 1)[1], summary_of(r.report, 1)[2]), std::make_pair(2.0, 2.0));

  dir.write("REMOVE.HKL", "");
  r = testing::run_velmar(dir);
  EXPECT_FALSE(contains(r.report, "REMOVE.HKL"));
  EXPECT_EQ(summary_of(r.report, 1)[2], 0);

  std::string many;
  for (int h = 1; h <= 100; ++h)  // 6000 distinct reflections
    for (int k = 0; k < 60; ++k) many += std::to_string(h) + " " + std::to_string(k) + " " + std::to_string(2 * (k + 1)) + "\n";
  dir.write("REMOVE.HKL", many + "2 2 2\n");
  r = testing::run_velmar(dir);
  EXPECT_TRUE(contains(r.report, "\"REMOVE.HKL\"    4985\n"));
  EXPECT_EQ(summary_of(r.report, 1)[2], 0);  // (2,2,2) came after the first 4985
}

// A measured file against an independent count: records with sigma > 0 inside the given
// resolution range, minus the absences of Pbca, split into excluded and accepted.
TEST(Loader, MeasuredFileCountsMatchAnIndependentCount) {
  const std::string file = testing::real_data("feacac13.hkl");
  if (file.empty()) GTEST_SKIP() << "measured data not available";
  TempDir dir;
  const std::set<std::array<int, 3>> removed = {{2, 0, 2}, {1, 2, 3}, {4, 1, 2}, {3, 3, 3}};
  dir.write("REMOVE.HKL", "2 0 -2\n-1 2 3\n4 -1 -2\n3 3 3\n");
  const RunResult r = testing::run_velmar(dir, "OUTPUT_FILE=o\nINPUT_FILE=" + file + "\nINCLUDE_RESOLUTION_RANGE=8 1.2\n");
  ASSERT_EQ(r.status, 0) << r.report;
  const double a = 15.301, b = 13.562, c = 16.490;
  std::array<double, 3> expected = {0, 0, 0};  // -, accepted, rejected
  std::ifstream in(file);
  bool data = false;
  for (std::string line; std::getline(in, line);) {
    data = data || line.find("!END_OF_HEADER") != std::string::npos;
    std::istringstream f(line);
    int h, k, l;
    double i, s;
    if (!data || line.find('!') != std::string::npos || !(f >> h >> k >> l >> i >> s) || s <= 0) continue;
    const bool absent = (h == 0 && k % 2 != 0) || (k == 0 && l % 2 != 0) || (l == 0 && h % 2 != 0);
    const double d = 1.0 / std::sqrt(h * h / (a * a) + k * k / (b * b) + l * l / (c * c));
    if (!absent && d <= 8.0 && d >= 1.2) ++expected[removed.count({std::abs(h), std::abs(k), std::abs(l)}) ? 2 : 1];
  }
  EXPECT_GT(expected[2], 0);
  const std::array<double, 3> got = summary_of(r.report, 1);
  EXPECT_EQ(std::make_pair(got[1], got[2]), std::make_pair(expected[1], expected[2]));
}

}  // namespace
}  // namespace velmar
