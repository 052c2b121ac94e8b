// Overall scaling and crystal disorder correction: one factor K exp(B SS) per data set that
// puts every data set on the scale of the reference data set, from the pairwise comparisons
// of all data sets combined in two weighted least-squares problems (B, then ln K), iterated
// until the shifts become small.
#pragma once

#include <span>
#include <vector>

#include "common/data_sets.hpp"
#include "common/observations.hpp"
#include "common/report.hpp"

namespace velmar {

// Solves A x = y for a symmetric matrix of order n given as its upper triangle column by
// column (element (i, j), i <= j, 0-based, at j (j + 1)/2 + i), by elimination with
// diagonal pivoting: an unknown whose pivot does not exceed 5E-7 |A(1,1)| is dropped (its x
// is 0). Returns the rank: the number of unknowns kept.
int solve_symmetric(std::span<const double> packed, std::span<const double> y, std::span<double> x);

// Index of element (i, j) of a packed symmetric matrix.
inline size_t packed_upper(size_t i, size_t j) { return i <= j ? j * (j + 1) / 2 + i : i * (i + 1) / 2 + j; }

// Puts all data sets on the scale of data set `reference` (1-based): up to 9 cycles of
// pairwise comparison (strong observations: I/sigma above `t`), connectivity check and the
// two least-squares problems; each cycle multiplies every observation's correction factor
// by exp(dB SS + dlnK) of its data set and accumulates K and B in the data-set rows. Prints
// the correlation table and the K, B table on the report and the terminal. Returns 0 (no
// output) for fewer than 2 data sets, -1 (no output) for a reference outside 1..NSET, else
// NSET; stops the run after its error block when the data sets are not connected by common
// strong reflections or a normal matrix is rank-deficient. Data sets with identical
// observations (one input file given to several output groups) are scaled as one.
int xorder(const Report& rep, float t, int reference, std::span<DataSet> sets, const UniqueTable& unique,
           ObservationList& obs);

}  // namespace velmar
