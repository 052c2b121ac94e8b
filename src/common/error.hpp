// The one error type of the program: it carries the exact text of the stop message.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace velmar {

// The text holds the lines exactly as printed (separated by '\n', no final newline),
// including their leading blanks and any empty line before them.
class VelmarError : public std::runtime_error {
 public:
  explicit VelmarError(const std::string& text) : std::runtime_error(text) {}
};

// Stops the run with one message line " " + message (e.g. "!!! ERROR !!! NOTHING TO SCALE TOGETHER").
[[noreturn]] void stop(std::string_view message);
// Same, preceded by an empty line (messages written with a format start that way).
[[noreturn]] void stop_after_blank(std::string_view message);
// Stops with the given lines printed verbatim.
[[noreturn]] void stop_verbatim(std::string_view lines);
// Internal consistency check: stops with "!!! ERROR !!! ASSERT VIOLATION IN "<ROUTINE>"".
[[noreturn]] void assert_violation(std::string_view routine);

}  // namespace velmar
