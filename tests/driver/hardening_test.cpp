// Runs on hostile input and in a hostile environment: bounded work for absurd indices, the
// memory stop, write failures of the report and the output, termination signals, input
// that is no regular file, and output names that denote an input file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/error.hpp"
#include "driver/assembly.hpp"
#include "driver/velmar.hpp"
#include "test_support.hpp"

extern char** environ;

namespace velmar {
namespace {

using testing::contains;
using testing::RunResult;
using testing::TempDir;

// A small unmerged KVD_ASCII file in P2_12_12_1 (cell 50 60 70) with extra header lines.
std::string small_file(const std::string& extra_header = "", const std::string& extra_data = "") {
  return "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=TRUE\n"
         "!SPACE_GROUP_NUMBER=19\n!UNIT_CELL_CONSTANTS= 50.0 60.0 70.0 90 90 90\n" +
         extra_header +
         "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n"
         "!ITEM_SIGMA(IOBS)=5\n!END_OF_HEADER\n"
         "  1 2 3 100.0 10.0\n  2 2 3 200.0 10.0\n  1 1 1 50.0 5.0\n  3 1 2 80.0 8.0\n  1 2 3 110.0 10.0\n" +
         extra_data + "!END_OF_DATA\n";
}

// A whole run limited to `seconds`, so that a regression to an endless run fails the test
// instead of hanging the suite.
RunResult run_within(const TempDir& dir, const std::string& control, int seconds = 60) {
  if (!control.empty()) dir.write("VELMAR.INP", control);
  const testing::CommandResult c =
      testing::run_in(dir, "timeout " + std::to_string(seconds) + " '" + VELMAR_BINARY + "' 2>&1");
  return {c.status, c.output, dir.read("VELMAR.LP")};
}

bool scratch_left(const TempDir& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".tmp") return true;
  return false;
}

TEST(Hardening, AbsurdIndicesAreRefusedInsteadOfCountedForHours) {
  TempDir dir;
  dir.write("n.hkl", "1 0 0 100 10\n0 1 0 100 10\n32766 0 0 100 10\n");
  const auto t0 = std::chrono::steady_clock::now();
  const RunResult r = run_within(
      dir, "SPACE_GROUP_NUMBER=1\nUNIT_CELL_CONSTANTS=50 50 50 90 90 90\nOUTPUT_FILE=o.hkl\nINPUT_FILE=n.hkl NORMAL\n");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 30.0);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.report.ends_with(
      " !!! ERROR !!! RESOLUTION TOO HIGH FOR THE UNIT CELL (MORE THAN 4.0E+09 RECIPROCAL LATTICE POINTS)\n"))
      << r.report;
  EXPECT_FALSE(scratch_left(dir));

  // The bound leaves room for every real cell: a 1500 A virus cell at 2 A passes, a 50 A
  // cell at 0.0015 A does not.
  EXPECT_NO_THROW(check_shell_cost({1500, 1500, 1500, 90, 90, 90}, std::vector<float>{10.0f, 2.0f}));
  EXPECT_THROW(check_shell_cost({50, 50, 50, 90, 90, 90}, std::vector<float>{10.0f, 0.0015f}), VelmarError);
}

TEST(Hardening, ReflectionsBeyondHalfTheWavelengthAreImpossible) {
  // Wavelength 1.0: d >= 0.5 A can be measured. In the 50 A edge, h = 98 is d = 0.510 A,
  // h = 102 is d = 0.490 A (odd h00 are absent in P2_12_12_1).
  for (const auto& [h, accepted] : {std::pair{98, true}, std::pair{102, false}}) {
    TempDir dir;
    dir.write("a.hkl", small_file("!X-RAY_WAVELENGTH= 1.0\n", "  " + std::to_string(h) + " 0 0 30.0 5.0\n"));
    const RunResult r = run_within(dir, "OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\n");
    EXPECT_EQ(r.status, accepted ? 0 : 1) << h << "\n" << r.report;
    EXPECT_EQ(contains(r.report, "\n !!! ERROR !!! REFLECTION BEYOND THE LIMIT D=LAMBDA/2 ON INPUT DATA FILE\n"), !accepted)
        << h;
    EXPECT_FALSE(scratch_left(dir));
  }
}

