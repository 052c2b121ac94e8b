// The program entry: the command line, then the job driver, whose outcome is the exit status.
#include <cstdio>
#include <span>

#include "driver/command_line.hpp"
#include "driver/velmar.hpp"

int main(int argc, char** argv) {
  const std::span<const char* const> args(argv + 1, argc > 1 ? static_cast<size_t>(argc - 1) : 0);
  switch (velmar::command_line_action(args)) {
    case velmar::CommandLineAction::kRun: return velmar::velmar();
    case velmar::CommandLineAction::kVersion: std::fputs(velmar::version_text().c_str(), stdout); return 0;
    case velmar::CommandLineAction::kHelp: std::fputs(velmar::usage_text().c_str(), stdout); return 0;
    case velmar::CommandLineAction::kUsageError: break;
  }
  std::fputs(velmar::usage_text().c_str(), stderr);
  return 1;
}
