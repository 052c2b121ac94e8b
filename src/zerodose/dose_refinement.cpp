#include "zerodose/dose_refinement.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numeric>
#include <string>

#include "common/fortran_format.hpp"
#include "zerodose/decay_fit.hpp"
#include "zerodose/normal_equations.hpp"

namespace velmar {
namespace {

constexpr int kMaxCycles = 20;
constexpr double kConverged = 0.0001;  // largest relative shift of a rate factor
constexpr int kMinCycles = 3;          // convergence is never declared before
constexpr double kShortening = 0.00001;

// Fixed unknowns and expected rank from the hold flags: held unknowns are fixed only when
// more than one is held; otherwise the free part has one direction the data do not fix.
struct FreeUnknowns {
  std::vector<int> fixed;
  int expected = 0;
  int held = 0;
  int anchor = 0;  // the data set the refined values are taken relative to
};

FreeUnknowns free_unknowns(std::span<const int> hold) {
  FreeUnknowns f;
  const int n = static_cast<int>(hold.size());
  f.fixed.assign(hold.size(), 0);
  f.held = static_cast<int>(std::count_if(hold.begin(), hold.end(), [](int h) { return h != 0; }));
  if (f.held > 1) {
    for (size_t k = 0; k < hold.size(); ++k) f.fixed[k] = hold[k] != 0 ? 1 : 0;
    f.expected = n - f.held;
  } else {
    f.expected = n - 1;
  }
  if (f.held == 1) f.anchor = static_cast<int>(std::find_if(hold.begin(), hold.end(), [](int h) { return h != 0; }) - hold.begin());
  return f;
}

// The Gauss-Newton normal equations of the rate factors for one cycle.
void rate_equations(const DecayRecords& rec, std::span<const double> rho, std::vector<double>& a, std::vector<double>& y) {
  std::fill(a.begin(), a.end(), 0.0);
  std::fill(y.begin(), y.end(), 0.0);
  for (size_t r = 0; r < rec.size(); ++r) {
    const auto first = static_cast<size_t>(rec.first[r]), last = static_cast<size_t>(rec.first[r + 1]);
    double s2 = 0.0, s1 = 0.0;
    for (size_t e = first; e < last; ++e) {
      const double w = 1.0 / (static_cast<double>(rec.sd[e]) * rec.sd[e]);
      const double rk = rho[static_cast<size_t>(rec.set[e])];
      s2 += w * rk * rk;
      s1 += w * rk * rec.b[e];
    }
    if (!(s2 > 0.0)) continue;
    const double beta = s1 / s2;
    for (size_t e = first; e < last; ++e) {
      const auto k = static_cast<size_t>(rec.set[e]);
      const double w = 1.0 / (static_cast<double>(rec.sd[e]) * rec.sd[e]), b = rec.b[e], rk = rho[k];
      y[k] += beta * w * (b - beta * rk);
      a[packed_index(k, k)] += beta * beta * w + (w * w / s2) * (b * b - 2.0 * beta * rk * b);
      for (size_t g = first; g < e; ++g) {
        const auto j = static_cast<size_t>(rec.set[g]);
        const double wj = 1.0 / (static_cast<double>(rec.sd[g]) * rec.sd[g]), bj = rec.b[g], rj = rho[j];
        a[packed_index(j, k)] += (wj * w / s2) * (bj * b - beta * (rj * b + rk * bj));
      }
    }
  }
}

void put_lines(const Report& rep, std::initializer_list<std::string> lines) {
  for (const std::string& l : lines) rep.both(l);
}

const std::string kIndent(15, ' ');

void print_rate_failure(const Report& rep, const std::string& crystal, int ier) {
  put_lines(rep, {" !!! ERROR !!! UNABLE TO REFINE \"DOSE_RATE=\" PARAMETERS FOR", kIndent + "CRYSTAL_NAME= " + crystal,
                  kIndent + "RETURN CODE IS  IER=" + fmt_i(ier, 3),
                  kIndent + "-1: rank of normal matrix lower than expected",
                  kIndent + "-2: non-positive starting values \"DOSE_RATE=\"",
                  kIndent + "-3: not enough common decay-factors", kIndent + "-4: refinement did not converge",
                  kIndent + "THE UNREFINED PARAMETERS WILL BE USED INSTEAD."});
}

void print_link_failure(const Report& rep, const std::string& crystal) {
  put_lines(rep, {" !!! ERROR !!! INSUFFICIENT NUMBER OF COMMON DECAY-FACTORS BETWEEN",
                  kIndent + "DATA SETS OF CRYSTAL_NAME= " + crystal,
                  kIndent + "UNREFINED \"DOSE_RATE=\" PARAMETERS WILL BE USED INSTEAD."});
}

void print_start_failure(const Report& rep, const std::string& crystal) {
  put_lines(rep, {" !!! ERROR !!! UNABLE TO REFINE \"STARTING_DOSE=\" PARAMETERS FOR", kIndent + "CRYSTAL_NAME= " + crystal,
                  kIndent + "THE UNREFINED PARAMETERS WILL BE USED INSTEAD."});
}

std::vector<int> hold_flags(const ControlTables& t, std::span<const int> sets, bool rate) {
  std::vector<int> hold;
  for (const int j : sets) {
    const DataSet& s = t.sets[static_cast<size_t>(j)];
    hold.push_back(rate ? s.hold_dose_rate : s.hold_starting_dose);
  }
  return hold;
}

// Dose rates of one crystal; the rates in `dose` change only on success.
void refine_rates(const Report& rep, const ControlTables& t, std::span<const int> sets, DoseParameters& dose,
                  const DecayRecords& all) {
  const std::string& name = t.sets[static_cast<size_t>(sets[0])].crystal_name;
  const DecayRecords records = crystal_records(all, sets);
  if (!decay_factors_linked(records, static_cast<int>(sets.size()))) {
    print_link_failure(rep, name);
    return;
  }
  std::vector<double> rates;
  for (const int j : sets) rates.push_back(dose.dose_rate[static_cast<size_t>(j)]);
  const RateFactors f = refine_rate_factors(records, hold_flags(t, sets, true), rates);
  if (f.ier != 0) {
    print_rate_failure(rep, name, f.ier);
    return;
  }
  for (size_t k = 0; k < sets.size(); ++k) dose.dose_rate[static_cast<size_t>(sets[k])] *= f.rho[k];
}

// One group per data set of the crystal that has a point of the reflection.
bool crystal_points(const ZeroDoseData& d, const DoseParameters& dose, const LogMomentTable& table, size_t u,
                    std::span<const int> sets, DecayPoints& p) {
  p.clear();
  for (const int j : sets) {
    if (d.unique.count(u, j) == 0 || collect_points(d, table, u, j, p) == 0) continue;
    const auto s = static_cast<size_t>(j);
    add_group(p, 0, GroupRule{1, false}, j, 0.0, dose.dose_rate[s], dose.first_image[s]);
  }
  return p.groups() >= 2;
}

// Adds the accepted decay line of one reflection to the crystal's starting-dose equations.
void add_decay_line(StartingDoseSums& s, const DecayPoints& p, const LineFit& fit, const DoseParameters& dose,
                    std::span<const int> local) {
  const double b = fit.slope;
  double wsum = 0.0, wa = 0.0;
  std::vector<double>& a = s.a;
  const size_t ng = p.groups();
  auto weight = [&](size_t g) {
    const double d0 = dose.starting_dose[static_cast<size_t>(p.set[g])];
    const double sda = p.sd_a[g];
    return 1.0 / (sda * sda + d0 * fit.sd_slope * d0 * fit.sd_slope);
  };
  auto moved = [&](size_t g) { return p.a[g] - b * dose.starting_dose[static_cast<size_t>(p.set[g])]; };
  for (size_t g = 0; g < ng; ++g) {
    wsum += weight(g);
    wa += weight(g) * moved(g);
  }
  const double am = wa / wsum;
  for (size_t g = 0; g < ng; ++g) {
    const auto k = static_cast<size_t>(local[static_cast<size_t>(p.set[g])]);
    const double wg = weight(g);
    s.y[k] += b * wg * (moved(g) - am);
    a[packed_index(k, k)] += b * b * wg - b * b * wg * wg / wsum;
    for (size_t h = 0; h < g; ++h) {
      const auto j = static_cast<size_t>(local[static_cast<size_t>(p.set[h])]);
      a[packed_index(j, k)] -= b * b * wg * weight(h) / wsum;
    }
  }
  ++s.reflections;
}

}  // namespace

double limit_rate_shifts(std::span<double> d, std::span<const double> rho) {
  double q = 0.0;
  for (size_t k = 0; k < d.size(); ++k) q = std::max(q, -d[k] / rho[k]);
  if (q >= 1.0)
    for (double& dk : d) dk /= q + kShortening;
  double e = 0.0;
  for (size_t k = 0; k < d.size(); ++k) e = std::max(e, std::fabs(d[k] / rho[k]));
  return e;
}

DecayRecords crystal_records(const DecayRecords& all, std::span<const int> sets) {
  DecayRecords r;
  for (size_t k = 0; k < all.size(); ++k) {
    const size_t start = r.set.size();
    for (auto e = static_cast<size_t>(all.first[k]); e < static_cast<size_t>(all.first[k + 1]); ++e) {
      const auto at = std::find(sets.begin(), sets.end(), all.set[e]);
      if (at != sets.end() && all.sd[e] > 0.0f) r.add(static_cast<int32_t>(at - sets.begin()), all.b[e], all.sd[e]);
    }
    if (r.set.size() - start >= 2) {
      r.close_record();
    } else {
      r.set.resize(start), r.b.resize(start), r.sd.resize(start);
    }
  }
  return r;
}

bool decay_factors_linked(const DecayRecords& records, int n) {
  std::vector<int> label(static_cast<size_t>(n));
  std::iota(label.begin(), label.end(), 1);
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t r = 0; r < records.size(); ++r) {
      const auto first = static_cast<size_t>(records.first[r]), last = static_cast<size_t>(records.first[r + 1]);
      int smallest = n + 1;
      for (size_t e = first; e < last; ++e) smallest = std::min(smallest, label[static_cast<size_t>(records.set[e])]);
      for (size_t e = first; e < last; ++e) {
        int& l = label[static_cast<size_t>(records.set[e])];
        if (l != smallest) l = smallest, changed = true;
      }
    }
  }
  return std::all_of(label.begin(), label.end(), [](int l) { return l == 1; });
}

