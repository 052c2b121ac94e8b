// The scaling of a run: overall K and B per data set, two passes over the DECAY, MODULATION
// and ABSORPTION correction factors each followed by the error-model refinement with outlier
// rejection, the final sigmas, and the report and images of the factors.
#pragma once

#include <span>
#include <vector>

#include "common/observations.hpp"
#include "common/report.hpp"
#include "common/stage_times.hpp"
#include "common/tables.hpp"
#include "scaling/grids.hpp"

namespace velmar {

// Counts, per data set of every named output group, its usable observations: those with
// I > t sigma (raw values) among the equivalents of a reflection (or of one Friedel half,
// when the group's Friedel halves are fitted apart) that has at least two of them.
void count_usable_observations(ControlTables& tables, float t, const UniqueTable& unique, const ObservationList& obs);

// The named output groups with at least one data set of 2 or more correction factors' worth
// of usable observations, with their Friedel-half flags.
std::vector<CorrectionGroup> correction_groups(const ControlTables& tables);

// Scales all data sets (`scalsets`): folds everything found into the observations'
// correction factors, sigmas and misfit marks and into the data-set rows (K, B, error model,
// usable count, grids). Stops with " !!! ERROR !!! CANNOT SCALE DATA SETS" when the overall
// scaling cannot be done.
void scalsets(const Report& rep, ControlTables& tables, std::span<const DataSetBlock> blocks, const UniqueTable& unique,
              ObservationList& obs, StageTimes* times = nullptr);

}  // namespace velmar
