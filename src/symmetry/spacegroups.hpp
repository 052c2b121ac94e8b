// Space-group lookup: crystal system, ideal cell, operator list and its report listing.
#pragma once

#include <span>
#include <vector>

#include "common/report.hpp"
#include "symmetry/symop.hpp"

namespace velmar {

// Crystal-system codes returned by crysys and xsymy.
enum CrystalSystem : int {
  kNoSystem = 0,        // illegal group number or incompatible cell
  kTriclinic = 1,
  kMonoclinicC = 2,     // unique axis c
  kMonoclinicB = 3,     // unique axis b
  kOrthorhombic = 4,
  kTetragonal = 5,
  kRhombohedral = 6,    // R lattice on rhombohedral axes
  kHexagonal = 7,       // trigonal or hexagonal on hexagonal axes
  kCubic = 8,
};

struct SpaceGroupLookup {
  int system = kNoSystem;   // crystal-system code; 0 on failure
  int centring = 0;         // lattice-centring code: 0 P, 1 C, 2 B, 3 A, 4 I, 5 R, 6 F
  SymopList ops;            // NEQ operators, identity first; empty on failure
};

// Crystal-system code of space group sg (1..230) with the given cell.
int crysys(int sg, const Cell& cell);

// The cell with the metric constraints of the crystal system imposed.
Cell normcell(int system, const Cell& cell);

// Space-group lookup. Only mode 1 (full operator list) is defined; any other mode, an
// illegal group number, or a cell off the ideal one by more than 1 % fails.
SpaceGroupLookup xsymy(int mode, const Cell& cell, int sg);

// Lists the operators in the report file.
void sympri(const Report& rep, int sg, std::span<const Symop> ops);

// 0-based index of the inverse of every operator (first match in list order). Stops with
// an assert violation of "MLINV" when the list holds 0 or more than 192 operators or an
// inverse is missing.
std::vector<int> mlinv(std::span<const Symop> ops);

}  // namespace velmar
