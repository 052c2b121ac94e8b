// MTZ files of a VELMAR output file, written with gemmi.
#pragma once

#include <string>

#include <gemmi/symmetry.hpp>

#include "export/asu_tables.hpp"
#include "export/velmar_file.hpp"

namespace velmar {

// Merged: H K L IMEAN SIGIMEAN, and without Friedel's law I(+) SIGI(+) I(-) SIGI(-); one data
// set named after the file. Stops with a message when the file cannot be written.
void write_merged_mtz(const VelmarFile& f, const gemmi::SpaceGroup& sg, const MergedTable& t,
                      const std::string& out);

// Unmerged: H K L (asymmetric unit) M/ISYM BATCH I SIGI XDET YDET IMAGE PSI ISET [DCY], one
// MTZ data set and one batch header per image per input data set. IMAGE keeps the image
// number ZD unrounded; PSI is missing where the file gives 9999 (unknown).
void write_unmerged_mtz(const VelmarFile& f, const gemmi::SpaceGroup& sg, const UnmergedTable& t,
                        const std::string& out);

}  // namespace velmar