RateFactors refine_rate_factors(const DecayRecords& records, std::span<const int> hold, std::span<const double> rates) {
  const size_t n = hold.size();
  RateFactors r;
  r.rho.assign(n, 1.0);
  if (std::any_of(rates.begin(), rates.end(), [](double x) { return !(x > 0.0); })) {
    r.ier = -2;
    return r;
  }
  if (n > records.size()) {
    r.ier = -3;
    return r;
  }
  const FreeUnknowns f = free_unknowns(hold);
  if (f.expected < 1) return r;
  std::vector<double> a(packed_size(n)), y(n), d(n);
  std::vector<double> rho(n, 1.0);
  r.ier = -4;
  while (r.cycles < kMaxCycles) {
    ++r.cycles;
    rate_equations(records, rho, a, y);
    if (solvneq(f.expected, f.fixed, a, y, d) != 0) {
      r.ier = -1;
      return r;
    }
    const double e = limit_rate_shifts(d, rho);
    for (size_t k = 0; k < n; ++k) rho[k] += d[k];
    if (e < kConverged && r.cycles >= kMinCycles) {
      r.ier = 0;
      break;
    }
  }
  if (r.ier != 0) return r;
  if (f.held <= 1) {
    const double scale = rho[static_cast<size_t>(f.anchor)];
    for (double& x : rho) x /= scale;
  }
  r.rho = rho;
  return r;
}

