// The command line of velmar (--version, --help, anything else a usage error, no argument
// a run) and the installation by cmake --install.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "test_support.hpp"

namespace velmar {
namespace {

using testing::TempDir;
using testing::contains;

struct CommandLineCase {
  const char* name;
  const char* arguments;
  int status;
  const char* output;  // expected in stdout
  const char* error;   // expected in stderr
};

const CommandLineCase kCases[] = {
    {"Version", "--version", 0, "VELMAR 1.0.0 (built ", ""},
    {"Help", "--help", 0, "Usage: velmar\n", ""},
    {"UnknownOption", "--verbose", 1, "", "Usage: velmar\n"},
    {"AFileName", "VELMAR.INP", 1, "", "Usage: velmar\n"},
    {"VersionTwice", "--version --version", 1, "", "Usage: velmar\n"},
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

class VelmarCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

// Nothing but the text is printed: no report file appears and the control file is not read.
TEST_P(VelmarCommandLine, PrintsAndEndsWithoutRunning) {
  const CommandLineCase& c = GetParam();
  TempDir d;
  d.write("VELMAR.INP", "this control file would stop a run with an error\n");
  const std::string bin = std::string("'") + VELMAR_BINARY + "' " + c.arguments;
  const testing::CommandResult out = testing::run_in(d, bin + " 2>/dev/null");
  const testing::CommandResult err = testing::run_in(d, bin + " 2>&1 >/dev/null");
  EXPECT_EQ(out.status, c.status);
  EXPECT_TRUE(contains(out.output, c.output)) << out.output;
  EXPECT_TRUE(contains(err.output, c.error)) << err.output;
  if (!*c.output) {
    EXPECT_EQ(out.output, "");
  }
  if (!*c.error) {
    EXPECT_EQ(err.output, "");
  }
  EXPECT_FALSE(d.exists("VELMAR.LP"));
}

INSTANTIATE_TEST_SUITE_P(Cases, VelmarCommandLine, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// The help text points to the README; a run without arguments is a run.
TEST(VelmarCommandLineRun, HelpNamesTheReadmeAndNoArgumentRuns) {
  TempDir d;
  const testing::CommandResult help = testing::run_in(d, std::string("'") + VELMAR_BINARY + "' --help");
  EXPECT_TRUE(contains(help.output, "README.md")) << help.output;
  const testing::RunResult run = testing::run_velmar(d);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.terminal, "!!! ERROR !!! CANNOT OPEN OR READ VELMAR.INP")) << run.terminal;
  EXPECT_TRUE(d.exists("VELMAR.LP"));
}

#if defined(VELMAR_CMAKE_COMMAND) && defined(VELMAR_EXPORT_BINARY)
// cmake --install puts the programs and the README under the prefix, and they run there.
TEST(Install, ProgramsAndReadmeUnderThePrefix) {
  TempDir d;
  const testing::CommandResult c = testing::run_in(
      d, std::string("'") + VELMAR_CMAKE_COMMAND + "' --install '" + VELMAR_BINARY_DIR + "' --prefix '" +
             d.file("prefix") + "' 2>&1");
  ASSERT_EQ(c.status, 0) << c.output;
  EXPECT_TRUE(d.exists("prefix/share/doc/velmar/README.md"));
  const testing::CommandResult v = testing::run_in(d, "prefix/bin/velmar --version");
  EXPECT_EQ(v.status, 0);
  EXPECT_TRUE(contains(v.output, "VELMAR 1.0.0")) << v.output;
  const testing::CommandResult e = testing::run_in(d, "prefix/bin/velmar-export --version");
  EXPECT_EQ(e.status, 0);
  EXPECT_TRUE(contains(e.output, "velmar-export (VELMAR 1.0.0)")) << e.output;
  const testing::CommandResult r = testing::run_in(d, "prefix/bin/velmar-report --version");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.output, "velmar-report (VELMAR 1.0.0)")) << r.output;
}
#endif

}  // namespace
}  // namespace velmar
