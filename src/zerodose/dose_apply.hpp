// The zero-dose correction itself (`doseapply`): one decay constant per reflection and
// crystal, tested, and applied to the observations; the statistics of the corrected data.
#pragma once

#include <cstdint>
#include <vector>

#include "common/report.hpp"
#include "zerodose/dose_points.hpp"

namespace velmar {

// Per crystal and shell (and the total, last): reflections with a decay line, those
// corrected, and the sums over the corrected ones of p, S0, S1, NFREE and NFREE + 1.
struct ZeroDoseShell {
  int64_t nunique = 0, corrected = 0;
  double p = 0.0, s0 = 0.0, s1 = 0.0;
  int64_t nfree = 0, nfree1 = 0;
  void add(const ZeroDoseShell& o);
};

// Printed values of a shell: N0-DOSE/NERROR (0 when nothing was corrected) and
// S_corr/S_norm (1 when the NFREE sum is not positive).
double corrected_per_error(const ZeroDoseShell& s);
double sigma_ratio(const ZeroDoseShell& s);

// For every crystal and every reflection (not absent, inside the shells): the points of
// all its observations in the crystal's data sets, dose = starting dose + rate (image -
// first image), one group per data set (two, one per Friedel mate, where the output group
// keeps Friedel pairs apart) of at least two points over more than three images; a
// common decay constant b fitted and tested by `hyptest` at `level`; when accepted, every
// point's correction factor multiplied by exp(-c b dose) and its decay constant set to c b.
// Returns the statistics [crystal * (shells + 1) + shell].
std::vector<ZeroDoseShell> doseapply(const ZeroDoseData& d, const DoseParameters& dose, const LogMomentTable& table,
                                     float level);

// The statistics table of every crystal (report file).
void print_zero_dose_statistics(const Report& rep, const ZeroDoseData& d, const DoseParameters& dose,
                                const std::vector<ZeroDoseShell>& stats);

}  // namespace velmar
