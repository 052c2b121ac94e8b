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
  std::string scratch_name;
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

inline constexpr char kExclusionListName[] = "REMOVE.HKL";
inline constexpr int kExclusionTableSize = 9973;
inline constexpr int kMaxExclusions = 4985;

// Reads "REMOVE.HKL" (when present) into the exclusion table; returns the count entered.
int read_exclusion_list(const std::string& file_name, std::span<const Symop> ops, HashTable64& table);

// Loads the data sets of every job, fills the loading part (`load`) of every data set's row
// and prints the summary; stops at the first data set that cannot be used.
void readhkl1(const Report& rep, ControlTables& t, std::span<const LoadingJob> jobs);

// Loads the data sets of one job into its scratch file.
void readhkl(ControlTables& t, const LoadSetup& setup, const LoadingJob& job);

}  // namespace velmar
