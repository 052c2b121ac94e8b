// The command line of the program. VELMAR runs without arguments; --version and --help
// print a line or the usage text and end; any other argument is a usage error.
#pragma once

#include <span>
#include <string>

namespace velmar {

enum class CommandLineAction { kRun, kVersion, kHelp, kUsageError };

// The action asked for by the arguments after the program name.
CommandLineAction command_line_action(std::span<const char* const> args);

// "VELMAR 1.0.0 (built yyyymmdd)" and a newline.
std::string version_text();

// The usage text, ending in a newline: how to run the program and where its documentation is.
std::string usage_text();

}  // namespace velmar
