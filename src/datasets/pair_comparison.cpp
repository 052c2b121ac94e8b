#include "datasets/pair_comparison.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/error.hpp"

namespace velmar {
namespace {

// Bin sums of the accepted common reflections (double precision).
struct BinSums {
  int64_t npair = 0;
  double ffi = 0.0, ffj = 0.0, vi = 0.0, vj = 0.0, stq = 0.0;
};

// Sums of I_i^2, I_j^2 and I_i I_j over all accepted reflections.
struct CrossSums {
  double ii = 0.0, jj = 0.0, ij = 0.0;
};

// The common reflections of every bin, in the stored order of the unique reflections; a
// bin takes at most kPairBinCapacity of them.
void collect_common(int i, int j, float lo, float hi, const UniqueTable& unique, const StrongMeans& means,
                    PairWork& w) {
  for (auto& b : w.bin) b.clear();
  const float scale = 29.9997f / (hi - lo);
  for (size_t u = 0; u < unique.size(); ++u) {
    if (unique.uniq[u].cls < 0) continue;
    const float position = (unique.ss[u] - lo) * scale + 1.0f;
    if (!(position >= 1.0f && position < static_cast<float>(kPairBins + 1))) continue;
    std::vector<PairWork::Entry>& list = w.bin[static_cast<size_t>(static_cast<int>(position) - 1)];
    if (list.size() >= static_cast<size_t>(kPairBinCapacity)) continue;
    const StrongMean& a = means.of(u, i);
    if (!(a.var > 0.0f)) continue;
    const StrongMean& b = means.of(u, j);
    if (!(b.var > 0.0f)) continue;
    // Ratios and their logarithms need positive means; they are, unless a negative
    // MINIMUM_I/SIGMA= admitted negative intensities as strong.
    if (!(a.mean > 0.0f && b.mean > 0.0f)) continue;
    list.push_back({a.mean, b.mean, a.var, b.var, unique.ss[u]});
  }
}

// Adds the reflections of one bin that agree with its median ratio to the bin sums.
void accept_bin(const std::vector<PairWork::Entry>& list, PairWork& w, BinSums& sums, CrossSums& q) {
  const size_t m = list.size();
  if (m <= 2) return;
  w.g.resize(m);
  w.zz.resize(m);
  w.scratch.resize(m);
  for (size_t k = 0; k < m; ++k) w.g[k] = list[k].mean_i / list[k].mean_j;
  const int median_rank = static_cast<int>(m / 2);
  xmedian(w.g, median_rank);
  const float rm = w.g[static_cast<size_t>(median_rank - 1)];
  for (size_t k = 0; k < m; ++k) {
    const PairWork::Entry& e = list[k];
    w.zz[k] = std::fabs(e.mean_i - rm * e.mean_j) / std::sqrt(e.var_i + rm * rm * e.var_j);
  }
  std::copy(w.zz.begin(), w.zz.end(), w.scratch.begin());
  const int spread_rank = static_cast<int>(std::lround(0.6827f * static_cast<float>(m)));
  xmedian(w.scratch, spread_rank);
  const float limit = 3.0f * w.scratch[static_cast<size_t>(spread_rank - 1)];
  BinSums add;
  CrossSums cross;
  for (size_t k = 0; k < m; ++k) {
    if (!(w.zz[k] <= limit)) continue;
    const PairWork::Entry& e = list[k];
    ++add.npair;
    add.ffi += e.mean_i;
    add.ffj += e.mean_j;
    add.vi += e.var_i;
    add.vj += e.var_j;
    add.stq += e.ss;
    cross.ii += static_cast<double>(e.mean_i) * e.mean_i;
    cross.jj += static_cast<double>(e.mean_j) * e.mean_j;
    cross.ij += static_cast<double>(e.mean_i) * e.mean_j;
  }
  if (add.npair <= 2) return;
  sums = add;
  q.ii += cross.ii;
  q.jj += cross.jj;
  q.ij += cross.ij;
}

// One point of the regression of ln(I_i/I_j) on SS per non-empty bin.
struct RegressionPoints {
  int nb = 0;
  std::array<float, kPairBins> x{}, y{}, w{};
  int n = 0;
  float si = 0.0f, sj = 0.0f, svi = 0.0f, svj = 0.0f;
};

RegressionPoints regression_points(const std::array<BinSums, kPairBins>& bins) {
  RegressionPoints p;
  for (const BinSums& b : bins) {
    if (b.npair <= 0) continue;
    const auto k = static_cast<size_t>(p.nb++);
    p.x[k] = static_cast<float>(b.stq / static_cast<double>(b.npair));
    p.y[k] = static_cast<float>(std::log(b.ffi / b.ffj));
    p.w[k] = static_cast<float>(1.0 / (b.vj / (b.ffj * b.ffj) + b.vi / (b.ffi * b.ffi)));
    p.n += static_cast<int>(b.npair);
    p.si += static_cast<float>(b.ffi);
    p.sj += static_cast<float>(b.ffj);
    p.svi += static_cast<float>(b.vi);
    p.svj += static_cast<float>(b.vj);
  }
  return p;
}

float correlation(const RegressionPoints& p, const CrossSums& q) {
  const double n = p.n;
  const double mi = p.si / n, mj = p.sj / n;
  const double vi = q.ii / n - mi * mi, vj = q.jj / n - mj * mj;
  double c = q.ij / n - mi * mj;
  if (vi > 0.0 && vj > 0.0) c /= std::sqrt(vi * vj);
  return std::fabs(c) <= 1.00001 ? static_cast<float>(c) : 0.0f;
}

void fit_line(const RegressionPoints& p, PairComparison& out) {
  float sw = 0.0f, swx = 0.0f, swy = 0.0f;
  for (int k = 0; k < p.nb; ++k) sw += p.w[k], swx += p.w[k] * p.x[k], swy += p.w[k] * p.y[k];
  const float xm = swx / sw, ym = swy / sw;
  float sxx = 0.0f, sxy = 0.0f, syy = 0.0f;
  for (int k = 0; k < p.nb; ++k) {
    const float dx = p.x[k] - xm, dy = p.y[k] - ym;
    sxx += p.w[k] * dx * dx;
    sxy += p.w[k] * dx * dy;
    syy += p.w[k] * dy * dy;
  }
  // The added Syy/Sxx shrinks B toward 0 when the SS range is short.
  if (p.nb >= 2 && sxx > 0.0f) out.b = sxy / (sxx + syy / sxx);
  out.ln_k = std::log(p.si / p.sj) - xm * out.b;
  out.var_ln_k = p.svi / p.si + p.svj / p.sj;
  if (p.nb >= 3 && sxx > 0.0f) {
    float residual = 0.0f;
    for (int k = 0; k < p.nb; ++k) {
      const float d = (p.y[k] - ym) - out.b * (p.x[k] - xm);
      residual += p.w[k] * d * d;
    }
    out.var_b = residual / (static_cast<float>(p.nb - 2) * sxx);
  }
}

}  // namespace

PairWork::PairWork() {
  for (auto& b : bin) b.reserve(256);
}

void strong_means(const UniqueTable& unique, const ObservationList& obs, std::span<const DataSet> sets, float t,
                  StrongMeans& means) {
  means.nset = unique.nset;
  means.at.assign(unique.size() * static_cast<size_t>(unique.nset), StrongMean{});
  for (size_t u = 0; u < unique.size(); ++u) {
    for (int j = 0; j < unique.nset; ++j) {
      const int32_t first = unique.first(u, j), n = unique.count(u, j);
      const ErrorModel& m = sets[static_cast<size_t>(j)].model;
      double sw = 0.0, swi = 0.0;
      for (auto i = static_cast<size_t>(first); i < static_cast<size_t>(first + n); ++i) {
        if (obs.misfit[i] != 0) continue;
        const float f = obs.corr[i];
        const float sigma = obs.sigma[i] * f, intensity = obs.intensity[i] * f;
        if (!(sigma > 0.0f) || !(t * sigma < intensity)) continue;
        const float s = getesd(intensity, sigma, m);
        if (!(s > 0.0f)) continue;
        const double w = 1.0 / (static_cast<double>(s) * s);
        sw += w;
        swi += w * intensity;
      }
      if (sw > 0.0) means.at[u * static_cast<size_t>(unique.nset) + static_cast<size_t>(j)] = {
          static_cast<float>(swi / sw), static_cast<float>(1.0 / sw)};
    }
  }
}

PairComparison xpair(int i, int j, const UniqueTable& unique, const StrongMeans& means, std::span<const DataSet> sets,
                     PairWork& work) {
  PairComparison out;
  const ObservedRanges& a = sets[static_cast<size_t>(i)].range;
  const ObservedRanges& b = sets[static_cast<size_t>(j)].range;
  const float lo = std::max(a.ss_min, b.ss_min), hi = std::min(a.ss_max, b.ss_max);
  if (!(hi - lo > 0.0f)) return out;
  collect_common(i, j, lo, hi, unique, means, work);
  std::array<BinSums, kPairBins> bins{};
  CrossSums q;
  for (size_t k = 0; k < bins.size(); ++k) accept_bin(work.bin[k], work, bins[k], q);
  const RegressionPoints p = regression_points(bins);
  if (p.nb == 0) return out;
  out.n = p.n;
  out.r = correlation(p, q);
  fit_line(p, out);
  return out;
}

void xmedian(std::span<float> a, int k) {
  const int n = static_cast<int>(a.size());
  if (k < 1 || k > n) return;
  auto at = [&](int i) -> float& { return a[static_cast<size_t>(i - 1)]; };
  int l = 1, r = n;
  while (l < r) {
    const float x = at(k);
    int i = l, j = r;
    do {
      while (at(i) < x) ++i;
      while (x < at(j)) --j;
      if (i <= j) {
        std::swap(at(i), at(j));
        ++i;
        --j;
      }
    } while (i <= j);
    if (j < k) l = i;
    if (k < i) r = j;
  }
  const float kth = at(k);
  for (int i = 1; i <= n; ++i)
    if ((i < k && !(at(i) <= kth)) || (i > k && !(at(i) >= kth))) stop_verbatim(" ASSERT VIOLATION IN \"XMEDIAN\"");
}

}  // namespace velmar
