// The zero-dose extrapolation of the run: decay factors per data set and their correlation,
// refinement of the dose parameters, the correction of every observation to zero dose, and
// the rescaling of the sigmas of the corrected data.
#pragma once

#include <span>
#include <string>

#include "common/observations.hpp"
#include "common/report.hpp"
#include "common/tables.hpp"

namespace velmar {

// Resolution bins of the sigma rescaling after the correction: ten follow the trend with
// resolution and leave every bin a tenth of the data (one line of the factor table).
inline constexpr int kSigmaScalingBins = 10;

// Runs the stage when crystals were named (CRYSTAL_NAME=): explanation, `dosecheck`, the
// dose refinement and its table, `doseapply` and its statistics, then `esdsca` (report
// file). Changes the observations' correction factors, decay constants and sigmas and
// records in every named crystal's data sets the dose parameters used. Does nothing at all
// unless the data sets, the crystals, the unique reflections and the resolution shells all
// number at least one. The decay-factor scratch file `scratch_name` exists only inside
// this call.
void zerodose(const Report& rep, ControlTables& t, const UniqueTable& unique, ObservationList& obs,
              std::span<const float> shells, const std::string& scratch_name);

}  // namespace velmar