std::vector<StartingDoseSums> starting_dose_sums(const ZeroDoseData& d, const DoseParameters& dose,
                                                 const LogMomentTable& table, float level,
                                                 std::span<const char> refine) {
  const size_t ncrystal = dose.crystal_sets.size();
  std::vector<StartingDoseSums> sums(ncrystal);
  std::vector<int> local(d.tables.sets.size(), -1);
  size_t most = 0;
  for (size_t c = 0; c < ncrystal; ++c) {
    const std::vector<int>& sets = dose.crystal_sets[c];
    for (size_t k = 0; k < sets.size(); ++k) local[static_cast<size_t>(sets[k])] = static_cast<int>(k);
    sums[c].a.assign(packed_size(sets.size()), 0.0);
    sums[c].y.assign(sets.size(), 0.0);
    most = std::max(most, sets.size());
  }
  DecayPoints p(d.unique.max_observations, static_cast<int>(most));
  for (size_t u = 0; u < d.unique.size(); ++u) {
    if (d.unique.uniq[u].cls < 0) continue;
    for (size_t c = 0; c < ncrystal; ++c) {
      if (!refine[c] || !crystal_points(d, dose, table, u, dose.crystal_sets[c], p)) continue;
      const LineFit fit = fitlines(p.group_sizes(), p.weights(), p.doses(), p.logs(), p.intercepts(), p.intercept_sds());
      if (fit.nfree < 1) continue;
      const DecayTest test = hyptest(level, fit.slope, fit.corr, fit.nfree, p.group_sizes(), p.doses(),
                                     p.intensities(), p.sigmas(), p.factors());
      if (test.flag == 0) add_decay_line(sums[c], p, fit, dose, local);
    }
  }
  return sums;
}

