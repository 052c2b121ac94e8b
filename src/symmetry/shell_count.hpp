// Number of unique reflections a resolution shell can hold.
#pragma once

#include <cstdint>
#include <span>

#include "symmetry/symop.hpp"

namespace velmar {

struct ShellCount {
  int64_t n = 0;        // unique reflections (asymmetric-unit representatives, absences excluded)
  int64_t centric = 0;  // how many of them are centric
};

// Counts the representatives (as iasym picks them) of the reflections that are not
// systematically absent and have s1 < (1/d)^2 <= s2, (1/d)^2 = |B h|^2 as stored for the
// unique-reflection table. Gives {-1, 0} when s1 < 0, a bound is not finite or B^T B is
// not positive definite, and {0, 0} when s1 > s2.
ShellCount nuhkl(float s1, float s2, std::span<const Symop> ops, const Mat3& b);

}  // namespace velmar
