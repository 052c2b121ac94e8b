// Reading numbers in free (list-directed) form from one line of text.
//
// Values are separated by blanks, tabs or a comma; a "/" ends the list and leaves the
// remaining values unchanged; an empty value between two commas leaves its value unchanged;
// "r*v" repeats v r times. Reals may use an E, D or Q exponent. A value that is not a
// number, does not fit its type, or is not finite makes the read fail, as does a line
// that ends before all values were found.
#pragma once

#include <span>
#include <string_view>

namespace velmar {

bool read_free_ints(std::string_view text, std::span<int> out);
bool read_free_reals(std::string_view text, std::span<float> out);
// One list of integers followed by reals (h, k, l, then intensities).
bool read_free_ints_reals(std::string_view text, std::span<int> ints, std::span<float> reals);

// One whole field (no separators) as a number; false unless all of it is used.
bool parse_int(std::string_view field, int& v);
bool parse_real(std::string_view field, float& v);

// Splits text into runs of non-blank characters, at most out.size(); returns the count.
int split_runs(std::string_view text, std::span<std::string_view> out);

}  // namespace velmar
