// mmCIF reflection files of a VELMAR output file, written with gemmi's CIF writer.
#pragma once

#include <string>

#include <gemmi/symmetry.hpp>

#include "export/asu_tables.hpp"
#include "export/velmar_file.hpp"

namespace velmar {

// Merged: _refln with the intensities of the merged table (intensity_meas/_sigma, and without
// Friedel's law pdbx_I_plus/_minus with their sigmas), cell, symmetry and wavelength.
void write_merged_mmcif(const VelmarFile& f, const gemmi::SpaceGroup& sg, const MergedTable& t,
                        const std::string& out);

// Unmerged: _diffrn_refln with one row per observation (indices as measured, intensity_net
// and _sigma, the data set as diffrn_id and the rounded image number as pdbx_image_id),
// one _diffrn and wavelength per input data set, cell and symmetry.
void write_unmerged_mmcif(const VelmarFile& f, const gemmi::SpaceGroup& sg, const std::string& out);

}  // namespace velmar
