// Whole runs of the program: start-up, the completion of the control tables from the input
// headers, and the stop messages that end a run.
#include <gtest/gtest.h>

#include <string>

#include "test_support.hpp"

namespace velmar {
namespace {

using testing::contains;
using testing::RunResult;
using testing::TempDir;

// A small merged file in P2_12_12_1 with the given header lines before the item layout.
std::string small_file(const std::string& extra_header = "") {
  return testing::kvd_file("  1 2 3 100.0 10.0\n  2 2 3 200.0 10.0\n  1 1 1 50.0 5.0\n  3 1 2 80.0 8.0\n", true,
                           "!SPACE_GROUP_NUMBER=19\n!UNIT_CELL_CONSTANTS= 50.0 60.0 70.0 90 90 90\n" + extra_header);
}

TEST(WholeRun, BannerHeaderValuesOperatorsAndTiming) {
  TempDir dir;
  dir.write("a.hkl", small_file("!INCLUDE_RESOLUTION_RANGE= 30.0 2.5\n"));
  // The header's cell replaces the one of UNIT_CELL_CONSTANTS= when no space group is given.
  const RunResult r = testing::run_velmar(dir, "UNIT_CELL_CONSTANTS=10 10 10 90 90 90\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.report,
                       "\nTHE DATA COLLECTION STATISTICS REPORTED BELOW ASSUMES:\n SPACE_GROUP_NUMBER=   19\n"
                       " UNIT_CELL_CONSTANTS=    50.00    60.00    70.00  90.000  90.000  90.000\n\n"));
  EXPECT_TRUE(contains(r.report, " *****  4 EQUIVALENT POSITIONS IN SPACE GROUP # 19 *****"));
  EXPECT_FALSE(contains(r.terminal, "EQUIVALENT POSITIONS"));  // the operator list is for the report only
  EXPECT_TRUE(contains(r.report, "ALL DATA SETS WILL BE SCALED TO a.hkl" + std::string(45, ' ') + "\n"));
  // The header's range drops (1,1,1) at d = 33.7 A: three of four observations accepted.
  EXPECT_TRUE(contains(r.report, "\n   1  0.1267E+03        3      0  a.hkl")) << r.report;
  // MERGE=TRUE and FRIEDEL'S_LAW=TRUE of the header make the output merged with Friedel's law.
  EXPECT_TRUE(dir.read("o").starts_with("!FORMAT=KVD_ASCII    MERGE=TRUE     FRIEDEL'S_LAW=TRUE \n"));
  EXPECT_TRUE(contains(r.terminal, "\n elapsed wall-clock time "));
  EXPECT_FALSE(dir.exists("VMROUT_01.tmp"));
}

// Each stop ends both the report and the terminal output with its message, before the
// timing lines; an input file of garbage ends the same way (other unreadable files and
// outputs named as inputs: the hardening tests).
TEST(WholeRun, CompletionErrors) {
  const std::string pad45(45, ' '), sg19 = "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\n";
  const std::pair<std::string, std::string> cases[] = {
      {"OUTPUT_FILE=o\n", " !!! ERROR !!! NOTHING TO SCALE TOGETHER"},
      {"OUTPUT_FILE=o\nINPUT_FILE=binary.hkl\n", "\n !!! ERROR !!! CANNOT OPEN OR READ binary.hkl" + std::string(40, ' ')},
      {"OUTPUT_FILE=o\nINPUT_FILE=a.hkl\nOUTPUT_FILE=p\n", "\n !!! ERROR !!! NO INPUT FILES FOR OUTPUT_FILE= p"},
      {"OUTPUT_FILE=o\nINPUT_FILE=a.hkl\nREIDX=0 1 0 0 1 0 0 0 0 0 -1 0\n",
       " !!! ERROR !!! ILLEGAL SPACE GROUP OR CELL CONSTANTS"},
      {sg19 + "REIDX=1 0 0 0 1 0 0 0 0 0 0 0\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\n",
       " !!! ERROR !!! REINDEXING TRANSFORMATION IS SINGULAR"},
      {"SPACE_GROUP_NUMBER=75\nUNIT_CELL_CONSTANTS=50 52 70 90 90 90\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\n",
       " !!! ERROR !!! ILLEGAL SPACE GROUP OR CELL CONSTANTS"},
      {"RESOLUTION_SHELLS=10 5\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\nINCLUDE_RESOLUTION_RANGE=4 3\n",
       "\n !!! ERROR !!! INPUT FILEa.hkl" + pad45 + "\n SPECIFIED RESOLUTION RANGE      4.00     3.00"
       " OUTSIDE RESOLUTION SHELLS\n !!! ERROR !!!"},
      {sg19 + "OUTPUT_FILE=o\nINPUT_FILE=a.hkl NORMAL\nCRYSTAL_NAME=x\n",
       "\n !!! ERROR !!! TYPE OF INPUT DATA SETa.hkl" + pad45 + " MUST BE  KVD_ASCII  FOR 0-DOSE CORRECTION OF THE DATA"},
  };
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919 + 3) % 256);
  for (const auto& [control, message] : cases) {
    TempDir dir;
    dir.write("a.hkl", small_file());
    dir.write("binary.hkl", binary);
    const RunResult r = testing::run_velmar(dir, control);
    EXPECT_NE(r.status, 0) << control;
    EXPECT_TRUE(r.report.ends_with(message + "\n")) << control << "\n---\n" << r.report;
    EXPECT_TRUE(r.terminal.ends_with(message + "\n")) << control;
    EXPECT_FALSE(contains(r.report, "cpu time used")) << control;
  }
}

