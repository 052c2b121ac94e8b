// The tables of the run: run parameters and output groups filled by the control-file
// parser, and the per-data-set table that every stage extends. Owned by the driver.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "common/data_sets.hpp"
#include "symmetry/symop.hpp"

namespace velmar {

inline constexpr int kMaxNameLength = 50;
inline constexpr int kMaxShells = 20;

// Tri-state for the group's FRIEDEL'S_LAW= and MERGE= settings.
enum class Setting { kUnset, kTrue, kFalse };

struct OutputGroup {
  std::string name;                   // blank for the group of REFERENCE_DATA_SET=
  Setting friedel = Setting::kUnset;
  Setting merge = Setting::kUnset;
  int strict_absorption = 0;          // -1 = TRUE
  int mode = 0;                       // output mode +-1 (Friedel's law) or +-2; > 0 merged
  // Working storage while parsing.
  int nsets = 0;
  bool merged_input = false;
  bool friedel_input = false;

  bool friedel_law() const { return mode == 1 || mode == -1; }
  bool merged() const { return mode > 0; }
};

struct RunParameters {
  int space_group = -1;
  Cell cell{-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f};
  std::array<int, 12> reidx{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
  bool reindex = false;
  std::vector<float> shells;          // SHELIM, Angstrom, decreasing
  float min_i_sigma = 3.0f;
  int reflections_per_factor = 50;
  float dose_significance = 0.1f;
  float wfac1 = 1.5f;
  int processors = 32;
  int reference = 1;                  // 1-based reference data set
  std::string refdat;
  std::string reffmt = "KVD_ASCII";
  int crystals = 0;
};

struct ControlTables {
  RunParameters run;
  std::vector<DataSet> sets;          // NSET rows, control-file order
  std::vector<OutputGroup> groups;    // NOUT rows
  int capacity = 0;                   // NSETMAX from the pre-scan
  // Space-group set-up done by the parser.
  int crystal_system = 0;
  int centring = 0;
  SymopList ops;
  std::vector<int> inverse;           // 0-based index of each operator's inverse
};

}  // namespace velmar
