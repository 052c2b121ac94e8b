#include "zerodose/dose_apply.hpp"

#include <cmath>
#include <string>

#include "common/fortran_format.hpp"
#include "statistics/statistics.hpp"
#include "zerodose/decay_fit.hpp"

namespace velmar {
namespace {

constexpr const char* kExplanation[] = {
    " NUNIQUE = Number of unique reflections with enough symmetry-",
    "           related observations to determine a decay factor b(h)",
    " N0-DOSE = Number of 0-dose extrapolated unique reflections",
    " NERROR  = Number of unique extrapolated reflections expected",
    "           to be overfitted. A large ratio of N0-DOSE/NERROR",
    "           justifies the data correction as carried out here.",
    " S_corr  = mean value of Sigma(I) for 0-dose extrapolated data",
    " S_norm  = mean value of Sigma(I) for the same data but",
    "           without 0-dose extrapolation.",
    " NFREE   = degrees of freedom for calculating S_corr",
};

bool friedel_pairs_apart(const ControlTables& t, int j) {
  const int mode = t.groups[static_cast<size_t>(t.sets[static_cast<size_t>(j)].group - 1)].mode;
  return mode == 2 || mode == -2;
}

// The groups of reflection u in the data sets of one crystal.
void crystal_groups(const ZeroDoseData& d, const DoseParameters& dose, const LogMomentTable& table, size_t u,
                    const std::vector<int>& sets, DecayPoints& p) {
  p.clear();
  for (const int j : sets) {
    if (d.unique.count(u, j) < 2 || collect_points(d, table, u, j, p) < 2) continue;
    const auto s = static_cast<size_t>(j);
    const double d0 = dose.starting_dose[s], rate = dose.dose_rate[s];
    if (friedel_pairs_apart(d.tables, j)) {
      add_group(p, -1, GroupRule{}, j, d0, rate, dose.first_image[s]);
      add_group(p, +1, GroupRule{}, j, d0, rate, dose.first_image[s]);
    } else {
      add_group(p, 0, GroupRule{}, j, d0, rate, dose.first_image[s]);
    }
  }
}

void apply_correction(ObservationList& obs, DecayPoints& p, float decay) {
  for (size_t k = 0; k < p.points; ++k) {
    const auto i = static_cast<size_t>(p.index[k]);
    obs.corr[i] *= p.f[k];
    obs.decay[i] = decay;
  }
}

// Fits, tests and, when accepted, applies the decay line of one reflection and crystal.
void correct_reflection(const ZeroDoseData& d, DecayPoints& p, float level, ZeroDoseShell& s) {
  const int nfree = static_cast<int>(p.points) - static_cast<int>(p.groups()) - 1;
  if (nfree <= 0) return;
  ++s.nunique;
  const LineFit fit = fitlines(p.group_sizes(), p.weights(), p.doses(), p.logs(), p.intercepts(), p.intercept_sds());
  const DecayTest test = hyptest(level, fit.slope, fit.corr, fit.nfree, p.group_sizes(), p.doses(), p.intensities(),
                                 p.sigmas(), p.factors());
  if (test.flag != 0) return;
  ++s.corrected;
  s.p += test.p;
  s.s0 += test.s0;
  s.s1 += test.s1;
  s.nfree += nfree;
  s.nfree1 += nfree + 1;
  apply_correction(d.obs, p, test.c * fit.slope);
}

std::string shell_line(std::string line, const ZeroDoseShell& s) {
  put_i(line, s.nunique, 10);
  put_i(line, s.corrected, 8);
  put_f(line, corrected_per_error(s), 10, 1);
  put_f(line, sigma_ratio(s), 12, 3);
  put_i(line, s.nfree, 9);
  return line;
}

}  // namespace

void ZeroDoseShell::add(const ZeroDoseShell& o) {
  nunique += o.nunique;
  corrected += o.corrected;
  p += o.p;
  s0 += o.s0;
  s1 += o.s1;
  nfree += o.nfree;
  nfree1 += o.nfree1;
}

double corrected_per_error(const ZeroDoseShell& s) {
  if (s.corrected == 0) return 0.0;
  return s.p > 0.0 ? static_cast<double>(s.corrected) / s.p : HUGE_VAL;
}

double sigma_ratio(const ZeroDoseShell& s) {
  if (s.nfree <= 0 || !(s.s0 > 0.0)) return 1.0;
  return std::sqrt((s.s1 / static_cast<double>(s.nfree)) / (s.s0 / static_cast<double>(s.nfree1)));
}

std::vector<ZeroDoseShell> doseapply(const ZeroDoseData& d, const DoseParameters& dose, const LogMomentTable& table,
                                     float level) {
  const size_t ncrystal = dose.crystal_sets.size();
  const size_t rows = d.shells.size() + 1;
  std::vector<ZeroDoseShell> stats(ncrystal * rows);
  size_t most = 1;
  for (const std::vector<int>& sets : dose.crystal_sets) most = std::max(most, 2 * sets.size());
  DecayPoints p(d.unique.max_observations, static_cast<int>(most));
  for (size_t u = 0; u < d.unique.size(); ++u) {
    if (d.unique.uniq[u].cls < 0) continue;
    const int row = shell_index(d.unique.ss[u], d.shells);
    if (row < 0) continue;
    for (size_t c = 0; c < ncrystal; ++c) {
      crystal_groups(d, dose, table, u, dose.crystal_sets[c], p);
      correct_reflection(d, p, level, stats[c * rows + static_cast<size_t>(row)]);
    }
  }
  for (size_t c = 0; c < ncrystal; ++c)
    for (size_t row = 0; row + 1 < rows; ++row) stats[c * rows + rows - 1].add(stats[c * rows + row]);
  return stats;
}

void print_zero_dose_statistics(const Report& rep, const ZeroDoseData& d, const DoseParameters& dose,
                                const std::vector<ZeroDoseShell>& stats) {
  rep.to_file("");
  rep.to_file("");
  rep.to_file(std::string(10, ' ') + " STATISTICS OF 0-DOSE CORRECTED DATA FROM EACH CRYSTAL");
  rep.to_file(std::string(11, ' ') + std::string(53, '-'));
  rep.to_file("");
  for (const char* line : kExplanation) rep.to_file(line);
  const size_t rows = d.shells.size() + 1;
  for (size_t c = 0; c < dose.crystal_sets.size(); ++c) {
    if (dose.crystal_sets[c].empty()) continue;
    rep.to_file("");
    rep.to_file("");
    rep.to_file(" CRYSTAL_NAME= " + d.tables.sets[static_cast<size_t>(dose.crystal_sets[c][0])].crystal_name);
    rep.to_file("");
    rep.to_file(" RESOLUTION  NUNIQUE  N0-DOSE  N0-DOSE/   S_corr/    NFREE");
    rep.to_file("   LIMIT                        NERROR    S_norm");
    for (size_t row = 0; row + 1 < rows; ++row) {
      const ZeroDoseShell& s = stats[c * rows + row];
      if (s.nunique > 0) rep.to_file(shell_line(fmt_f(d.shells[row], 9, 2), s));
    }
    rep.to_file(shell_line("    total", stats[c * rows + rows - 1]));
  }
}

}  // namespace velmar
