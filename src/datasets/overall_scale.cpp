#include "datasets/overall_scale.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "common/tables.hpp"
#include "datasets/pair_comparison.hpp"

namespace velmar {
namespace {

constexpr int kMaxCycles = 9;
constexpr float kShiftThreshold = 0.001f;
constexpr float kDangerousCorrelation = 0.6f;

struct Pair {
  int i, j;  // 0-based, i < j
  PairComparison result;
};

// (1,2), (1,3), (2,3), (1,4), (2,4), (3,4), ...
std::vector<Pair> pair_list(int nset) {
  std::vector<Pair> pairs;
  for (int j = 1; j < nset; ++j)
    for (int i = 0; i < j; ++i) pairs.push_back({i, j, {}});
  return pairs;
}

// Data sets read from the same file with the same settings (the same input given to
// several output groups) hold identical observations. Each is scaled as the first of its
// copies: comparing a copy with another data set need not give exactly the mirror image of
// comparing the original with it, and two copies drifting apart would then be tied by an
// almost infinite weight that breaks the normal equations. (Two different files with the
// same intensities are not copies: their pair has no weight, and the rank shows it.)
bool same_input(const DataSet& a, const DataSet& b) {
  return a.name == b.name && a.kind == b.kind && a.res_low == b.res_low && a.res_high == b.res_high &&
         a.weight == b.weight;
}

bool identical_sets(int a, int b, const UniqueTable& unique, const ObservationList& obs) {
  for (size_t u = 0; u < unique.size(); ++u) {
    const int32_t n = unique.count(u, a);
    if (n != unique.count(u, b)) return false;
    const auto fa = static_cast<size_t>(unique.first(u, a)), fb = static_cast<size_t>(unique.first(u, b));
    for (size_t k = 0; k < static_cast<size_t>(n); ++k)
      if (!(obs.key[fa + k] == obs.key[fb + k]) || obs.intensity[fa + k] != obs.intensity[fb + k] ||
          obs.sigma[fa + k] != obs.sigma[fb + k] || obs.corr[fa + k] != obs.corr[fb + k] || !(obs.pos[fa + k] == obs.pos[fb + k]))
        return false;
  }
  return true;
}

// The first copy of every data set (itself when it has none).
std::vector<int> first_copies(std::span<const DataSet> sets, const UniqueTable& unique, const ObservationList& obs) {
  std::vector<int> first(static_cast<size_t>(unique.nset));
  for (int s = 0; s < unique.nset; ++s) {
    first[static_cast<size_t>(s)] = s;
    for (int r = 0; r < s; ++r)
      if (first[static_cast<size_t>(r)] == r && same_input(sets[static_cast<size_t>(r)], sets[static_cast<size_t>(s)]) &&
          identical_sets(r, s, unique, obs)) {
        first[static_cast<size_t>(s)] = r;
        break;
      }
  }
  return first;
}

// The data sets that are scaled (the first copies), numbered 0..n-1 in data-set order.
struct ScaledSets {
  std::vector<int> first;   // per data set: its first copy
  std::vector<int> number;  // per data set: the number of its first copy among the scaled ones
  int n = 0;
  ScaledSets(std::span<const DataSet> sets, const UniqueTable& unique, const ObservationList& obs)
      : first(first_copies(sets, unique, obs)) {
    number.resize(first.size());
    for (size_t s = 0; s < first.size(); ++s)
      number[s] = first[s] == static_cast<int>(s) ? n++ : number[static_cast<size_t>(first[s])];
  }
  bool scaled(int s) const { return first[static_cast<size_t>(s)] == s; }
};

// True when every scaled data set is linked to the first one through pairs with more than
// 2 common reflections: labels take the smallest label of their partners until nothing
// changes, and all must end as the first.
bool connected(const std::vector<Pair>& pairs, const ScaledSets& sets) {
  std::vector<int> label(static_cast<size_t>(sets.n));
  std::iota(label.begin(), label.end(), 0);
  for (bool changed = true; changed;) {
    changed = false;
    for (const Pair& p : pairs) {
      if (!sets.scaled(p.i) || !sets.scaled(p.j)) continue;
      int& a = label[static_cast<size_t>(sets.number[static_cast<size_t>(p.i)])];
      int& b = label[static_cast<size_t>(sets.number[static_cast<size_t>(p.j)])];
      if (p.result.n > 2 && a != b) {
        a = b = std::min(a, b);
        changed = true;
      }
    }
  }
  return *std::max_element(label.begin(), label.end()) == 0;
}

// One of the two least-squares problems: the per-data-set values x minimising
// sum over pairs of (x_i - x_j + v_ij)^2 / var_ij over the scaled data sets. Returns the
// rank and, for every data set, the shift x(its first copy) - x(reference).
struct Shifts {
  int rank = 0;
  std::vector<float> shift;
};

Shifts solve_pairs(const std::vector<Pair>& pairs, const ScaledSets& sets, int reference, bool for_b) {
  const auto n = static_cast<size_t>(sets.n);
  std::vector<double> wt(n * n, 0.0), d(n * n, 0.0);
  for (const Pair& p : pairs) {
    const float var = for_b ? p.result.var_b : p.result.var_ln_k;
    if (!(var > 0.0f) || !sets.scaled(p.i) || !sets.scaled(p.j)) continue;
    const float v = for_b ? p.result.b : p.result.ln_k;
    const auto i = static_cast<size_t>(sets.number[static_cast<size_t>(p.i)]);
    const auto j = static_cast<size_t>(sets.number[static_cast<size_t>(p.j)]);
    d[i * n + j] = v;
    d[j * n + i] = -v;
    wt[i * n + j] = wt[j * n + i] = 1.0 / var;
  }
  std::vector<double> a(n * (n + 1) / 2, 0.0), y(n, 0.0), x(n, 0.0);
  double trace = 0.0;
  for (size_t u = 0; u < n; ++u) {
    for (size_t k = 0; k < n; ++k) {
      if (k == u) continue;
      a[packed_upper(u, u)] += wt[u * n + k];
      if (k > u) a[packed_upper(u, k)] = -wt[u * n + k];
      y[u] -= wt[u * n + k] * d[u * n + k];
    }
    trace += a[packed_upper(u, u)];
  }
  // The matrix is singular (a common shift changes nothing); adding c everywhere makes the
  // solution sum to zero.
  const double c = trace / static_cast<double>(n * n);
  for (double& e : a) e += c;
  Shifts s;
  s.rank = solve_symmetric(a, y, x);
  const double origin = x[static_cast<size_t>(sets.number[static_cast<size_t>(reference - 1)])];
  for (const int number : sets.number) s.shift.push_back(static_cast<float>(x[static_cast<size_t>(number)] - origin));
  return s;
}

float largest_magnitude(const std::vector<float>& v) {
  float m = 0.0f;
  for (float e : v) m = std::max(m, std::fabs(e));
  return m;
}

void apply_shifts(const std::vector<float>& db, const std::vector<float>& dlnk, std::span<DataSet> sets,
                  const UniqueTable& unique, ObservationList& obs) {
  for (size_t u = 0; u < unique.size(); ++u)
    for (int s = 0; s < unique.nset; ++s) {
      const int32_t first = unique.first(u, s), n = unique.count(u, s);
      if (n == 0) continue;
      const auto k = static_cast<size_t>(s);
      const float g = std::exp(db[k] * unique.ss[u] + dlnk[k]);
      for (auto i = static_cast<size_t>(first); i < static_cast<size_t>(first + n); ++i) obs.corr[i] *= g;
    }
  for (size_t k = 0; k < sets.size(); ++k) {
    sets[k].b += db[k];
    sets[k].k *= std::exp(dlnk[k]);
  }
}

void print_correlations(const Report& rep, const std::vector<Pair>& pairs) {
  const std::string stars = " " + std::string(78, '*');
  for (const char* line : {"", ""}) rep.both(line);
  rep.both(stars);
  rep.both(std::string(16, ' ') + "OVERALL SCALING AND CRYSTAL DISORDER CORRECTION");
  rep.both(stars);
  rep.both("");
  rep.both(std::string(6, ' ') + "CORRELATIONS BETWEEN INPUT DATA SETS AFTER CORRECTIONS");
  rep.both("");
  rep.both(" DATA SETS  NUMBER OF COMMON  CORRELATION   RATIO OF COMMON   B-FACTOR");
  rep.both("  #i   #j     REFLECTIONS     BETWEEN i,j  INTENSITIES (i/j)  BETWEEN i,j");
  rep.both("");
  for (const Pair& p : pairs) {
    std::string line;
    put_i(line, p.i + 1, 5);
    put_i(line, p.j + 1, 5);
    put_i(line, p.result.n, 12);
    put_f(line, p.result.r, 16, 3);
    put_f(line, std::exp(p.result.ln_k), 18, 4);
    put_f(line, p.result.b, 15, 4);
    rep.both(line);
  }
}

[[noreturn]] void stop_unscaled(const Report& rep, const std::string& first, const std::string& second = "") {
  rep.both("");
  rep.both("");
  rep.both(first);
  if (!second.empty()) rep.both(second);
  rep.both(std::string(15, ' ') + "PROGRAM IS UNABLE TO PRODUCE A SCALED DATA SET.");
  stop("!!! ERROR !!!");
}

void print_factors(const Report& rep, std::span<const DataSet> sets) {
  rep.both("");
  rep.both("");
  rep.both(" K*EXP(B*SS) = Factor applied to intensities");
  rep.both("    SS       = (2sin(theta)/lambda)^2");
  rep.both("");
  rep.both("     K        B           DATA SET NAME");
  for (const DataSet& s : sets) {
    std::string line;
    put_f(line, s.k, 10, 4);
    put_f(line, s.b, 8, 3);
    line += "    ";
    put_char(line, s.name, kMaxNameLength);
    rep.both(line);
  }
}

void report(const Report& rep, const std::vector<Pair>& pairs, int status, int nset, int expected_rank,
            std::span<const DataSet> sets) {
  print_correlations(rep, pairs);
  if (status == -2) stop_unscaled(rep, " !!! ERROR !!! INSUFFICIENT NUMBER OF COMMON STRONG REFLECTIONS.");
  if (status != nset)
    stop_unscaled(rep, " !!! ERROR !!! INACCURATE SCALING FACTORS.",
                  std::string(15, ' ') + "RANK OF NORMAL MATRIX IS" + fmt_i(status, 5) + " INSTEAD OF" +
                      fmt_i(expected_rank, 5));
  const bool dangerous = std::any_of(pairs.begin(), pairs.end(), [](const Pair& p) {
    return p.result.n > 1 && p.result.r < kDangerousCorrelation;
  });
  if (dangerous) {
    rep.both("");
    rep.both("");
    rep.both(" !!! WARNING !!! SOME CORRELATION FACTORS ARE DANGEROUSLY SMALL.");
    rep.both(" *** DATA SETS MAY BE INCOMPATIBLE.***");
  }
  print_factors(rep, sets);
}

}  // namespace

int solve_symmetric(std::span<const double> packed, std::span<const double> y_in, std::span<double> x) {
  const size_t n = y_in.size();
  std::vector<double> a(n * n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) a[i * n + j] = packed[packed_upper(i, j)];
  std::vector<double> y(y_in.begin(), y_in.end()), inverse_pivot(n, 0.0);
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), size_t{0});
  const double tolerance = n > 0 ? 5.0e-7 * std::fabs(a[0]) : 0.0;
  int rank = 0;
  for (size_t t = 0; t < n; ++t) {
    size_t best = t;
    for (size_t q = t + 1; q < n; ++q)
      if (std::fabs(a[order[q] * n + order[q]]) > std::fabs(a[order[best] * n + order[best]])) best = q;
    std::swap(order[t], order[best]);
    const size_t p = order[t];
    const double pivot = a[p * n + p];
    if (!(std::fabs(pivot) > tolerance)) continue;  // dropped: x(p) = 0
    ++rank;
    inverse_pivot[p] = 1.0 / pivot;
    for (size_t q = t + 1; q < n; ++q) {
      const size_t k = order[q];
      const double f = a[k * n + p] / pivot;
      for (size_t r = t + 1; r < n; ++r) a[k * n + order[r]] -= f * a[p * n + order[r]];
      y[k] -= f * y[p];
    }
  }
  for (size_t t = n; t-- > 0;) {
    const size_t p = order[t];
    double sum = y[p];
    for (size_t q = t + 1; q < n; ++q) sum -= a[p * n + order[q]] * x[order[q]];
    x[p] = inverse_pivot[p] * sum;
  }
  return rank;
}

