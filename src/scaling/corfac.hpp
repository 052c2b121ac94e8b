// Refinement of the factors of one correction kind (DECAY, MODULATION or ABSORPTION) for all
// correction groups: a restrained least-squares fit of the equivalent observations to a
// common reference intensity per reflection, solved node by node by a multiplicative
// fixed-point iteration (no normal matrix), then divided out of the observations' correction
// factors.
#pragma once

#include <span>
#include <vector>

#include "common/observations.hpp"
#include "common/tables.hpp"
#include "scaling/grids.hpp"

namespace velmar {

// The outcome of one refinement of one kind.
struct KindRefinement {
  std::vector<GridDescriptor> desc;  // per data set; base -1 outside the correction groups
  std::vector<float> factors;        // the kind's factor vector
  std::vector<GroupFit> fits;        // per correction group, from the last cycle
  int cycles = 0;                    // cycles carried out (6 when not converged)
};

inline constexpr float kFactorRestraintWeight = 400.0f;

// Refines the factors of kind m for the correction groups (strong observations: I/sigma
// above `threshold`) starting from 1.0, then divides every observation's correction factor
// F of the groups' data sets by its interpolated factor (when that is positive). The error
// model of every data set enters the observations' weights.
KindRefinement corfac(CorrectionKind m, std::span<const CorrectionGroup> groups, const ControlTables& tables,
                      float threshold, std::span<const float> nodes, const UniqueTable& unique, ObservationList& obs);

}  // namespace velmar
