// The printed statistics of an output group, line for line, and whole runs of the program
// through the statistics stage.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/error.hpp"
#include "statistics/scaled_data.hpp"
#include "statistics/statistics.hpp"

namespace velmar {
namespace {

using namespace velmar::testing;

const std::string kFrame = " " + std::string(78, '*');

const std::vector<std::string> kDefinitions = {
    " DEFINITIONS:",
    " R-FACTOR",
    " observed = (SUM(ABS(I(h,i)-I(h))))/(SUM(I(h,i)))",
    " expected = expected R-FACTOR derived from Sigma(I)",
    " COMPARED = number of reflections used for calculating R-FACTOR",
    " I/SIGMA  = mean of intensity/Sigma(I) of unique reflections",
    "            (after merging symmetry-related observations)",
    " Sigma(I) = standard deviation of reflection intensity I",
    "            estimated from sample statistics",
    " R-meas   = redundancy independent R-factor (intensities)",
    " CC(1/2)  = percentage of correlation between intensities from",
    "            random half-datasets. Correlation significant at",
    "            the 0.1% level is marked by an asterisk.",
    " Anomal   = percentage of correlation between random half-sets",
    "  Corr      of anomalous intensity differences. Correlation",
    "            significant at the 0.1% level is marked.",
    " SigAno   = mean anomalous difference in units of its estimated",
    "            standard deviation (|F(+)-F(-)|/Sigma). F(+), F(-)",
    "            are structure factor estimates obtained from the",
    "            merged intensity observations in each parity class.",
    "  Nano    = Number of unique reflections used to calculate",
    "            Anomal_Corr & SigAno. At least two observations",
    "            for each (+ and -) parity are required.",
};

// P1, a = 10 Angstrom, two data sets: (1,0,0) twice and (1,1,0) once in the first shell,
// (2,0,0) three times in the second. Worked out by hand:
//   (1,0,0): mean 105, sigma 7.0711, |dev| 5 and 5, expected deviations sqrt(50/(pi/2));
//   (2,0,0): mean 42, sigma 2.3094, |dev| 2, 2, 0, expected deviations sqrt((32/3)/(pi/2)).
TestRun cubic_run(const std::string& out, int mode) {
  return make_run(1, {10, 10, 10, 90, 90, 90}, {{out, mode}, {"", 1}}, {{"a.hkl", 1}, {"b.hkl", 1}, {"r.hkl", 2}},
                  {{0, 1, 0, 0, 100, 10},
                   {1, 1, 0, 0, 110, 10},
                   {0, 1, 1, 0, 50, 5},
                   {0, 2, 0, 0, 40, 4},
                   {0, -2, 0, 0, 44, 4},
                   {1, 2, 0, 0, 42, 4},
                   {2, 1, 0, 0, 1000, 1}});
}
const std::vector<float> kCubicShells = {5.5f, 2.8f};

struct Printed {
  std::vector<std::string> report, terminal;
};

Printed print_rstat(const TestRun& run, const std::vector<float>& shells) {
  Report rep{std::tmpfile(), std::tmpfile()};
  RandomState rng;
  rstat(rep, run.data(), shells, rng);
  return {split_lines(read_stream(rep.file)), split_lines(read_stream(rep.terminal))};
}

TEST(StatisticsReport, LayoutOfOneOutputGroup) {
  TempDir dir;
  const std::string out = dir.file("merged.hkl");
  const Printed p = print_rstat(cubic_run(out, 1), kCubicShells);
  std::vector<std::string> terminal = {
      kFrame,
      " STATISTICS OF SCALED OUTPUT DATA SET : " + padded50(out),
      " FILE TYPE:         KVD_ASCII      MERGE=TRUE           FRIEDEL'S_LAW=TRUE ",
      "",
      "         0 OUT OF         6 REFLECTIONS REJECTED",
      "         3 REFLECTIONS ON OUTPUT FILE ",
      "",
      kFrame};
  terminal.insert(terminal.end(), kDefinitions.begin(), kDefinitions.end());
  const std::vector<std::string> table = {
      " SUBSET OF INTENSITY DATA WITH SIGNAL/NOISE >= -3.0 AS FUNCTION OF RESOLUTION",
      " RESOLUTION     NUMBER OF REFLECTIONS    COMPLETENESS R-FACTOR  R-FACTOR COMPARED I/SIGMA   R-meas  CC(1/2)"
      "  Anomal  SigAno   Nano",
      "   LIMIT     OBSERVED  UNIQUE  POSSIBLE     OF DATA   observed  expected" + std::string(37, ' ') +
          "      Corr",
      //  limit     observed unique possible  complete  R obs     R exp    comp.  I/sigma  R-meas  CC(1/2) Anomal SigAno Nano
      "     5.50           3       2        13       15.4%       4.8%      5.4%        2   12.42     6.7%   -99.9    -99 "
      "   0.000       0",
      "     2.80           3       1        76        1.3%       3.2%      6.2%        3   18.19     3.9%   -99.9    -99 "
      "   0.000       0",
      "    total           6       3        89        3.4%       4.2%      5.7%        5   14.35     5.7%   100.0    -99 "
      "   0.000       0",
  };
  terminal.insert(terminal.end(), table.begin(), table.end());
  EXPECT_EQ(p.terminal, terminal);
  std::vector<std::string> report = terminal;
  for (const std::string& line : {
           std::string(" ========== STATISTICS OF INPUT DATA SET =========="),
           "  R-FACTORS FOR INTENSITIES OF DATA SET " + padded50("a.hkl"),
           std::string(" RESOLUTION   R-FACTOR   R-FACTOR   COMPARED"),
           std::string("   LIMIT      observed   expected"),
           std::string("     5.50         5.0%       5.6%         1"),
           std::string("     2.80         4.8%       6.2%         2"),
           std::string("    total         4.9%       5.9%         3"),
           "  R-FACTORS FOR INTENSITIES OF DATA SET " + padded50("b.hkl"),
           std::string(" RESOLUTION   R-FACTOR   R-FACTOR   COMPARED"),
           std::string("   LIMIT      observed   expected"),
           std::string("     5.50         4.5%       5.1%         1"),
           std::string("     2.80         0.0%       6.2%         1"),
           std::string("    total         3.3%       5.4%         2"),
       })
    report.push_back(line);
  EXPECT_EQ(p.report, report);  // nothing for the group of the reference data set (blank name)
  EXPECT_EQ(file_lines(out).size(), 19u + 3u + 1u);  // header, records, end line
}

// An unmerged P2(1)2(1)2(1) file whose equivalents agree, so that nothing is rejected:
// 48 reflections, each measured in four symmetry-related settings.
std::string consistent_input() {
  std::string s =
      "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=TRUE\n!SPACE_GROUP_NUMBER=19\n"
      "!UNIT_CELL_CONSTANTS= 50.0 60.0 70.0 90 90 90\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=8\n!ITEM_H=1\n!ITEM_K=2\n"
      "!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n!END_OF_HEADER\n";
  for (int n = 0; n < 192; ++n) {
    const int h = 1 + n / 48, k = 1 + n / 12 % 4, l = 1 + n / 4 % 3, op = n % 4;
    char line[128];
    std::snprintf(line, sizeof line, "%6d%6d%6d%11.3E%11.3E%8.1f%8.1f%8.1f\n", op % 2 ? -h : h, op < 2 ? k : -k,
                  op == 0 || op == 3 ? l : -l, 100.0 * (h + k + l), 10.0, 10.0 + n, 20.0 + n, 1.0 + n % 90);
    s += line;
  }
  return s + "!END_OF_DATA\n";
}

// Indices and detector x of every data record.
std::multiset<std::tuple<int, int, int, int>> records(const std::vector<std::string>& lines) {
  std::multiset<std::tuple<int, int, int, int>> r;
  for (const std::string& t : lines)
    if (t[0] != '!')
      r.insert({std::stoi(t.substr(0, 6)), std::stoi(t.substr(6, 6)), std::stoi(t.substr(12, 6)), std::stoi(t.substr(40, 6))});
  return r;
}

TEST(StatisticsRun, WholeRunWritesTheMeasuredObservationsAndTheTable) {
  TempDir dir;
  dir.write("in.hkl", consistent_input());
  dir.write("VELMAR.INP", "OUTPUT_FILE=out.hkl\nFRIEDEL'S_LAW=FALSE\nINPUT_FILE=in.hkl\nRESOLUTION_SHELLS= 20 8\n");
  const RunResult r = run_velmar(dir);
  ASSERT_EQ(r.status, 0) << r.terminal;
  const std::vector<std::string> lines = file_lines(dir.file("out.hkl"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=FALSE");
  EXPECT_EQ(lines.back(), "!END_OF_DATA  ");
  EXPECT_EQ(records(lines), records(split_lines(consistent_input())));  // as measured
  EXPECT_TRUE(contains(r.terminal, "         0 OUT OF       192 REFLECTIONS REJECTED\n"
                                   "       192 REFLECTIONS ON OUTPUT FILE \n"));
  EXPECT_TRUE(contains(r.terminal, " for each (+ and -) parity are required.\n"
                                   "       NOTE:      Friedel pairs are treated as different reflections.\n"
                                   " SUBSET OF INTENSITY DATA"));
  EXPECT_TRUE(contains(r.terminal, "\n    total         192      48"));
  EXPECT_TRUE(contains(r.report, "\n    total         192      48"));
  EXPECT_TRUE(contains(r.report, "  R-FACTORS FOR INTENSITIES OF DATA SET in.hkl"));
  EXPECT_FALSE(contains(r.terminal, "R-FACTORS FOR INTENSITIES OF DATA SET"));
}

TEST(StatisticsRun, UnwritableOutputFileEndsTheRunWithAMessage) {
  TempDir dir;
  dir.write("in.hkl", consistent_input());
  dir.write("VELMAR.INP", "OUTPUT_FILE=nodir/out.hkl\nINPUT_FILE=in.hkl\n");
  const RunResult r = run_velmar(dir);
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(contains(r.report, "\n !!! ERROR !!! CANNOT OPEN OR WRITE nodir/out.hkl\n"));
  EXPECT_TRUE(contains(r.terminal, "\n !!! ERROR !!! CANNOT OPEN OR WRITE nodir/out.hkl\n"));
  EXPECT_FALSE(contains(r.report, "cpu time used"));
}

}  // namespace
}  // namespace velmar
