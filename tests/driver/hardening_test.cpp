// Runs on hostile input and in a hostile environment: bounded work for absurd indices, the
// memory stop, write failures of the report and the output, termination signals, input
// that is no regular file, and output names that denote an input file.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

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

const std::string kRun = "OUTPUT_FILE=o.hkl\nINPUT_FILE=a.hkl\n";
const std::string kSg19 = "SPACE_GROUP_NUMBER=19\nUNIT_CELL_CONSTANTS=50 60 70 90 90 90\n";

// A small unmerged file in P2_12_12_1 (cell 50 60 70) with extra header and data lines.
std::string small_file(const std::string& extra_header = "", const std::string& extra_data = "") {
  return testing::kvd_file("  1 2 3 100.0 10.0\n  2 2 3 200.0 10.0\n  1 1 1 50.0 5.0\n  3 1 2 80.0 8.0\n"
                           "  1 2 3 110.0 10.0\n" + extra_data, false,
                           "!SPACE_GROUP_NUMBER=19\n!UNIT_CELL_CONSTANTS= 50.0 60.0 70.0 90 90 90\n" + extra_header);
}

// A whole run limited to `seconds`, so that a regression to an endless run fails the test
// instead of hanging the suite; `control` is written first unless empty.
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

  // Wavelength 1.0: d >= 0.5 A can be measured. In the 50 A edge, h = 98 is d = 0.510 A,
  // h = 102 is d = 0.490 A (odd h00 are absent in P2_12_12_1).
  for (const auto& [h, accepted] : {std::pair{98, true}, std::pair{102, false}}) {
    TempDir d;
    d.write("a.hkl", small_file("!X-RAY_WAVELENGTH= 1.0\n", "  " + std::to_string(h) + " 0 0 30.0 5.0\n"));
    const RunResult w = run_within(d, kRun);
    EXPECT_EQ(w.status, accepted ? 0 : 1) << h << "\n" << w.report;
    EXPECT_EQ(contains(w.report, "\n !!! ERROR !!! REFLECTION BEYOND THE LIMIT D=LAMBDA/2 ON INPUT DATA FILE\n"), !accepted)
        << h;
    EXPECT_FALSE(scratch_left(d));
  }
}

