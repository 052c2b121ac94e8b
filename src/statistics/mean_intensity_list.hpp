// The mean-intensity list: one line per unique reflection with the mean scaled intensity of
// its usable observations, the list the Wilson statistics read.
#pragma once

#include <cstdint>
#include <string>

#include "common/observations.hpp"
#include "common/tables.hpp"

namespace velmar {

struct MeanIntensityList {
  int64_t lines = 0;
  float ss_min = 0.0f;  // smallest and largest (1/d)^2 written (0 when no line was written)
  float ss_max = 0.0f;
};

// Writes the list of output group `group` (1-based; 0 = the data sets of every group with a
// name) to the file `name`, replacing it. For each unique reflection that is not absent,
// over its observations with sigma > 0 and correction factor F > 0 of the data sets used:
// n, S1 = sum I F, S2 = sum (sigma F)^2; when n > 0 one line h, k, l (I6) and S1/n,
// sqrt(S2)/n, (1/d)^2 (E15.7). Stops with "!!! ERROR !!! CANNOT WRITE FILE <name>" when
// the file cannot be written.
MeanIntensityList makref(const ControlTables& t, const UniqueTable& unique, const ObservationList& obs, int group,
                         const std::string& name);

}  // namespace velmar
