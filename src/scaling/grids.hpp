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

// Bin counts of every data set (`grid.bins`, axis order X, Y, image, SS, surface) from its
// usable observation count, extents, rotation per image, NBATCH= and CORRECTIONS= text;
// returns the size of the node coordinate array they need.
int64_t setgrid1(std::span<DataSet> sets, int reflections_per_factor);

// Places the nodes of every axis of every data set: fills `grid.node_offset` and returns the
// node coordinate array (`capacity` floats): the X nodes of all data sets, then the Y, image
// and SS nodes, then the surface nodes (x, y per node). Stops when a bin count is below 1
// or the nodes do not fit.
std::vector<float> setgrid2(std::span<DataSet> sets, int64_t capacity);

// Node counts and node offsets of the grid of kind `m` of a data set; the factor base is left
// at -1 for the caller to assign.
GridDescriptor grid_descriptor(CorrectionKind m, const DataSet& s);

// The nearest nodes of one grid axis (at most 3) and their normalised weights.
struct AxisSelection {
  int n = 0;
  std::array<int, 3> node{};      // 0-based node numbers, nearest first
  std::array<float, 3> weight{};  // squared distances while selecting, then weights
};

// Keeps the `nmax` smallest of the candidate distances, nearest first (of equal distances the
// lower-numbered candidate first), and turns them into inverse-square weights that sum to 1.
void gpadr(std::span<const float> distances, int nmax, AxisSelection& sel);

// The factor indices (0-based in the kind's factor vector) and weights of an observation at
// detector position (x, y), image number z and resolution ss; returns the number of pairs,
// 0 when the data set has no factors of the kind. Nodes of the image, X, Y and SS axes are
// found by position where that gives the same nodes as a scan; the surface is scanned.
int wicht(CorrectionKind m, const GridDescriptor& d, std::span<const float> nodes, float x, float y, float z, float ss,
          FactorWeights& w);

// The same result, always scanning every node of both axes.
int wicht_scan(CorrectionKind m, const GridDescriptor& d, std::span<const float> nodes, float x, float y, float z,
               float ss, FactorWeights& w);

}  // namespace velmar
