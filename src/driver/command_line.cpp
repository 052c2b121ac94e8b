// The command line of the program: run, --version, --help.
#include "driver/command_line.hpp"

#include <string_view>

#include "driver/startup.hpp"

#ifndef VELMAR_DOC_DIR
#define VELMAR_DOC_DIR "share/doc/velmar"
#endif

namespace velmar {

CommandLineAction command_line_action(std::span<const char* const> args) {
  if (args.empty()) return CommandLineAction::kRun;
  if (args.size() > 1) return CommandLineAction::kUsageError;
  const std::string_view a = args[0];
  if (a == "--version") return CommandLineAction::kVersion;
  if (a == "--help") return CommandLineAction::kHelp;
  return CommandLineAction::kUsageError;
}

std::string version_text() {
  return std::string("VELMAR ") + kVersion + " (built " + build_date_text() + ")\n";
}

std::string usage_text() {
  return "Usage: velmar\n"
         "       velmar --version | --help\n"
         "\n"
         "Run velmar without arguments in a working directory that holds the control file\n"
         "VELMAR.INP. It scales the reflection files named there, writes the report VELMAR.LP\n"
         "and the output reflection files, and exits with status 0 (1 after an error).\n"
         "velmar-export FILE.HKL --mtz OUT.mtz --mmcif OUT.cif converts an output file.\n"
         "\n"
         "The control file, the files and both programs are described in README.md of the\n"
         "source tree, installed as " VELMAR_DOC_DIR "/README.md.\n";
}

}  // namespace velmar
