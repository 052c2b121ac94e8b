// Refinement of the factors of one correction kind (DECAY, MODULATION or ABSORPTION) for all
// correction groups: a restrained least-squares fit of the equivalent observations to a
// common reference intensity per reflection, solved node by node by a multiplicative
// fixed-point iteration (no normal matrix), then divided out of the observations' correction
// factors.
#pragma once

#include <cstdint>
#include <memory>
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

// The usable observations of all correction groups, half by half (a half being all the
// observations of a reflection, or one Friedel half of them), with their factor pairs:
// built once per refinement, since the pairs do not change while the factors are refined.
// The storage is reused by the refinements of a scaling run.
struct CorfacWork {
  std::vector<uint32_t> half_end;  // end of each half's observations
  std::vector<float> y;            // corrected intensity I F
  std::vector<float> w;            // 1/s'^2 with the error-model sigma s'
  std::vector<uint32_t> pair_end;  // end of each observation's pairs
  std::unique_ptr<int32_t[]> index;  // factor index of each pair (used up to pair_end.back())
  std::unique_ptr<float[]> weight;    // weight of each pair (likewise)
  size_t pair_capacity = 0;           // entries of index and weight
  std::vector<int64_t> list_index; // position of each usable observation in the observation list
};

// Refines the factors of kind m for the correction groups (strong observations: I/sigma
// above `threshold`) starting from 1.0, then divides every observation's correction factor
// F of the groups' data sets by its interpolated factor (when that is positive). The error
// model of every data set enters the observations' weights.
KindRefinement corfac(CorrectionKind m, std::span<const CorrectionGroup> groups, const ControlTables& tables,
                      float threshold, std::span<const float> nodes, const UniqueTable& unique, ObservationList& obs,
                      CorfacWork& work);

}  // namespace velmar
