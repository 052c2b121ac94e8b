// The driver's steps built on the Wilson statistics: the approximate absolute scale of all
// data, and the Wilson section of every output file.
#pragma once

#include <string>

#include "common/observations.hpp"
#include "common/report.hpp"
#include "common/tables.hpp"

namespace velmar {

// The cell volume V = a b c sqrt(1 - cos^2 alpha - cos^2 beta - cos^2 gamma + 2 cos alpha
// cos beta cos gamma).
double cell_volume(const Cell& cell);

// F = exp(t), t = ln(1.09172 V) - A: the factor that brings Wilson intercept A to the
// scale of a protein crystal with 50 % solvent; 1 when |t| > 23.
float absolute_scale_factor(float a, double volume);

// Builds the mean-intensity list of every named group in the scratch file `scratch_name`,
// runs the Wilson statistics on it silently, prints the factor F and multiplies every
// observation correction factor by F. Returns false when the list is empty (the run ends
// quietly); a failed Wilson run stops with CANNOT OPEN OR READ FILE. The scratch file is
// gone afterwards, whatever happened.
bool place_on_absolute_scale(const Report& rep, const ControlTables& t, const UniqueTable& unique,
                             ObservationList& obs, const std::string& scratch_name);

// The Wilson section of every output group with a name, on the report. Returns false when
// a group's mean-intensity list is empty (the run ends quietly there).
bool print_wilson_sections(const Report& rep, const ControlTables& t, const UniqueTable& unique,
                           const ObservationList& obs, const std::string& scratch_name);

}  // namespace velmar
