// Refinement of the dose parameters of every crystal with more than one data set: the dose
// rates from the decay factors the data sets have in common, then the starting doses from
// the intercepts of the decay lines (`dosestart`); the fall-back to the given values when a
// refinement fails; the table of the dose parameters used.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/report.hpp"
#include "zerodose/decay_records.hpp"
#include "zerodose/dose_points.hpp"

namespace velmar {

// The records of one crystal: its entries with a positive sd, the data sets renumbered by
// their position among the crystal's data sets (`sets`), and only records that hold at
// least two of them.
DecayRecords crystal_records(const DecayRecords& all, std::span<const int> sets);

// True when every data set of the crystal (0..n-1) is linked to the first through records
// that hold two of them (followed transitively).
bool decay_factors_linked(const DecayRecords& records, int n);

// Result of the dose-rate refinement of one crystal: IER (0 success, -1 rank lower than
// expected, -2 a non-positive rate, -3 fewer records than data sets, -4 no convergence in
// 20 cycles), the cycles made and the relative rate factors (1 unless IER = 0).
struct RateFactors {
  int ier = 0;
  int cycles = 0;
  std::vector<double> rho;
};

// Relative rate factors rho_k minimising sum w_k (b_k - beta rho_k)^2 over the crystal's
// records (beta one unknown per record) by Gauss-Newton cycles. `hold` are the DOSE_RATE
// hold flags and `rates` the given rates of the crystal's data sets. On success the factors
// are relative to the first data set, or to the only held one; with more than one held
// data set those are fixed at 1. Nothing is refined (IER 0, all factors 1) when every rate
// is held.
RateFactors refine_rate_factors(const DecayRecords& records, std::span<const int> hold, std::span<const double> rates);

// Shortens the shifts d of the rate factors rho when one would take a factor to zero or
// below (the largest relative decrease q >= 1: all shifts divided by q + 0.00001); returns
// the largest relative shift |d_k/rho_k|.
double limit_rate_shifts(std::span<double> d, std::span<const double> rho);

// Sums of the starting-dose refinement of one crystal.
struct StartingDoseSums {
  std::vector<double> a, y;  // packed normal matrix and right-hand side, one unknown per data set
  int64_t reflections = 0;   // reflections that contributed
};

// Result of `dosestart` for one crystal: IER of the solver (0 success) and the shifts.
struct StartingDoseShifts {
  int ier = 0;
  std::vector<double> shift;
};

// The normal equations of the starting-dose shifts of the crystals flagged in `refine`
// (indexed by crystal number - 1), over every reflection observed in at least two of the
// crystal's data sets whose common decay line (one intercept per data set, doses
// (image - first image) x the rates in use) `hyptest` accepts.
std::vector<StartingDoseSums> starting_dose_sums(const ZeroDoseData& d, const DoseParameters& dose,
                                                 const LogMomentTable& table, float level,
                                                 std::span<const char> refine);

// Solves the sums of one crystal for the shifts (`hold`: STARTING_DOSE hold flags). The
// data fix only differences of starting doses: with more than one held data set the held
// ones stay fixed, otherwise the shifts are taken relative to the only held data set, or to
// the first one.
StartingDoseShifts solve_starting_doses(const StartingDoseSums& sums, std::span<const int> hold);

// Refines the dose rates, then the starting doses, of every crystal with at least two data
// sets (printing the error block of any refinement that fails and keeping the given values
// of that refinement), and prints the dose table (report file). `dose` holds the values in
// use on return.
void refine_dose_parameters(const Report& rep, const ZeroDoseData& d, DoseParameters& dose,
                            const DecayRecords& records, const LogMomentTable& table, float level);

// The table of the given and the refined dose parameters of every crystal.
void print_dose_table(const Report& rep, const ControlTables& t, const DoseParameters& dose);

}  // namespace velmar
