// The command line of velmar (--version, --help, anything else a usage error; no argument
// is a run, see the whole-run tests) and the installation by cmake --install.
#include <gtest/gtest.h>

#include <string>

#include "test_support.hpp"

namespace velmar {
namespace {

using testing::contains;
using testing::TempDir;

// Nothing but the text is printed: the control file (which would stop a run) is not read
// and no report file appears.
TEST(VelmarCommandLine, PrintsAndEndsWithoutRunning) {
  const struct { const char *arguments, *out, *err; int status; } cases[] = {  // out, err: expected parts
      {"--version", "VELMAR 1.0.0 (built ", "", 0},
      {"--help", "README.md", "", 0},
      {"--verbose", "", "Usage: velmar\n", 1},
      {"VELMAR.INP", "", "Usage: velmar\n", 1},
      {"--version --version", "", "Usage: velmar\n", 1},
  };
  for (const auto& c : cases) {
    TempDir d;
    d.write("VELMAR.INP", "this control file would stop a run with an error\n");
    const std::string bin = std::string("'") + VELMAR_BINARY + "' " + c.arguments;
    const testing::CommandResult out = testing::run_in(d, bin + " 2>/dev/null");
    const testing::CommandResult err = testing::run_in(d, bin + " 2>&1 >/dev/null");
    EXPECT_EQ(out.status, c.status) << c.arguments;
    EXPECT_TRUE(*c.out ? contains(out.output, c.out) : out.output.empty()) << c.arguments << ": " << out.output;
    EXPECT_TRUE(*c.err ? contains(err.output, c.err) : err.output.empty()) << c.arguments << ": " << err.output;
    EXPECT_FALSE(d.exists("VELMAR.LP")) << c.arguments;
  }
}

#if defined(VELMAR_CMAKE_COMMAND) && defined(VELMAR_EXPORT_BINARY)
// cmake --install puts the programs and the README under the prefix, and they run there.
TEST(Install, ProgramsAndReadmeUnderThePrefix) {
  TempDir d;
  const testing::CommandResult c = testing::run_in(d, std::string("'") + VELMAR_CMAKE_COMMAND + "' --install '" +
                                                          VELMAR_BINARY_DIR + "' --prefix '" + d.file("prefix") + "' 2>&1");
  ASSERT_EQ(c.status, 0) << c.output;
  EXPECT_TRUE(d.exists("prefix/share/doc/velmar/README.md"));
  const testing::CommandResult v = testing::run_in(d, "prefix/bin/velmar --version");
  const testing::CommandResult e = testing::run_in(d, "prefix/bin/velmar-export --version");
  EXPECT_EQ(std::make_pair(v.status, e.status), std::make_pair(0, 0));
  EXPECT_TRUE(contains(v.output, "VELMAR 1.0.0")) << v.output;
  EXPECT_TRUE(contains(e.output, "velmar-export (VELMAR 1.0.0)")) << e.output;
  const testing::CommandResult r = testing::run_in(d, "prefix/bin/velmar-report --version");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.output, "velmar-report (VELMAR 1.0.0)")) << r.output;
}
#endif

}  // namespace
}  // namespace velmar
