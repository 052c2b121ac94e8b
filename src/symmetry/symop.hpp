// Symmetry operators in integer form and the cell/matrix types they work with.
#pragma once

#include <array>
#include <vector>

namespace velmar {

// ML(12): the 3x4 operator matrix row by row, translations in twelfths of a cell edge.
// x' = x*ml[0] + y*ml[1] + z*ml[2] + ml[3]/12, and likewise for y' (ml[4..7]) and z' (ml[8..11]).
using Symop = std::array<int, 12>;

// A space group as the list of its NEQ operators, identity first, centring included.
using SymopList = std::vector<Symop>;

inline constexpr int kMaxOperators = 192;

// a, b, c (Angstrom), alpha, beta, gamma (degrees).
using Cell = std::array<float, 6>;

// 3x3 real matrix stored column by column: element (i,j) at index 3*j + i (0-based).
using Mat3 = std::array<float, 9>;

}  // namespace velmar
