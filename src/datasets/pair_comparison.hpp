// Pairwise comparison of two data sets on their common strong reflections: correlation,
// relative scale at SS = 0 and relative B factor, each with its variance. Robust against
// outliers: within each of 30 SS bins the reflections whose intensity ratio strays far from
// the bin's median ratio are left out.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/data_sets.hpp"
#include "common/observations.hpp"

namespace velmar {

// The weighted mean of the strong observations of one unique reflection in one data set,
// and its variance; var <= 0 when the data set has no usable strong observation of it.
struct StrongMean {
  float mean = 0.0f;
  float var = 0.0f;
};

// Strong means of every unique reflection in every data set, formed once per scaling cycle
// and shared by all pairs.
struct StrongMeans {
  int nset = 0;
  std::vector<StrongMean> at;  // [u * nset + j]
  const StrongMean& of(size_t u, int j) const { return at[u * static_cast<size_t>(nset) + static_cast<size_t>(j)]; }
};

// Fills `means` from the observations with their current correction factors F: an
// observation is usable when its misfit mark is 0 and its error-model sigma
// s = sigma F sqrt(a + a b (I/sigma)^2) is defined, strong when I F > t sigma F.
void strong_means(const UniqueTable& unique, const ObservationList& obs, std::span<const DataSet> sets, float t,
                  StrongMeans& means);

// The six results of one comparison; all 0 where nothing could be determined.
struct PairComparison {
  int n = 0;             // common reflections that entered
  float r = 0.0f;        // correlation of the common intensities
  float ln_k = 0.0f;     // ln of the intensity ratio i/j at SS = 0
  float var_ln_k = 0.0f;
  float b = 0.0f;        // slope of ln(I_i/I_j) against SS
  float var_b = 0.0f;
};

inline constexpr int kPairBins = 30;
inline constexpr int kPairBinCapacity = 10000;

// Working storage of the comparisons, allocated once and reused by every pair.
struct PairWork {
  struct Entry {
    float mean_i, mean_j, var_i, var_j, ss;
  };
  std::array<std::vector<Entry>, kPairBins> bin;  // the common reflections of each bin
  std::vector<float> g, zz, scratch;              // ratios, normalised deviations, a copy
  PairWork();
};

// Compares data sets i and j (0-based) on the strong means of the current cycle; ss_min and
// ss_max of every data set bound the common SS range.
PairComparison xpair(int i, int j, const UniqueTable& unique, const StrongMeans& means, std::span<const DataSet> sets,
                     PairWork& work);

// Hoare's FIND: rearranges a so that a[k-1] holds the k-th smallest value (k 1-based), no
// element before it is larger and none after it smaller. Does nothing when k is outside
// 1..size. Stops with " ASSERT VIOLATION IN "XMEDIAN"" when the result fails that check.
void xmedian(std::span<float> a, int k);

}  // namespace velmar
