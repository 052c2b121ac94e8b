// Rescaling of the sigmas after the zero-dose correction (`esdsca`): per data set and
// resolution bin, the factor that makes the scatter of symmetry-related observations agree
// with their sigmas.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/observations.hpp"
#include "common/report.hpp"
#include "common/tables.hpp"

namespace velmar {

// Sums of one data set and bin: squared normalised deviations from the weighted mean and
// their expectations.
struct DeviationSums {
  double d = 0.0, e = 0.0;
};

// The factor sqrt(D/E) of a bin, 1 unless D > 0 and E > 1.
float sigma_factor(const DeviationSums& s);

// Bin (0-based) of a reflection with (1/d)^2 = ss among nbin equal steps in (1/d)^2 over
// [ss_min, ss_max], clamped to the first and last bin.
int sigma_bin(float ss, float ss_min, float ss_max, int nbin);

// For every data set of a named output group whose (1/d)^2 range is not empty: per unique
// reflection and parity class (two classes where its group keeps Friedel pairs apart) of
// the data set's usable observations, the outlier test of `reject` with criterion wc and
// quantile index 1, then the kept observations' ((I - J)/sigma)^2 added to D and
// 1 - (sigma_J/sigma)^2 to E of the reflection's bin (J and sigma_J their weighted mean and
// its sigma). Every sigma of the data set in a bin is then multiplied by the bin's factor,
// and the factors are printed (report file). The test's rejections are not kept. Returns
// the factors [set * nbin + bin] (1 for data sets without factors).
std::vector<float> esdsca(const Report& rep, float wc, int nbin, const ControlTables& t, const UniqueTable& unique,
                          ObservationList& obs);

}  // namespace velmar
