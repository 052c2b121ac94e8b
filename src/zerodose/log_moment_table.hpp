// The moments of ln J (trunclg) looked up in a table instead of integrated for every point:
// the zero-dose stage needs them three times for every observation of a run.
#pragma once

#include <vector>

#include "zerodose/log_moments.hpp"

namespace velmar {

// trunclg(I, Sigma) depends on I and Sigma only through t = I/Sigma: its mean is
// m(t) + ln Sigma and its sd is s(t). The table holds m(t) - v and ln s(t) at equal steps of
// v = asinh(t/2), the logarithm of the mode of J/Sigma, over which both are smooth and
// nearly constant from weak to very strong intensities.
struct LogMomentTable {
  double v_min = 0.0, step = 0.0;
  std::vector<double> mean_offset;  // m(t) - v at node k
  std::vector<double> log_sd;       // ln s(t) at node k
};

// Tabulates trunclg for -20 <= I/Sigma <= 2E6 (about 4,500 nodes, a few milliseconds).
LogMomentTable log_moment_table();

// trunclg(I, Sigma) from the table, by linear interpolation between nodes; outside the
// tabulated range, and for Sigma <= 0, trunclg itself. The values agree with trunclg's to
// within its own quadrature error (about 1E-3 of the sd in the mean, 1E-3 relative in the
// sd; for the strongest intensities the rounding of the mean to single precision).
LogMoments trunclg_lookup(const LogMomentTable& table, float intensity, float sigma);

}  // namespace velmar
