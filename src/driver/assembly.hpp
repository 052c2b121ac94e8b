// Assembly of the loaded data: loading jobs, scratch read-back, sorted observation list,
// unique-reflection table, per-data-set ranges and default resolution shells.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "common/observations.hpp"
#include "common/report.hpp"
#include "common/tables.hpp"
#include "driver/startup.hpp"
#include "input/loader.hpp"

namespace velmar {

// The processor count is clamped to 32, and so is the number of loading jobs.
inline constexpr int kMaxLoadingJobs = 32;

// The loading jobs for the processor count of the control file (always one job).
std::vector<LoadingJob> make_loading_jobs(int processors, int nset, UnitTable& units);
// "VMROUT_" + two-digit job number + ".tmp".
std::string scratch_file_name(int job);

// START and NREC per data set; the list length M is the sum of NREC + 1.
std::vector<DataSetBlock> observation_blocks(std::span<const DataSet> sets);
int64_t list_length(std::span<const DataSetBlock> blocks);

// Allocates the observation list (stopping with a message when it would not fit into
// `available_memory` bytes; -1 = unknown) and reads every job's scratch file back (deleting
// it), each data set's block sorted by key.
void read_back_observations(std::span<const LoadingJob> jobs, std::span<const DataSetBlock> blocks,
                            ObservationList& obs, int64_t available_memory);

// True for the data set added by REFERENCE_DATA_SET= (its output group has a blank name).
bool is_reference_group(const ControlTables& t, const DataSet& s);

// The unique reflections of the loaded observations: merges the runs of equal reflections
// of the reference data set (when there is one) into one observation each, builds the
// unique-reflection table and every data set's observed ranges.
void assemble_unique_reflections(ControlTables& t, std::span<DataSetBlock> blocks, ObservationList& obs,
                                 UniqueTable& unique);

// RESOLUTION_SHELLS= when given, else the default shells up to the highest resolution of
// the data sets with a named output group.
std::vector<float> resolution_shells(const ControlTables& t, size_t nunique);

// Counts the unique reflections and builds their table.
void build_unique_table(std::span<const Symop> ops, const Cell& cell, std::span<const DataSetBlock> blocks,
                        const ObservationList& obs, UniqueTable& table);

// Fills every data set's observed ranges and the lower bound b_min of its error model.
void data_set_ranges(const UniqueTable& table, const ObservationList& obs, std::span<DataSet> sets);

// Stops the run when counting the possible reflections up to the last shell limit would
// enumerate more reciprocal-lattice points than any real data set needs.
void check_shell_cost(const Cell& cell, std::span<const float> shells);

// Shell limits in Angstrom, equal steps in (1/d)^2 up to ss_max, NUNIQ/100 of them (1..20).
std::vector<float> default_shells(int64_t nunique, float ss_max);

}  // namespace velmar
