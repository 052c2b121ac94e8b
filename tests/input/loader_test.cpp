// The loader, through whole runs: accepted and rejected counts, Friedel handling, the
// exclusion list, consistency warnings and the stop messages of unusable data sets.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "common/scratch_files.hpp"
#include "driver/assembly.hpp"
#include "driver/control_file.hpp"
#include "input/loader.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::contains;
using testing::RunResult;
using testing::TempDir;

std::string kvd_file(const std::string& data, int sg = 19, const std::string& cell = "50 60 70 90 90 90",
                     const std::string& extra = "") {
  return "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=TRUE\n!SPACE_GROUP_NUMBER=" + std::to_string(sg) +
         "\n!UNIT_CELL_CONSTANTS= " + cell + "\n" + extra +
         "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n"
         "!ITEM_SIGMA(IOBS)=5\n!END_OF_HEADER\n" + data + "!END_OF_DATA\n";
}

RunResult run(const TempDir& dir, const std::string& control) {
  dir.write("VELMAR.INP", control);
  return testing::run_velmar(dir);
}

// The summary line of data set `iset`: mean intensity, accepted and rejected counts.
struct Summary {
  double mean = -1;
  long accepted = -1, rejected = -1;
};

Summary summary_of(const std::string& report, int iset) {
  Summary s;
  const size_t head = report.find(" SET# INTENSITY  ACCEPTED REJECTED\n");
  if (head == std::string::npos) return s;
  std::istringstream in(report.substr(head));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    int n = 0;
    if ((f >> n >> s.mean >> s.accepted >> s.rejected) && n == iset) return s;
  }
  return Summary{};
}

TEST(Loader, CountsAndMeanOfASmallFile) {
  TempDir dir;
  // P2_12_12_1: (2,0,0) is allowed, (1,0,0) and (0,0,3) absent; sigma <= 0 is not used;
  // (1,1,1) lies outside the accepted range 30..3 A.
  dir.write("a.hkl", kvd_file("  2 0 0 100.0 10.0\n  1 0 0 50.0 5.0\n  0 0 3 70.0 5.0\n"
                              "  2 2 3 -40.0 0.0\n  5 5 5 300.0 9.0\n  1 1 1 10.0 1.0\n"));
  const RunResult r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\nINCLUDE_RESOLUTION_RANGE=30 3\n");
  EXPECT_EQ(r.status, 0) << r.report;
  const Summary s = summary_of(r.report, 1);
  EXPECT_EQ(s.accepted, 2);
  EXPECT_EQ(s.rejected, 0);
  EXPECT_DOUBLE_EQ(s.mean, 200.0);
  EXPECT_TRUE(contains(r.report, "   1  0.2000E+03        2      0  a.hkl" + std::string(45, ' ') + "\n"));
  EXPECT_TRUE(contains(r.terminal, "                    READING INPUT REFLECTION DATA FILES\n"));
}

