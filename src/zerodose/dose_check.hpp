// Decay factors of every reflection in every data set, their correlation between data sets,
// and the decay-factor scratch file for the dose-rate refinement (`dosecheck`).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/report.hpp"
#include "zerodose/dose_points.hpp"

namespace velmar {

// Sums over the reflections with accepted decay factors b_u, b_v in both data sets of a pair.
struct PairSums {
  int64_t n = 0;
  double uu = 0.0, uv = 0.0, vv = 0.0;
  void add(double bu, double bv) {
    ++n;
    uu += bu * bu;
    uv += bu * bv;
    vv += bv * bv;
  }
};

// Position of the pair (u, v), u < v (0-based data sets), in the order (1,2), (1,3), (2,3), ...
inline size_t pair_index(int u, int v) {
  return static_cast<size_t>(v) * static_cast<size_t>(v - 1) / 2 + static_cast<size_t>(u);
}

// r = sum b_u b_v / sqrt(sum b_u^2 sum b_v^2), not mean-centred, kept within +-0.9999 (0 with
// no pair).
double pair_correlation(const PairSums& s);

// +1 when the correlation r of n pairs is significant at `level` (below 3 pairs never; up to
// 10 the Student test with n - 1 degrees of freedom, p < level; from 11 on Fisher's z beyond
// 2), -1 when it is significant and negative, else 0.
int pair_flag(double r, int64_t n, float level);

struct DoseCheck {
  int64_t records = 0;        // records written to the decay-factor scratch file
  std::vector<PairSums> sums; // [pair_index * (shells + 1) + shell], the total last
  std::vector<int> flag;      // per pair, from its total
};

// The decay factor of every reflection (inside the shells, not absent) in every data set
// whose observations of it span more than three images, against the dose (image - first
// image) x DOSE_RATE as given, accepted when `hyptest` at `level` accepts it. Writes the
// decay-factor scratch file `scratch_name` and prints the correlation of the common
// factors of every pair of data sets (report file).
DoseCheck dosecheck(const Report& rep, const ZeroDoseData& d, const DoseParameters& dose, const LogMomentTable& table,
                    float level, const std::string& scratch_name);

}  // namespace velmar
