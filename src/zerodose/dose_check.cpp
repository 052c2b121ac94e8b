#include "zerodose/dose_check.hpp"

#include <algorithm>
#include <cmath>

#include "common/fortran_format.hpp"
#include "statistics/statistics.hpp"
#include "zerodose/decay_fit.hpp"
#include "zerodose/decay_records.hpp"

namespace velmar {
namespace {

constexpr double kCorrLimit = 0.9999;
constexpr int64_t kMaxStudentPairs = 10;  // from 11 pairs on Fisher's z decides
constexpr double kFisherLimit = 2.0;

// The accepted decay factors of the reflection being processed, in data-set order.
struct AcceptedFactors {
  std::vector<int32_t> set;
  std::vector<float> b, sd;
  int n = 0;
  explicit AcceptedFactors(size_t nset) : set(nset), b(nset), sd(nset) {}
};

struct DecayFactor {
  float b = 0.0f, sd = 0.0f;
};

// The decay factor of reflection u in data set j, or false when there is none.
bool decay_factor(const ZeroDoseData& d, const DoseParameters& dose, const LogMomentTable& table, float level,
                  size_t u, int j, DecayPoints& p, DecayFactor& out) {
  p.clear();
  if (collect_points(d, table, u, j, p) < 2) return false;
  const auto s = static_cast<size_t>(j);
  if (!add_group(p, 0, GroupRule{}, j, 0.0, dose.dose_rate[s], dose.first_image[s])) return false;
  const LineFit fit = fitlines(p.group_sizes(), p.weights(), p.doses(), p.logs(), p.intercepts(), p.intercept_sds());
  if (fit.nfree < 1) return false;
  const DecayTest test = hyptest(level, fit.slope, fit.corr, fit.nfree, p.group_sizes(), p.doses(), p.intensities(),
                                 p.sigmas(), p.factors());
  if (test.flag != 0) return false;
  out = {test.c * fit.slope, test.c * fit.sd_slope};
  return true;
}

void add_pairs(DoseCheck& r, const AcceptedFactors& acc, size_t row, size_t rows) {
  for (int a = 0; a < acc.n; ++a)
    for (int b = a + 1; b < acc.n; ++b) {
      const size_t base = pair_index(acc.set[static_cast<size_t>(a)], acc.set[static_cast<size_t>(b)]) * rows;
      const double bu = acc.b[static_cast<size_t>(a)], bv = acc.b[static_cast<size_t>(b)];
      r.sums[base + row].add(bu, bv);
      r.sums[base + rows - 1].add(bu, bv);
    }
}

// The record of the factors of data sets whose crystal has more than one data set.
void write_record(DecayRecordWriter& w, const ControlTables& t, const DoseParameters& dose, AcceptedFactors& acc) {
  int kept = 0;
  for (int k = 0; k < acc.n; ++k) {
    const auto k1 = static_cast<size_t>(k);
    const int crystal = t.sets[static_cast<size_t>(acc.set[k1])].crystal;
    if (crystal <= 0 || dose.crystal_sets[static_cast<size_t>(crystal - 1)].size() < 2) continue;
    const auto k2 = static_cast<size_t>(kept++);
    acc.set[k2] = acc.set[k1], acc.b[k2] = acc.b[k1], acc.sd[k2] = acc.sd[k1];
  }
  if (kept >= 2) write_decay_record(w, acc.set.data(), acc.b.data(), acc.sd.data(), kept);
}

void print_heading(const Report& rep) {
  rep.to_file("");
  rep.to_file("");
  rep.to_file(std::string(10, ' ') + " CORRELATION OF COMMON DECAY-FACTORS BETWEEN INPUT DATA SETS");
  rep.to_file(std::string(11, ' ') + std::string(59, '-'));
}

void print_pair(const Report& rep, const ControlTables& t, std::span<const float> shells, const DoseCheck& r, int u,
                int v) {
  const DataSet& first = t.sets[static_cast<size_t>(u)];
  const DataSet& second = t.sets[static_cast<size_t>(v)];
  rep.to_file("");
  rep.to_file("");
  rep.to_file(" First  INPUT_FILE= " + first.name);
  rep.to_file("      CRYSTAL_NAME= " + first.crystal_name);
  rep.to_file(" Second INPUT_FILE= " + second.name);
  rep.to_file("      CRYSTAL_NAME= " + second.crystal_name);
  rep.to_file("");
  rep.to_file(" RESOLUTION    NUMBER    CORRELATION");
  rep.to_file("   LIMIT      OF PAIRS      FACTOR");
  const size_t rows = shells.size() + 1;
  const size_t pair = pair_index(u, v);
  for (size_t row = 0; row < rows; ++row) {
    const PairSums& s = r.sums[pair * rows + row];
    const bool total = row + 1 == rows;
    if (!total && s.n == 0) continue;
    std::string line = total ? "    total" : fmt_f(shells[row], 9, 2);
    put_i(line, s.n, 12);
    put_f(line, pair_correlation(s), 13, 3);
    rep.to_file(line);
  }
  if (first.crystal_name != second.crystal_name) return;
  if (r.flag[pair] == 0) rep.to_file(" !!! WARNING !!! INSIGNIFICANT CORRELATION");
  if (r.flag[pair] == -1) {
    rep.to_file(" !!! WARNING !!! DECAY FACTORS OF THE TWO DATA SETS TAKEN");
    rep.to_file("                 FROM THE SAME CRYSTAL ANTI-CORRELATE.");
  }
}

}  // namespace

double pair_correlation(const PairSums& s) {
  const double q = s.uu * s.vv;
  if (s.n == 0 || !(q > 0.0)) return 0.0;
  return std::clamp(s.uv / std::sqrt(q), -kCorrLimit, kCorrLimit);
}

int pair_flag(double r, int64_t n, float level) {
  if (n <= 2) return 0;
  bool significant;
  if (n <= kMaxStudentPairs) {
    const int nu = static_cast<int>(n - 1);
    const double t = std::fabs(r) * std::sqrt(nu / (1.0 - r * r));
    significant = student_p(t, nu) < level;
  } else {
    significant = std::fabs(0.5 * std::sqrt(static_cast<double>(n - 2)) * std::log((1.0 + r) / (1.0 - r))) > kFisherLimit;
  }
  if (!significant) return 0;
  return r < 0.0 ? -1 : 1;
}

DoseCheck dosecheck(const Report& rep, const ZeroDoseData& d, const DoseParameters& dose, const LogMomentTable& table,
                    float level, const std::string& scratch_name) {
  const ControlTables& t = d.tables;
  const int nset = static_cast<int>(t.sets.size());
  const size_t rows = d.shells.size() + 1;
  DoseCheck r;
  r.sums.resize(pair_index(0, nset) * rows);
  DecayRecordWriter writer(scratch_name);
  DecayPoints points(d.unique.max_observations, 1);
  AcceptedFactors acc(static_cast<size_t>(nset));
  for (size_t u = 0; u < d.unique.size(); ++u) {
    if (d.unique.uniq[u].cls < 0) continue;
    const int row = shell_index(d.unique.ss[u], d.shells);
    if (row < 0) continue;
    acc.n = 0;
    for (int j = 0; j < nset; ++j) {
      DecayFactor f;
      if (d.unique.count(u, j) < 2 || !decay_factor(d, dose, table, level, u, j, points, f)) continue;
      const auto k = static_cast<size_t>(acc.n++);
      acc.set[k] = j, acc.b[k] = f.b, acc.sd[k] = f.sd;
    }
    add_pairs(r, acc, static_cast<size_t>(row), rows);
    write_record(writer, t, dose, acc);
  }
  close_decay_records(writer);
  r.records = writer.records;

  r.flag.resize(pair_index(0, nset));
  for (size_t pair = 0; pair < r.flag.size(); ++pair) {
    const PairSums& total = r.sums[pair * rows + rows - 1];
    r.flag[pair] = pair_flag(pair_correlation(total), total.n, level);
  }
  print_heading(rep);
  for (int v = 1; v < nset; ++v)
    for (int u = 0; u < v; ++u) print_pair(rep, t, d.shells, r, u, v);
  return r;
}

}  // namespace velmar
