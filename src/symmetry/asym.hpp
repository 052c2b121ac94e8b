// Reduction of reflection indices to the asymmetric unit and the symmetry classification
// of a reflection: systematic absence, centric phase restriction, stabiliser count and
// lattice absence.
#pragma once

#include <span>

#include "common/reflection_key.hpp"
#include "symmetry/symop.hpp"

namespace velmar {

// The reflection key of (h,k,l): the greatest of all +-(h,k,l)R_n, compared by h, then k,
// then l, then the signed operator number +-n (n 1-based). Ties among equal indices go to
// the largest signed number, so a reflection equal to its own Friedel mate gets isym > 0.
ReflKey iasym(int h, int k, int l, std::span<const Symop> ops);

// Class code of (h,k,l): -1 systematically absent, 0 acentric, 1..180 centric (the
// restricted phase in degrees modulo 180, phase 0 given as 180).
int hkltyp(std::span<const Symop> ops, int h, int k, int l);

// Number of operators that leave (h,k,l) unchanged (epsilon times lattice points per cell),
// or -1 when one of them does so with a non-integral phase shift (systematic absence).
int sysabs(int h, int k, int l, std::span<const Symop> ops);

// 0 when the lattice of the centring code (0 P, 1 C, 2 B, 3 A, 4 I, 5 R obverse, 6 F)
// allows (h,k,l), 1 when it extinguishes it. Unknown codes impose no rule.
int genabs(int centring, int h, int k, int l);

// Intensities of both Friedel parities recovered from a merged record holding the mean I,
// its sigma, the anomalous difference D and the variance term V. A sigma of -1 marks a
// parity that was not measured.
struct AnomalousPair {
  float i_plus = 0.0f, sigma_plus = -1.0f;
  float i_minus = 0.0f, sigma_minus = -1.0f;
};
AnomalousPair u2ano(int cls, float i, float sigma, float d, float v);

}  // namespace velmar
