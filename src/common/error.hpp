// The one error type of the program: it carries the exact text of the stop message.
#pragma once

#include <cstdio>
#include <new>
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

// The entry of a companion program: runs `body` and returns 0, or prints the message of
// what it threw on the terminal (standard error) and returns 1.
template <class Body>
int exit_status_of(Body body) {
  try {
    body();
    return 0;
  } catch (const VelmarError& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fputs(" !!! ERROR !!! NOT ENOUGH MEMORY\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, " !!! ERROR !!! %s\n", e.what());
  }
  return 1;
}

}  // namespace velmar
