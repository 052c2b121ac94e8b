// Where report lines go: the report file "VELMAR.LP" and the terminal.
#pragma once

#include <cstdio>
#include <string_view>

namespace velmar {

struct Report {
  std::FILE* file = nullptr;      // the report file; null until it is open
  std::FILE* terminal = stdout;   // null silences the terminal (tests)

  void both(std::string_view line) const;
  void to_file(std::string_view line) const;
  void to_terminal(std::string_view line) const;
  // Prints text that may hold several lines separated by '\n'.
  void both_lines(std::string_view text) const;
  // Writes what is buffered to the report file, so that a user following the report sees
  // the run progress; stops with CANNOT WRITE FILE when the report could not be written.
  void flush() const;
};

inline constexpr char kReportFileName[] = "VELMAR.LP";

// The frame line of report sections: a blank and 39 "**" pairs.
std::string_view frame_line();

}  // namespace velmar
