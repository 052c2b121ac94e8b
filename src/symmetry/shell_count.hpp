// Number of unique reflections a resolution shell can hold.
#pragma once

#include <cstdint>
#include <span>

#include "symmetry/symop.hpp"

namespace velmar {

// (1/d)^2 of a shell limit given as d in Angstrom.
inline float shell_limit_ss(float d) { return 1.0f / (d * d); }

// True when a reflection with (1/d)^2 = ss lies on the low-resolution side of a shell limit
// whose (1/d)^2 is `limit`. A reflection whose d equals the limit to single precision (as the
// outermost reflection does when the limit was derived from it) counts as inside: rounding
// of d to (1/d)^2 must not drop it. Every count of reflections in shells goes through here,
// so that the possible and the observed reflections of a shell are the same set.
inline bool within_limit(float ss, float limit) { return ss <= limit * 1.000001f; }

struct ShellCount {
  int64_t n = 0;        // unique reflections (asymmetric-unit representatives, absences excluded)
  int64_t centric = 0;  // how many of them are centric
};

// The counts enumerate index triples up to the highest resolution: their cost grows as the
// number of reciprocal-lattice points in that sphere, (4 pi/3) V / d^3 for a cell of volume
// V. A run whose resolution shells would need more than this many is refused: it could
// not finish in reasonable time, and no real data set comes near (a 1500 A cell at 2 A has
// 1.8E+09).
inline constexpr double kMaxLatticePoints = 4.0e9;
// Reciprocal-lattice points of a cell of the given volume within the resolution d.
inline double lattice_points_within(double volume, double d) { return 4.18879 * volume / (d * d * d); }

// Counts the representatives (as iasym picks them) of the reflections that are not
// systematically absent and lie between the limits s1 and s2 ((1/d)^2 above s1, at most s2,
// as `within_limit` decides), (1/d)^2 = |B h|^2 as stored for the unique-reflection table. Gives {-1, 0} when s1 < 0, a bound is not finite or B^T B is
// not positive definite, and {0, 0} when s1 > s2.
ShellCount nuhkl(float s1, float s2, std::span<const Symop> ops, const Mat3& b);

}  // namespace velmar
