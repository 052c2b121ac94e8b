// The report block of one correction kind and the CBF images of its factors (lpcorfac).
#pragma once

#include <span>

#include "common/report.hpp"
#include "common/tables.hpp"
#include "scaling/grids.hpp"

namespace velmar {

// Prints the fit summary of kind m per correction group and, per data set of the group, the
// grid lines and usable count, and writes the data set's cumulative factors as a CBF image
// (1000 per unit factor) named "DECAY_001.cbf", "MODPIX_002.cbf", "ABSORP_001.cbf" (kind
// and data-set number), or "DECAY.cbf" etc. for a data set named "COLLECTED.HKL" when there
// is exactly one correction group. `fits` runs parallel to `groups`, `desc` to the data sets;
// `cumulative` is the kind's factor vector. An image that cannot be written is left out
// without a message.
void lpcorfac(const Report& rep, CorrectionKind m, const ControlTables& t, std::span<const CorrectionGroup> groups,
              std::span<const GroupFit> fits, int cycles, std::span<const GridDescriptor> desc,
              std::span<const float> nodes, std::span<const float> cumulative);

}  // namespace velmar
