// Loading all input data sets into the scratch files of the loading jobs.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/report.hpp"
#include "common/tables.hpp"
#include "symmetry/hash64.hpp"

namespace velmar {

// One loading job: a range of data sets (0-based, inclusive) read into one scratch file.
struct LoadingJob {
  int first_set = 0, last_set = 0;
  int input_unit = 0, scratch_unit = 0;
  std::string scratch_name;
  int status = 0;  // -1 failed, 0 read
};

// Status of a data set after loading.
enum LoadStatus : int {
  kLoadUsable = 0,
  kLoadInconsistent = 1,  // usable, but space group or cell differ from the run's
  kLoadScratchFailed = -1,
  kLoadUnreadable = -2,
  kLoadUseless = -3,      // mean intensity <= 0
  kLoadIndexOverflow = -4,
};

struct LoadResult {
  int64_t nrec = 0;        // records written, end marker not counted
  float mean_intensity = 0.0f;
  int64_t rejected = 0;    // observations rejected by "REMOVE.HKL"
  int status = kLoadUnreadable;
  int geometry = 1;        // 6 unmerged, 1 merged
  float oscillation_range = -1.0f;
  float wavelength = -1.0f;
  float a0 = -1.0f, b0 = 0.0f;  // input error model (VARIANCE_MODEL=)
};

// Everything readhkl needs besides the tables of the run.
struct LoadSetup {
  Mat3 b{};                 // reciprocal basis
  Mat3 a{};                 // orthogonalisation matrix (psi recomputation)
  Mat3 reidx_inverse{};     // inverse of the 3x3 part of REIDX
  int reindex_class = 0;    // 0 identity, 1 with additive constants, -1 otherwise
  HashTable64 exclusions;   // keys of "REMOVE.HKL"
  int exclusion_count = 0;
};

inline constexpr int kExclusionTableSize = 9973;
inline constexpr int kMaxExclusions = 4985;

// Reads "REMOVE.HKL" (when present) into the exclusion table; returns the count entered.
int read_exclusion_list(const std::string& file_name, std::span<const Symop> ops, HashTable64& table);

// Loads the data sets of every job and prints the summary; stops at the first data set
// that cannot be used. Returns the per-data-set results.
std::vector<LoadResult> readhkl1(const Report& rep, const ControlTables& t, int recl_unit,
                                 std::span<LoadingJob> jobs);

// Loads the data sets of one job into its scratch file.
void readhkl(const ControlTables& t, int recl_unit, const LoadSetup& setup, LoadingJob& job,
             std::span<LoadResult> results);

}  // namespace velmar
