// Helpers of the report tests: runs of VELMAR and velmar-report in temporary directories.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "test_support.hpp"

namespace velmar::testing {

// Copies the demo's control file and sweeps into `dir` and runs VELMAR there, with `prefix`
// put before the demo's control lines.
inline RunResult run_demo(const TempDir& dir, const std::string& prefix = "") {
  const std::filesystem::path demo = std::filesystem::path(VELMAR_SOURCE_DIR) / "examples" / "demo";
  for (const char* name : {"VELMAR.INP", "demo_1.hkl", "demo_2.hkl"})
    std::filesystem::copy_file(demo / name, dir.file(name), std::filesystem::copy_options::overwrite_existing);
  return run_velmar(dir, prefix.empty() ? "" : prefix + dir.read("VELMAR.INP"));
}

// One demo run per test process, for the tests that only read its files.
inline const TempDir& demo_dir() {
  static TempDir dir;
  static const int status = run_demo(dir).status;
  return status == 0 ? dir : throw std::runtime_error("the demo run failed");
}

// velmar-report with the given arguments, run in `dir`; stderr kept apart from stdout.
struct ReportRun {
  int status = -1;
  std::string out, err;
};

inline ReportRun run_report(const TempDir& dir, const std::string& arguments) {
  const CommandResult c = run_in(dir, std::string("'") + VELMAR_REPORT_BINARY + "' " + arguments + " 2>report.err");
  ReportRun r{c.status, c.output, dir.read("report.err")};
  std::filesystem::remove(dir.file("report.err"));
  return r;
}

}  // namespace velmar::testing