TEST(Hardening, NotEnoughMemoryStopsWithoutLeavingTheScratchFile) {
  TempDir dir;
  dir.write("a.hkl", small_file());
  dir.write("VELMAR.INP", kRun);
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

// A report or output file that cannot be written stops the run with its message on the
// terminal (the report is not read back: /dev/full reads as endless zeros).
TEST(Hardening, WriteFailuresOfReportAndOutputStopTheRun) {
  for (const std::string name : {"VELMAR.LP", "o.hkl"}) {
    TempDir dir;
    dir.write("a.hkl", small_file());
    std::filesystem::create_symlink("/dev/full", dir.file(name));
    dir.write("VELMAR.INP", kRun);
    const testing::CommandResult r = testing::run_in(dir, std::string("timeout 60 '") + VELMAR_BINARY + "' 2>&1");
    const std::string message = " !!! ERROR !!! CANNOT WRITE " + (name == "o.hkl" ? name : "FILE " + name) + "\n";
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_TRUE(r.output.ends_with(message)) << r.output;
    EXPECT_TRUE(name != "o.hkl" || dir.read("VELMAR.LP").ends_with(message));  // (not read from /dev/full)
  }
}

TEST(Hardening, TerminationSignalsRemoveScratchFilesAndStopTheRun) {
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    ASSERT_EQ(testing::run_in(dir, "awk 'BEGIN { for (i = 0; i < 1500000; ++i) "  // big enough to be interrupted
                                   "printf \"%d %d %d 100.0 10.0\\n\", i % 23 + 1, i % 19, i % 17 }' > big.hkl").status, 0);
    dir.write("VELMAR.INP", kSg19 + "OUTPUT_FILE=o.hkl\nINPUT_FILE=big.hkl NORMAL\n");
    const std::string cmd = "cd '" + dir.path() + "' && exec '" + VELMAR_BINARY + "' > terminal.txt 2>&1";
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
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

// Every file read must be a regular file: a FIFO or a device would block or never end.
TEST(Hardening, EveryFileReadMustBeARegularFile) {
  const std::string zero = "\n !!! ERROR !!! CANNOT OPEN OR READ /dev/zero" + std::string(41, ' ') + "\n";
  const struct { std::string fifo, control, message; } cases[] = {  // fifo: name of a FIFO made first
      {"p.hkl", "OUTPUT_FILE=o.hkl\nINPUT_FILE=p.hkl\n",
       "\n !!! ERROR !!! CANNOT OPEN OR READ p.hkl" + std::string(45, ' ') + "\n"},
      {"", "OUTPUT_FILE=o.hkl\nINPUT_FILE=/dev/zero\n", zero},
      {"", kSg19 + "OUTPUT_FILE=o.hkl\nINPUT_FILE=/dev/zero NORMAL\n", zero},
      {"VELMAR.INP", "", " !!! ERROR !!! CANNOT OPEN OR READ VELMAR.INP\n"},
      {"", "", " !!! ERROR !!! CANNOT OPEN OR READ VELMAR.INP\n"},  // no control file at all
      {"REMOVE.HKL", kRun, " !!! ERROR !!! CANNOT OPEN OR READ REMOVE.HKL\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("a.hkl", small_file());
    ASSERT_TRUE(c.fifo.empty() || mkfifo(dir.file(c.fifo).c_str(), 0600) == 0);
    const RunResult r = run_within(dir, c.control, 30);
    EXPECT_EQ(r.status, 1) << c.fifo << c.control;
    EXPECT_TRUE(r.report.ends_with(c.message)) << c.fifo << c.control << "\n" << r.report;
    EXPECT_TRUE(r.terminal.ends_with(c.message)) << c.fifo << c.control;
    EXPECT_FALSE(scratch_left(dir)) << c.fifo << c.control;
  }
}

TEST(Hardening, OutputNeverOverwritesAnInputTheReportOrAScratchFile) {
  const std::string same = " !!! ERROR !!! OUTPUT FILE HAS SAME NAME AS INPUT FILE\n";
  const std::pair<std::string, std::string> cases[] = {
      {"OUTPUT_FILE=./a.hkl\nINPUT_FILE=a.hkl\n", same},
      {"OUTPUT_FILE=link.hkl\nINPUT_FILE=a.hkl\n", same},
      {kRun + "OUTPUT_FILE=./sub/../a.hkl\nINPUT_FILE=a.hkl\n", same},
      {"OUTPUT_FILE=VELMAR.INP\nINPUT_FILE=a.hkl\n", same},
      {"OUTPUT_FILE=VELMAR.LP\nINPUT_FILE=a.hkl\n", same},
      {"OUTPUT_FILE=./REMOVE.HKL\nINPUT_FILE=a.hkl\n", same},
      {"OUTPUT_FILE=VMROUT_01.tmp\nINPUT_FILE=a.hkl\n", same},
      {kRun + "OUTPUT_FILE=./o.hkl\nINPUT_FILE=a.hkl\n", " !!! ERROR !!! DUPLICATE NAME FOR \"OUTPUT_FILE=\"\n"},
  };
  for (const auto& [control, message] : cases) {
    TempDir dir;
    const std::string input = small_file();
    dir.write("a.hkl", input);
    dir.write("REMOVE.HKL", "9 9 9\n");
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_symlink("a.hkl", dir.file("link.hkl"));
    const RunResult r = run_within(dir, control);
    EXPECT_EQ(r.status, 1) << control;
    EXPECT_TRUE(r.report.ends_with(message)) << control << "\n" << r.report;
    EXPECT_EQ(dir.read("a.hkl") + dir.read("VELMAR.INP") + dir.read("REMOVE.HKL"), input + control + "9 9 9\n");
  }
}

}  // namespace
}  // namespace velmar