TEST(Hardening, NotEnoughMemoryStopsWithoutLeavingTheScratchFile) {
  TempDir dir;
  dir.write("a.hkl", small_file());
  dir.write("VELMAR.INP", "OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\n");
  int status = -1;
  {
    testing::InDirectory in(dir);
    status = velmar(RunEnvironment{.memory_bytes = 100, .terminal = nullptr});
  }
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(dir.read("VELMAR.LP").ends_with(" !!! ERROR !!! NOT ENOUGH MEMORY FOR           6 OBSERVATIONS\n"))
      << dir.read("VELMAR.LP");
  EXPECT_FALSE(dir.exists("VMROUT_01.tmp"));
}

TEST(Hardening, WriteFailuresOfReportAndOutputStopTheRun) {
  {
    TempDir dir;
    dir.write("a.hkl", small_file());
    std::filesystem::create_symlink("/dev/full", dir.file("VELMAR.LP"));
    dir.write("VELMAR.INP", "OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\n");
    // (The report is not read back: /dev/full reads as endless zeros.)
    const testing::CommandResult r = testing::run_in(dir, std::string("timeout 60 '") + VELMAR_BINARY + "' 2>&1");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.output.ends_with(" !!! ERROR !!! CANNOT WRITE FILE VELMAR.LP\n")) << r.output;
  }
  {
    TempDir dir;
    dir.write("a.hkl", small_file());
    std::filesystem::create_symlink("/dev/full", dir.file("o.hkl"));
    const RunResult r = run_within(dir, "OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.report.ends_with(" !!! ERROR !!! CANNOT WRITE o.hkl\n")) << r.report;
    EXPECT_TRUE(r.terminal.ends_with(" !!! ERROR !!! CANNOT WRITE o.hkl\n"));
  }
}

// Starts the program in `dir` in the background.
pid_t start_velmar(const TempDir& dir) {
  const std::string cmd = "cd '" + dir.path() + "' && exec '" + VELMAR_BINARY + "' > terminal.txt 2>&1";
  const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  return pid;
}