StartingDoseShifts solve_starting_doses(const StartingDoseSums& sums, std::span<const int> hold) {
  StartingDoseShifts s;
  s.shift.assign(hold.size(), 0.0);
  const FreeUnknowns f = free_unknowns(hold);
  if (f.expected < 1) return s;
  s.ier = solvneq(f.expected, f.fixed, sums.a, sums.y, s.shift);
  if (s.ier != 0 || f.held > 1) return s;
  const double anchor = s.shift[static_cast<size_t>(f.anchor)];
  for (double& x : s.shift) x -= anchor;
  return s;
}

void refine_dose_parameters(const Report& rep, const ZeroDoseData& d, DoseParameters& dose,
                            const DecayRecords& records, const LogMomentTable& table, float level) {
  const ControlTables& t = d.tables;
  const size_t ncrystal = dose.crystal_sets.size();
  std::vector<char> refine(ncrystal, 0);
  for (size_t c = 0; c < ncrystal; ++c) {
    const std::vector<int>& sets = dose.crystal_sets[c];
    if (sets.size() < 2) continue;
    refine_rates(rep, t, sets, dose, records);
    const std::vector<int> hold = hold_flags(t, sets, false);
    refine[c] = std::any_of(hold.begin(), hold.end(), [](int h) { return h == 0; }) ? 1 : 0;
  }
  const std::vector<StartingDoseSums> sums = starting_dose_sums(d, dose, table, level, refine);
  for (size_t c = 0; c < ncrystal; ++c) {
    if (!refine[c]) continue;
    const std::vector<int>& sets = dose.crystal_sets[c];
    const StartingDoseShifts s = solve_starting_doses(sums[c], hold_flags(t, sets, false));
    if (s.ier != 0) {
      print_start_failure(rep, t.sets[static_cast<size_t>(sets[0])].crystal_name);
      continue;
    }
    for (size_t k = 0; k < sets.size(); ++k) dose.starting_dose[static_cast<size_t>(sets[k])] += s.shift[k];
  }
  print_dose_table(rep, t, dose);
}

void print_dose_table(const Report& rep, const ControlTables& t, const DoseParameters& dose) {
  rep.to_file("");
  rep.to_file("");
  rep.to_file(std::string(10, ' ') + " X-RAY DOSE PARAMETERS USED FOR EACH INPUT DATA SET");
  rep.to_file(std::string(11, ' ') + std::string(50, '-'));
  for (const std::vector<int>& sets : dose.crystal_sets) {
    if (sets.empty()) continue;
    rep.to_file("");
    rep.to_file("");
    rep.to_file(" CRYSTAL_NAME= " + t.sets[static_cast<size_t>(sets[0])].crystal_name);
    rep.to_file("        STARTING_DOSE             DOSE_RATE       NAME OF INPUT FILE");
    rep.to_file("     initial    refined      initial    refined");
    rep.to_file("");
    for (const int j : sets) {
      const DataSet& s = t.sets[static_cast<size_t>(j)];
      const auto k = static_cast<size_t>(j);
      std::string line = "  ";
      put_f(line, s.starting_dose, 10, 3);
      line += s.hold_starting_dose != 0 ? "* " : "  ";
      put_f(line, dose.starting_dose[k], 10, 3);
      line += "  ";
      put_f(line, s.dose_rate, 10, 3);
      line += s.hold_dose_rate != 0 ? "* " : "  ";
      put_f(line, dose.dose_rate[k], 10, 3);
      line += "  " + s.name;
      rep.to_file(line);
    }
  }
}

}  // namespace velmar
