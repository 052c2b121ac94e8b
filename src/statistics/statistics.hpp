// Data-set statistics of the scaled observations per output group and resolution shell:
// completeness, R-factors, R-meas, I/sigma, CC(1/2), anomalous correlation and signal, and
// the R-factors of every input data set against the merged intensities.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/report.hpp"
#include "common/equivalents.hpp"
#include "statistics/half_sets.hpp"
#include "statistics/output_file.hpp"

namespace velmar {

// Sums of a (weighted) correlation between x and y: weight, x, y, x^2, x y, y^2.
struct CorrelationSums {
  double w = 0.0, x = 0.0, y = 0.0, xx = 0.0, xy = 0.0, yy = 0.0;
  void add(double xi, double yi, double wi = 1.0);
  void add(const CorrelationSums& o);
  // Pearson correlation from the weighted moments; false when a variance is not positive.
  bool correlation(double& r) const;
};

// The accumulators of one resolution shell (or of the total row).
struct ShellSums {
  int64_t observed = 0, unique = 0, possible = 0, compared = 0;
  float sum_i = 0.0f;             // sum of I_i over compared observations
  float sum_dev = 0.0f;           // sum |I_i - Imean|
  float sum_dev_meas = 0.0f;      // sum sqrt(n/(n-1)) |I_i - Imean|
  float sum_expected = 0.0f;      // sum of expected |I_i - Imean|
  float sum_i_over_sigma = 0.0f;  // sum Imean/sigma(Imean) over unique reflections
  CorrelationSums half;           // CC(1/2): x = I1, y = I2, weight 1
  int64_t half_pairs = 0;
  CorrelationSums anomalous;      // half-set anomalous differences, weighted
  double sigano = 0.0;            // sum of |F+ - F-|/sigma terms
  int64_t nano = 0;
  void add(const ShellSums& o);
};

// R-factor sums of one input data set in one shell.
struct SetShellSums {
  float sum_i = 0.0f, sum_dev = 0.0f, sum_expected = 0.0f;
  int64_t compared = 0;
  void add(const SetShellSums& o);
};

struct GroupStatistics {
  std::vector<int> sets;                // 0-based data sets of the group
  std::vector<ShellSums> shell;         // one per shell, then the total
  std::vector<SetShellSums> set_shell;  // [set position * (shells + 1) + shell], total last
  size_t rows() const { return shell.size(); }
  const SetShellSums& of_set(size_t set_position, size_t row) const { return set_shell[set_position * rows() + row]; }
};

// The printed values of a shell. Undefined values: completeness with POSSIBLE = 0 and the
// R-factors with no compared intensity print as -99.9, I/SIGMA then as -99.00, CC(1/2)
// as -99.9 and Anomal Corr as -99 (no mark), SigAno with Nano = 0 as 0.000.
struct ShellValues {
  float completeness = 0.0f;
  float r_observed = 0.0f, r_expected = 0.0f, r_meas = 0.0f;
  float i_over_sigma = 0.0f;
  float cc_half = 0.0f;
  char cc_mark = ' ';
  int anomal_corr = 0;
  char anomal_mark = ' ';
  float sigano = 0.0f;
};
ShellValues shell_values(const ShellSums& s);

struct SetShellValues {
  float r_observed = 0.0f, r_expected = 0.0f;
};
SetShellValues set_shell_values(const SetShellSums& s);

// Critical correlation at the 0.1 % significance level for n pairs (at least 0.1; 1.001
// for n <= 2).
float ccmin(int64_t n);

// Expected absolute deviation of every accepted observation of class t (t * isym >= 0,
// sigma > 0) from the class's weighted mean, into e (other entries untouched).
void rest(int t, const Equivalents& eq, std::span<float> e);

// Shell of a reflection with (1/d)^2 = ss: 0 for d >= shells[0], i for shells[i-1] > d >=
// shells[i]; -1 when d < the last limit.
int shell_index(float ss, std::span<const float> shells);

// POSSIBLE per shell (nuhkl counts; 2N - Ncentric when Friedel pairs are different).
std::vector<int64_t> possible_reflections(std::span<const Symop> ops, const Cell& cell,
                                          std::span<const float> shells, bool friedel_law);

// Accumulates the statistics of output group `group` (1-based) after the output file was
// written: per shell and per input data set. Stops with an ASSERT VIOLATION of "RSTAT"
// when a reflection has more observations than UniqueTable::max_observations.
GroupStatistics shell_statistics(const ScaledData& data, int group, std::span<const float> shells,
                                 RandomState& rng);

// The report of one output group: summary block, definitions, note, shell table (report
// and terminal), then the R-factor tables of the input data sets (report only).
void print_group_statistics(const Report& rep, const ScaledData& data, int group, const OutputCounts& counts,
                            std::span<const float> shells, const GroupStatistics& st);

// For every output group with a non-blank name: writes its output file (vmrhkl), then
// prints its statistics. A writer error stops the run with the writer's message.
void rstat(const Report& rep, const ScaledData& data, std::span<const float> shells, RandomState& rng);

}  // namespace velmar