int xorder(const Report& rep, float t, int reference, std::span<DataSet> sets, const UniqueTable& unique,
           ObservationList& obs) {
  const int nset = static_cast<int>(sets.size());
  if (nset < 2) return 0;
  if (reference < 1 || reference > nset) return -1;
  std::vector<Pair> pairs = pair_list(nset);
  const ScaledSets scaled(sets, unique, obs);
  StrongMeans means;
  PairWork work;
  int status = nset, rank = scaled.n;
  for (int cycle = 1; cycle <= kMaxCycles; ++cycle) {
    strong_means(unique, obs, sets, t, means);
    for (Pair& p : pairs) p.result = xpair(p.i, p.j, unique, means, sets, work);
    if (!connected(pairs, scaled)) {
      status = -2;
      break;
    }
    const Shifts b = solve_pairs(pairs, scaled, reference, true);
    rank = b.rank;
    if (rank != scaled.n) break;
    const Shifts k = solve_pairs(pairs, scaled, reference, false);
    rank = k.rank;
    if (rank != scaled.n) break;
    apply_shifts(b.shift, k.shift, sets, unique, obs);
    if (std::max(largest_magnitude(b.shift), largest_magnitude(k.shift)) < kShiftThreshold) break;
  }
  if (status != -2) status = rank == scaled.n ? nset : rank;
  report(rep, pairs, status, nset, scaled.n, sets);
  return status;
}

}  // namespace velmar
