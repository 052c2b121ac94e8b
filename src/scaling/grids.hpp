// Correction-factor grids: per data set and correction kind a small two-axis grid of
// factors; an observation's factor is an inverse-square-distance weighted combination of
// the factors of its nearest nodes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/data_sets.hpp"

namespace velmar {

// Correction kinds, numbered as reports and images number them.
enum class CorrectionKind : int { kDecay = 1, kModulation = 2, kAbsorption = 3 };
inline constexpr std::array<CorrectionKind, 3> kCorrectionKinds{CorrectionKind::kDecay, CorrectionKind::kModulation,
                                                                CorrectionKind::kAbsorption};
inline constexpr int kind_index(CorrectionKind m) { return static_cast<int>(m) - 1; }

// Fast (first) and slow (second) grid axis of each kind.
inline constexpr std::array<GridAxis, 3> IFAST{kAxisImage, kAxisX, kAxisImage};
inline constexpr std::array<GridAxis, 3> ISLOW{kAxisSS, kAxisY, kAxisSurface};

// The grid of one data set for one kind: node counts, the start of its factors in the
// kind's factor vector (-1 when the data set gets no factors of the kind) and the node
// offsets of its two axes in the node coordinate array.
struct GridDescriptor {
  int n_fast = 1, n_slow = 1;
  int base = -1;
  int fast_offset = 0, slow_offset = 0;
};

// At most 6 (factor index, weight) pairs of one observation for one kind; weights sum to 1.
struct FactorWeights {
  int n = 0;
  std::array<int32_t, 6> index{};
  std::array<float, 6> weight{};
};

// An output group whose data sets get correction factors, and whether the Friedel halves of
// every reflection are fitted apart (STRICT_ABSORPTION_CORRECTION=TRUE without Friedel's law).
struct CorrectionGroup {
  int group = 0;  // 1-based output group
  bool friedel_halves = false;
};

// The fit of one kind's factors for one correction group, as the last refinement left it.
struct GroupFit {
  int first = 0;    // start of the group's factors in the kind's factor vector
  int factors = 0;  // number of factors of the group
  double dof = 0.0, chi2 = 0.0, rms = 0.0;
};

}  // namespace velmar
