// The control-file parser: reads "VELMAR.INP", fills the tables of the run and completes
// them from the input headers and the space-group tables.
#pragma once

#include <string>
#include <string_view>

#include "common/report.hpp"
#include "common/tables.hpp"

namespace velmar {

// The words of the known input file kinds, blank-padded so that only whole words match.
inline constexpr std::string_view kFileKinds = " KVD_ASCII DIRECT UNIQUE OLDHKL NORMAL ANOMAL ";

inline constexpr char kIllegalCell[] = "!!! ERROR !!! ILLEGAL SPACE GROUP OR CELL CONSTANTS";

// Reads the cards of `control_text` (the whole control file) into `t` and completes the
// tables. `t.capacity` must hold NSETMAX from the pre-scan. Errors throw VelmarError.
void pvelmar(std::string_view control_text, const Report& rep, int shell_capacity, ControlTables& t);

// The cards only, without the completion steps (no input file is read).
void read_control_cards(std::string_view control_text, const Report& rep, int shell_capacity,
                        ControlTables& t);

// The completion steps after the last card: headers, output modes, symmetry, checks.
void complete_control_tables(const Report& rep, ControlTables& t);

// True when writing `output` would overwrite an input file, the control file, the report,
// the exclusion list or a scratch file (the same file under any spelling or link).
bool writes_over_an_input(const std::string& output, const ControlTables& t);

// NSETMAX from a pre-scan of the control file.
int prescan_capacity(std::string_view control_text);

}  // namespace velmar
