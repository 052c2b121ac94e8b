// The numbers of one data line of a text reflection file.
//
// h, k, l are read in free form from the start of the line; then the whole line is split
// into runs of non-blank characters (blanks and tabs separate them), at most
// kMaxLineValues of them, and each run is read as a real. h, k, l are thus also the first
// three values of the line.
#pragma once

#include <array>
#include <string_view>

namespace velmar {

inline constexpr int kMaxLineValues = 20;

struct LineValues {
  int h = 0, k = 0, l = 0;
  int count = 0;  // values taken, at most kMaxLineValues
  std::array<float, kMaxLineValues> value{};
};

enum class LineParse { kOk, kBadIndices, kBadValue };

// kBadIndices when h, k, l cannot be read; kBadValue when a run is not a real number.
LineParse read_line_values(std::string_view line, LineValues& out);

// The first value of the line as an integer (used to spot end-of-data markers on lines
// that hold fewer than three indices).
bool read_leading_int(std::string_view line, int& v);

// A real number that fills the whole field; the usual short decimal forms are converted
// directly, everything else goes through the general free-form reader.
bool read_real_field(std::string_view field, float& v);

}  // namespace velmar