TEST(WholeRun, ReindexingBlockAndWarnings) {
  TempDir dir;
  dir.write("a.hkl", small_file());
  const RunResult r = testing::run_velmar(dir,
                                          "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\n"
                                          "REIDX=-1 0 0 1 0 -1 0 0 0 0 -1 0\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
  EXPECT_EQ(r.status, 0) << r.report;
  const std::string block =
      "REFLECTIONS WILL BE REINDEXED SUCH THAT\n"
      " NEW-H = -1*H +  0*K +  0*L +  1\n"
      " NEW-K =  0*H + -1*K +  0*L +  0\n"
      " NEW-L =  0*H +  0*K + -1*L +  0\n"
      " !!! WARNING !!! THE SPECIFIED REINDEXING TRANSFORMATION INVOLVES AN\n"
      "INDEX OFFSET WITH RESPECT TO THE ORIGINAL INDICES.\n"
      " !!! WARNING !!! THE SPECIFIED REINDEXING TRANSFORMATION INVOLVES A\n"
      "CHANGE OF HAND WITH RESPECT TO THE ORIGINAL INDICES.\n";
  EXPECT_TRUE(contains(r.report, block)) << r.report;
  EXPECT_TRUE(contains(r.terminal, block));
}

TEST(WholeRun, ReferenceDataSetIsAppendedAndKeepsItsScale) {
  TempDir dir;
  // Two sweeps of one crystal; the reference is 1.5 times brighter (K = 1/1.5) and has a
  // B of -2 relative to the truth, the other sweep has K = 1, B = 0.
  ASSERT_TRUE(testing::synthesize(dir, "a.hkl", "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.5 --obs 8000 --seed 3 "
                                                "-o r.hkl --obs 6000 --k 0.6667 --b -2"));
  const RunResult r = testing::run_velmar(dir, "REFERENCE_DATA_SET=r.hkl\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
  EXPECT_EQ(r.status, 0) << r.report;
  EXPECT_TRUE(contains(r.report, "ALL DATA SETS WILL BE SCALED TO r.hkl" + std::string(45, ' ') + "\n"));
  // Loaded as data set 2 after the named data set; it has no output file of its own.
  const size_t line2 = r.report.find("\n   2  0.");
  ASSERT_NE(line2, std::string::npos) << r.report;
  EXPECT_EQ(r.report.substr(line2 + 17, 23), "     6000      0  r.hkl");
  EXPECT_TRUE(contains(r.report, "\n    1.0000   0.000    r.hkl" + std::string(45, ' ') + "\n")) << r.report;
  // Data set 1 goes onto the reference's scale: K = 1.5, B = 2 relative to it.
  const size_t row = r.report.find("    a.hkl" + std::string(45, ' ') + "\n");
  ASSERT_NE(row, std::string::npos);
  EXPECT_NEAR(std::stod(r.report.substr(row - 18, 10)), 1.5, 0.03);
  EXPECT_NEAR(std::stod(r.report.substr(row - 8, 8)), 2.0, 0.5);
  EXPECT_FALSE(contains(r.report, "INPUT DATA SET r.hkl"));
}

}  // namespace
}  // namespace velmar
