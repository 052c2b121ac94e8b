// Reading the fixed-column fields of report lines.
#pragma once

#include <string>
#include <string_view>

namespace velmar::report {

// The columns start .. start+width-1 of a line (shorter or empty past its end).
std::string_view column(std::string_view line, size_t start, size_t width);
// The rest of the line from `start` on.
std::string_view rest(std::string_view line, size_t start);
// Without leading and trailing blanks.
std::string_view trim(std::string_view s);

// A real printed in a fixed field (F, E or ES form, an optional "%" after it). A field
// filled with asterisks (the value did not fit) reads as NaN. False when the field holds no
// number.
bool read_real(std::string_view field, float& value);
// An integer printed in a fixed field; a field filled with asterisks reads as -1.
bool read_int(std::string_view field, long& value);

// The field of `width` columns that follows `label` in the line; empty when the label is absent.
std::string_view after_label(std::string_view line, std::string_view label, size_t width);

}  // namespace velmar::report
