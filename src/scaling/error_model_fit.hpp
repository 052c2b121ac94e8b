// Refinement of the error model (a, b) of every data set of the correction groups, with
// outlier rejection among equivalent observations, and the final error-model sigmas.
#pragma once

#include <span>

#include "common/observations.hpp"
#include "common/tables.hpp"
#include "scaling/grids.hpp"

namespace velmar {

inline constexpr int kMaxErrorModelIterations = 15;

// Fits (a, b) per data set so that a (1 + b (I/sigma)^2), times the factor for the
// observation's own weight in the mean, matches the squared normalised deviations of the
// equivalent observations from their mean. The first iteration rejects nothing; from the
// second on the outlier test runs with WFAC1=; every observation it rejects, and every one
// whose error-model sigma is undefined, gets its misfit mark (which stays). b never falls
// below the data set's b_min. Returns the number of iterations carried out.
int refine_error_model(std::span<const CorrectionGroup> groups, ControlTables& t, const UniqueTable& unique,
                       ObservationList& obs);

// Replaces the sigma of every observation of the named output groups by its error-model
// value sigma sqrt(a + a b (I/sigma)^2) (-1 when undefined), negative for misfits and for
// observations rejected before.
void final_sigmas(const ControlTables& t, std::span<const DataSetBlock> blocks, ObservationList& obs);

}  // namespace velmar