TEST(Hardening, TerminationSignalsRemoveScratchFilesAndStopTheRun) {
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    {  // big enough to be interrupted while it loads
      std::FILE* f = std::fopen(dir.file("big.hkl").c_str(), "w");
      ASSERT_NE(f, nullptr);
      for (int i = 0; i < 1500000; ++i) std::fprintf(f, "%d %d %d 100.0 10.0\n", i % 23 + 1, i % 19, i % 17);
      std::fclose(f);
    }
    dir.write("VELMAR.INP",
              "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\nOUTPUT_FILE=o.hkl\nINPUT_FILE=big.hkl NORMAL\n");
    const pid_t pid = start_velmar(dir);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 3000 && !dir.exists("VMROUT_01.tmp"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(dir.exists("VMROUT_01.tmp")) << "the run never reached loading";
    kill(pid, sig);
    int w = 0;
    ASSERT_EQ(waitpid(pid, &w, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(w) || (WIFEXITED(w) && WEXITSTATUS(w) != 0));
    EXPECT_FALSE(scratch_left(dir));
    const std::string report = dir.read("VELMAR.LP");
    // The control cards were flushed to the report before loading began.
    EXPECT_TRUE(contains(report, " INPUT_FILE=big.hkl NORMAL\n")) << report;
    EXPECT_TRUE(contains(report, " !!! ERROR !!! RUN INTERRUPTED BY SIGNAL " + std::to_string(sig) + "\n")) << report;
    EXPECT_FALSE(contains(report, "cpu time used"));
  }
}

TEST(Hardening, EveryFileReadMustBeARegularFile) {
  struct Case {
    const char* what;
    std::string fifo;  // name of a FIFO made in the directory, or empty
    std::string control;
    std::string message;
  };
  const std::string control = "OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\n";
  const std::vector<Case> cases = {
      {"input file is a FIFO", "p.hkl", "OUTPUT_FILE=o.hkl\nINPUT_FILE=p.hkl\n",
       "\n !!! ERROR !!! CANNOT OPEN OR READ p.hkl" + std::string(45, ' ') + "\n"},
      {"input file is /dev/zero", "", "OUTPUT_FILE=o.hkl\nINPUT_FILE=/dev/zero\n",
       "\n !!! ERROR !!! CANNOT OPEN OR READ /dev/zero" + std::string(41, ' ') + "\n"},
      {"NORMAL input file is /dev/zero", "",
       "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\nOUTPUT_FILE=o.hkl\nINPUT_FILE=/dev/zero NORMAL\n",
       "\n !!! ERROR !!! CANNOT OPEN OR READ /dev/zero" + std::string(41, ' ') + "\n"},
      {"control file is a FIFO", "VELMAR.INP", "", " !!! ERROR !!! CANNOT OPEN OR READ VELMAR.INP\n"},
      {"exclusion list is a FIFO", "REMOVE.HKL", control, " !!! ERROR !!! CANNOT OPEN OR READ REMOVE.HKL\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("a.hkl", small_file());
    if (!c.fifo.empty()) {
      ASSERT_EQ(mkfifo(dir.file(c.fifo).c_str(), 0600), 0);
    }
    const RunResult r = run_within(dir, c.control, 30);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_TRUE(r.report.ends_with(c.message)) << c.what << "\n" << r.report;
    EXPECT_FALSE(scratch_left(dir)) << c.what;
  }
}

TEST(Hardening, OutputNeverOverwritesAnInputTheReportOrAScratchFile) {
  const std::string same_as_input = " !!! ERROR !!! OUTPUT FILE HAS SAME NAME AS INPUT FILE\n";
  const struct {
    std::string control, message;
  } cases[] = {
      {"OUTPUT_FILE=./a.hkl\nINPUT_FILE=a.hkl\n", same_as_input},
      {"OUTPUT_FILE=link.hkl\nINPUT_FILE=a.hkl\n", same_as_input},
      {"OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\nOUTPUT_FILE=./sub/../a.hkl\nINPUT_FILE=a.hkl\n", same_as_input},
      {"OUTPUT_FILE=VELMAR.INP\nINPUT_FILE=a.hkl\n", same_as_input},
      {"OUTPUT_FILE=VELMAR.LP\nINPUT_FILE=a.hkl\n", same_as_input},
      {"OUTPUT_FILE=./REMOVE.HKL\nINPUT_FILE=a.hkl\n", same_as_input},
      {"OUTPUT_FILE=VMROUT_01.tmp\nINPUT_FILE=a.hkl\n", same_as_input},
      {"OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\nOUTPUT_FILE=./o.hkl\nINPUT_FILE=a.hkl\n",
       " !!! ERROR !!! DUPLICATE NAME FOR \"OUTPUT_FILE=\"\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string input = small_file();
    dir.write("a.hkl", input);
    dir.write("REMOVE.HKL", "9 9 9\n");
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_symlink("a.hkl", dir.file("link.hkl"));
    const RunResult r = run_within(dir, c.control);
    EXPECT_EQ(r.status, 1) << c.control;
    EXPECT_TRUE(r.report.ends_with(c.message)) << c.control << "\n" << r.report;
    EXPECT_EQ(dir.read("a.hkl"), input);
    EXPECT_EQ(dir.read("VELMAR.INP"), c.control);
    EXPECT_EQ(dir.read("REMOVE.HKL"), "9 9 9\n");
  }
}

}  // namespace
}  // namespace velmar