TEST(Loader, UnusableDataSetsStopTheRun) {
  struct Case {
    std::string data, message;
  };
  const std::vector<Case> cases = {
      {"  2 0 0 100.0 0.0\n  4 0 0 100.0 -1.0\n", "\n !!! ERROR !!! USELESS DATA ON INPUT REFLECTION FILE\n\n"},
      {"  2 0 0 -100.0 1.0\n", "\n !!! ERROR !!! USELESS DATA ON INPUT REFLECTION FILE\n\n"},
      {"  2 0 0 100.0\n", "\n !!! ERROR !!! CANNOT OPEN OR READ INPUT DATA FILE\n\n"},
      {"  40000 0 0 100.0 1.0\n",
       "\n !!! ERROR !!! REFLECTION INDICES TOO LARGE (MORE THAN 32766) ON INPUT DATA FILE\n\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("a.hkl", kvd_file(c.data));
    const RunResult r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(r.report.ends_with(c.message)) << c.data << r.report;
    EXPECT_TRUE(contains(r.report, " SET# INTENSITY  ACCEPTED REJECTED\n   1 "));
    EXPECT_FALSE(dir.exists("VMROUT_01.tmp"));
  }
}

TEST(Loader, SecondDataSetFailsAfterTheFirstIsListed) {
  TempDir dir;
  dir.write("a.hkl", kvd_file("  2 0 0 100.0 10.0\n"));
  dir.write("b.hkl", kvd_file("  2 0 0 100.0 0.0\n"));
  const RunResult r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\nINPUT_FILE=b.hkl\n");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(summary_of(r.report, 1).accepted, 1);
  EXPECT_EQ(summary_of(r.report, 2).accepted, 0);
}

TEST(Loader, AnomalFilesUnderBothFriedelSettings) {
  // h k l I+ s+ I- s- and four further values; without Friedel's law two records for the
  // first line, with it one combined record per line.
  const std::string anomal = "  1 2 3 100.0 10.0 300.0 10.0 0 0 0 0\n  2 2 2 50.0 5.0 0.0 -1.0 0 0 0 0\n";
  for (const auto& [law, accepted, mean] : {std::tuple{"FALSE", 3, 150.0}, std::tuple{"TRUE", 2, 125.0}}) {
    TempDir dir;
    dir.write("a.hkl", anomal);
    const RunResult r = run(dir, "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\nOUTPUT_FILE=o\n"
                                 "FRIEDEL'S_LAW=" + std::string(law) + "\nINPUT_FILE=a.hkl ANOMAL\n");
    EXPECT_EQ(r.status, 0) << r.report;
    EXPECT_EQ(summary_of(r.report, 1).accepted, accepted);
    EXPECT_DOUBLE_EQ(summary_of(r.report, 1).mean, mean);
  }
}

TEST(Loader, InconsistentCellWarnsUnlessReindexed) {
  const std::string warning = "\n !!! WARNING !!! INCONSISTENT SPACE GROUP OR CELL CONSTANTS\n\n";
  for (const std::string reidx : {"", "REIDX=-1 0 0 0 0 -1 0 0 0 0 1 0\n"}) {
    TempDir dir;
    // a 15 % off; two resolutions, as the Wilson statistics need
    dir.write("a.hkl", kvd_file("  2 0 0 100.0 10.0\n  0 2 0 80.0 8.0\n", 19, "57.5 60 70 90 90 90"));
    const RunResult r =
        run(dir, "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\n" + reidx + "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(contains(r.report, warning), reidx.empty());
    EXPECT_EQ(contains(r.terminal, warning), reidx.empty());
  }
}

TEST(Loader, ReindexingAppliesExceptToTheReferenceSet) {
  // REIDX swaps h and l: (0,0,2) becomes (2,0,0), allowed, while (2,0,0) becomes (0,0,2),
  // also allowed; (0,0,3) becomes (3,0,0), absent. The reference set keeps its indices.
  // (Loaded in the test's process: two reflections are too few for the scaling that follows.)
  TempDir dir;
  dir.write("a.hkl", kvd_file("  0 0 3 100.0 10.0\n  0 0 2 100.0 10.0\n", 16, "50 50 50 90 90 90"));
  dir.write("r.hkl", kvd_file("  0 0 3 100.0 10.0\n  0 0 2 100.0 10.0\n", 16, "50 50 50 90 90 90"));
  testing::InDirectory in(dir);
  ControlTables t;
  const std::string control =
      "SPACE_GROUP_NUMBER=17\nUNIT_CELL_CONSTANTS=50 50 50 90 90 90\n"
      "REIDX=0 0 1 0 0 1 0 0 1 0 0 0\nREFERENCE_DATA_SET=r.hkl\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\n";
  t.capacity = prescan_capacity(control);
  const Report quiet{nullptr, nullptr};
  pvelmar(control, quiet, kMaxShells, t);
  UnitTable units;
  readhkl1(quiet, t, make_loading_jobs(t.run.processors, 2, units));
  // P222_1: 00l with l odd is absent. Reindexed (3,0,0) survives, (2,0,0) too.
  EXPECT_EQ(t.sets[0].load.nrec, 2);
  // The reference set keeps (0,0,3), which is absent in P222_1.
  EXPECT_EQ(t.sets[1].load.nrec, 1);
  remove_all_scratch_files();
}

TEST(Loader, ExclusionList) {
  TempDir dir;
  dir.write("a.hkl", kvd_file("  2 2 2 100.0 10.0\n -2 2 -2 100.0 10.0\n  2 2 4 100.0 10.0\n  4 4 4 10.0 1.0\n"));
  // (2,2,2) and a symmetry mate of it twice; one reflection not in the data.
  dir.write("REMOVE.HKL", "2 2 2\n-2 -2 2\n2,-2,2\n9 9 9\n");
  RunResult r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
  EXPECT_EQ(r.status, 0) << r.report;
  EXPECT_TRUE(contains(r.report, "\nNUMBER OF UNIQUE REFLECTIONS IN FILE \"REMOVE.HKL\"       2\n"));
  EXPECT_EQ(summary_of(r.report, 1).accepted, 2);
  EXPECT_EQ(summary_of(r.report, 1).rejected, 2);

  dir.write("REMOVE.HKL", "");
  r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
  EXPECT_FALSE(contains(r.report, "REMOVE.HKL"));
  EXPECT_EQ(summary_of(r.report, 1).rejected, 0);

  std::string many;
  for (int h = 1; h <= 100; ++h)  // 6000 distinct reflections
    for (int k = 0; k < 60; ++k) many += std::to_string(h) + " " + std::to_string(k) + " " + std::to_string(2 * (k + 1)) + "\n";
  dir.write("REMOVE.HKL", many + "2 2 2\n");
  r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
  EXPECT_TRUE(contains(r.report, "\"REMOVE.HKL\"    4985\n"));
  EXPECT_EQ(summary_of(r.report, 1).rejected, 0);  // (2,2,2) came after the first 4985
}

// Independent count for a measured file: records with sigma > 0 inside the header's
// resolution range, minus absences (Pbca) and minus those excluded.
struct Expected {
  long accepted = 0, rejected = 0;
};

Expected count_pbca(const std::string& file, double a, double b, double c, double low, double high,
                    const std::set<std::array<int, 3>>& removed) {
  std::ifstream in(file);
  std::string line;
  Expected e;
  bool data = false;
  while (std::getline(in, line)) {
    if (line.find("!END_OF_HEADER") != std::string::npos) { data = true; continue; }
    if (!data || line.find('!') != std::string::npos) continue;
    std::istringstream f(line);
    int h, k, l;
    double i, s;
    if (!(f >> h >> k >> l >> i >> s) || s <= 0) continue;
    const bool absent = (h == 0 && k % 2 != 0) || (k == 0 && l % 2 != 0) || (l == 0 && h % 2 != 0);
    const double d = 1.0 / std::sqrt(h * h / (a * a) + k * k / (b * b) + l * l / (c * c));
    if (absent || d > low || d < high) continue;
    if (removed.count({std::abs(h), std::abs(k), std::abs(l)})) ++e.rejected;
    else ++e.accepted;
  }
  return e;
}

TEST(Loader, MeasuredFileCountsMatchAnIndependentCount) {
  const std::string file = testing::real_data("feacac13.hkl");
  if (file.empty()) GTEST_SKIP() << "measured data not available";
  TempDir dir;
  const std::set<std::array<int, 3>> removed = {{2, 0, 2}, {1, 2, 3}, {4, 1, 2}, {3, 3, 3}};
  dir.write("REMOVE.HKL", "2 0 -2\n-1 2 3\n4 -1 -2\n3 3 3\n");
  const RunResult r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=" + file + "\nINCLUDE_RESOLUTION_RANGE=8 1.2\n");
  ASSERT_EQ(r.status, 0) << r.report;
  const Expected e = count_pbca(file, 15.301, 13.562, 16.490, 8.0, 1.2, removed);
  EXPECT_GT(e.rejected, 0);
  EXPECT_EQ(summary_of(r.report, 1).accepted, e.accepted);
  EXPECT_EQ(summary_of(r.report, 1).rejected, e.rejected);
}

TEST(Loader, EveryMeasuredFileLoads) {
  for (const char* name : {"lysozyme_wedge.hkl", "p1_wedge.hkl", "lta_t1.hkl", "feacac13.hkl", "stw_t1.hkl",
                           "stw_t2.hkl", "stw_t3.hkl", "stw_t4.hkl"}) {
    const std::string file = testing::real_data(name);
    if (file.empty()) GTEST_SKIP() << "measured data not available";
    TempDir dir;
    const RunResult r = run(dir, "OUTPUT_FILE=o\nINPUT_FILE=" + file + "\n");
    EXPECT_EQ(r.status, 0) << name << r.report;
    EXPECT_GT(summary_of(r.report, 1).accepted, 1000) << name << r.report;
  }
}

}  // namespace
}  // namespace velmar
