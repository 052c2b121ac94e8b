#include "scaling/corfac.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "common/equivalents.hpp"

namespace velmar {
namespace {

constexpr int kMinCycles = 3;
constexpr int kMaxCycles = 6;
constexpr float kConvergedRms = 0.001f;

// Factor bases of every data set: the groups' data sets in list order, each taking the next
// n_f n_s factors; returns the total number of factors and fills the groups' fits.
int assign_bases(CorrectionKind m, std::span<const CorrectionGroup> groups, const ControlTables& t,
                 std::vector<GridDescriptor>& desc, std::vector<GroupFit>& fits) {
  desc.assign(t.sets.size(), GridDescriptor{});
  fits.assign(groups.size(), GroupFit{});
  int total = 0;
  for (size_t g = 0; g < groups.size(); ++g) {
    fits[g].first = total;
    for (const int j : group_sets(t, groups[g].group)) {
      GridDescriptor& d = desc[static_cast<size_t>(j)];
      d = grid_descriptor(m, t.sets[static_cast<size_t>(j)]);
      d.base = total;
      total += d.n_fast * d.n_slow;
    }
    fits[g].factors = total - fits[g].first;
  }
  return total;
}


// Walks the usable observations of every correction group, half by half: calls
// visit(i, j, u, y, 1/s'^2) for each usable observation i of data set j in reflection u and
// end_half(count) after each half.
template <class Visit, class EndHalf>
void for_usable(std::span<const CorrectionGroup> groups, const ControlTables& t, float threshold,
                const UniqueTable& unique, const ObservationList& obs, Visit visit, EndHalf end_half) {
  static constexpr int kAll[] = {0};
  static constexpr int kHalves[] = {-1, 1};
  for (const CorrectionGroup& g : groups) {
    const std::vector<int> sets = group_sets(t, g.group);
    const std::span<const int> halves = g.friedel_halves ? std::span<const int>(kHalves) : std::span<const int>(kAll);
    for (size_t u = 0; u < unique.size(); ++u) {
      if (unique.uniq[u].cls < 0) continue;
      for (const int half : halves) {
        int count = 0;
        for (const int j : sets) {
          const ErrorModel& model = t.sets[static_cast<size_t>(j)].model;
          const auto first = static_cast<size_t>(unique.first(u, j));
          for (size_t i = first; i < first + static_cast<size_t>(unique.count(u, j)); ++i) {
            if (obs.misfit[i] != 0 || half * obs.key[i].isym < 0) continue;
            const float f = obs.corr[i];
            const float s = getesd(obs.intensity[i], obs.sigma[i], model) * f;
            const float y = obs.intensity[i] * f;
            if (!(obs.sigma[i] * f > 0.0f) || !(s > 0.0f) || !(y > threshold * obs.sigma[i] * f)) continue;
            visit(i, j, u, y, 1.0f / (s * s));
            ++count;
          }
        }
        end_half(count);
      }
    }
  }
}

// Enlarges the pair storage to `size` entries, keeping the first `used`. The new entries are
// left unset: each is written before it is read.
void grow_pairs(CorfacWork& w, size_t size, size_t used) {
  if (w.pair_capacity >= size) return;
  auto index = std::make_unique_for_overwrite<int32_t[]>(size);
  auto weight = std::make_unique_for_overwrite<float[]>(size);
  std::copy_n(w.index.get(), used, index.get());
  std::copy_n(w.weight.get(), used, weight.get());
  w.index = std::move(index);
  w.weight = std::move(weight);
  w.pair_capacity = size;
}

// Fills the work buffers with the usable observations and their pairs, in one walk: a
// half is appended as it is met and taken back when it has fewer than two observations.
// The pair storage only grows (its used part ends at the last pair_end), so that the
// refinements of a scaling run write into the same memory without copying it.
void collect_usable(CorrectionKind m, std::span<const CorrectionGroup> groups, const ControlTables& t, float threshold,
                    std::span<const GridDescriptor> desc, std::span<const float> nodes, const UniqueTable& unique,
                    const ObservationList& obs, CorfacWork& w) {
  for (auto* v : {&w.y, &w.w}) v->clear();
  for (auto* v : {&w.half_end, &w.pair_end}) v->clear();
  w.list_index.clear();
  size_t half_start = 0, pairs = 0;
  FactorWeights fw;
  size_t usable = 0;  // the data sets' usable counts bound the observations collected here
  for (const CorrectionGroup& g : groups)
    for (const int j : group_sets(t, g.group)) usable += static_cast<size_t>(t.sets[static_cast<size_t>(j)].usable);
  grow_pairs(w, usable * fw.index.size(), 0);
  for (auto* v : {&w.y, &w.w}) v->reserve(usable);
  w.pair_end.reserve(usable);
  w.list_index.reserve(usable);
  for_usable(
      groups, t, threshold, unique, obs,
      [&](size_t i, int j, size_t u, float y, float inv_var) {
        if (w.pair_capacity < pairs + fw.index.size()) grow_pairs(w, 2 * (pairs + fw.index.size()), pairs);
        const Position& q = obs.pos[i];
        const auto n = static_cast<size_t>(wicht(m, desc[static_cast<size_t>(j)], nodes, q.x, q.y, q.z, unique.ss[u], fw));
        std::copy_n(fw.index.begin(), n, w.index.get() + pairs);
        std::copy_n(fw.weight.begin(), n, w.weight.get() + pairs);
        pairs += n;
        w.y.push_back(y);
        w.w.push_back(inv_var);
        w.list_index.push_back(static_cast<int64_t>(i));
        w.pair_end.push_back(static_cast<uint32_t>(pairs));
      },
      [&](int count) {
        if (count >= 2) {
          w.half_end.push_back(static_cast<uint32_t>(w.y.size()));
          half_start = w.y.size();
          return;
        }
        // A half of fewer than two takes no part.
        pairs = half_start == 0 ? 0 : w.pair_end[half_start - 1];
        for (auto* v : {&w.y, &w.w}) v->resize(half_start);
        w.pair_end.resize(half_start);
        w.list_index.resize(half_start);
      });
}

// The sums S1..S4 of a factor, single precision as the factors themselves; kept together
// so that one observation's pair touches one place in memory.
struct FactorSums {
  float s1 = 0.0f, s2 = 0.0f, s3 = 0.0f, s4 = 0.0f;
};

// Accumulates S1..S4 over all halves with the current factors G.
void accumulate(const CorfacWork& o, std::span<const float> g, std::vector<FactorSums>& s) {
  std::fill(s.begin(), s.end(), FactorSums{});
  uint32_t k0 = 0;
  for (const uint32_t end : o.half_end) {
    const float inv_n = 1.0f / static_cast<float>(end - k0);
    double a = 0.0, b = 0.0;
    for (uint32_t k = k0; k < end; ++k) {
      float gk = 0.0f, qk = 0.0f;
      for (uint32_t p = k == 0 ? 0 : o.pair_end[k - 1]; p < o.pair_end[k]; ++p) {
        const float gp = g[static_cast<size_t>(o.index[p])];
        gk += o.weight[p] * gp;
        qk += o.weight[p] * gp * gp;
      }
      a += static_cast<double>(gk) * o.y[k] * o.w[k];
      b += static_cast<double>(qk) * o.w[k];
    }
    if (b > 0.0) {
      const auto j = static_cast<float>(a / b);
      for (uint32_t k = k0; k < end; ++k)
        for (uint32_t p = k == 0 ? 0 : o.pair_end[k - 1]; p < o.pair_end[k]; ++p) {
          FactorSums& f = s[static_cast<size_t>(o.index[p])];
          const float wp = o.weight[p], gj = g[static_cast<size_t>(o.index[p])] * j, r = o.y[k] - gj;
          f.s1 += wp * gj * o.y[k] * o.w[k];
          f.s2 += wp * gj * gj * o.w[k];
          f.s3 += wp * r * r * o.w[k];
          f.s4 += wp * (1.0f - inv_n);
        }
    }
    k0 = end;
  }
}

// The multiplicative step of every factor with enough support, restrained toward 1, and the
// fit summary of each group.
void update_factors(const std::vector<FactorSums>& s, std::vector<float>& g, std::vector<GroupFit>& fits) {
  for (GroupFit& fit : fits) {
    double change = 0.0, s3 = 0.0, s4 = 0.0;
    int updated = 0;
    for (int p = fit.first; p < fit.first + fit.factors; ++p) {
      const auto f = static_cast<size_t>(p);
      const FactorSums& e = s[f];
      s3 += e.s3;
      s4 += e.s4;
      if (!(e.s4 >= 2.0f)) continue;
      const float r = (e.s1 + kFactorRestraintWeight * g[f]) / (e.s2 + kFactorRestraintWeight * g[f] * g[f]);
      g[f] *= r;
      change += static_cast<double>(r - 1.0f) * (r - 1.0f);
      ++updated;
    }
    fit.rms = updated > 0 ? std::sqrt(change / updated) : 0.0;
    fit.dof = s4;
    fit.chi2 = s4 > 0.5 ? s3 / s4 : s3;
  }
}

// Divides every observation's correction factor by its interpolated factor: the usable
// observations through their stored pairs, the others (weak, rejected, of excluded
// reflections) through their nodes.
void apply_factors(CorrectionKind m, const KindRefinement& r, std::span<const float> nodes, const UniqueTable& unique,
                   const CorfacWork& w, ObservationList& obs) {
  auto interpolated = [&](size_t begin, size_t end, const auto& index, const auto& weight) {
    float g = 0.0f;
    for (size_t e = begin; e < end; ++e) g += weight[e] * r.factors[static_cast<size_t>(index[e])];
    return g;
  };
  std::vector<bool> done(obs.size(), false);
  for (size_t k = 0; k < w.y.size(); ++k) {
    const auto i = static_cast<size_t>(w.list_index[k]);
    const float g = interpolated(k == 0 ? 0 : w.pair_end[k - 1], w.pair_end[k], w.index, w.weight);
    if (g > 0.0f) obs.corr[i] /= g;
    done[i] = true;
  }
  FactorWeights fw;
  for (int j = 0; j < unique.nset; ++j) {
    const GridDescriptor& d = r.desc[static_cast<size_t>(j)];
    if (d.base < 0) continue;
    for (size_t u = 0; u < unique.size(); ++u) {
      const auto first = static_cast<size_t>(unique.first(u, j));
      for (size_t i = first; i < first + static_cast<size_t>(unique.count(u, j)); ++i) {
        if (done[i]) continue;
        const Position& p = obs.pos[i];
        const auto n = static_cast<size_t>(wicht(m, d, nodes, p.x, p.y, p.z, unique.ss[u], fw));
        const float g = interpolated(0, n, fw.index, fw.weight);
        if (g > 0.0f) obs.corr[i] /= g;
      }
    }
  }
}

}  // namespace

KindRefinement corfac(CorrectionKind m, std::span<const CorrectionGroup> groups, const ControlTables& tables,
                      float threshold, std::span<const float> nodes, const UniqueTable& unique, ObservationList& obs,
                      CorfacWork& work) {
  KindRefinement r;
  const int total = assign_bases(m, groups, tables, r.desc, r.fits);
  r.factors.assign(static_cast<size_t>(total), 1.0f);
  collect_usable(m, groups, tables, threshold, r.desc, nodes, unique, obs, work);
  std::vector<FactorSums> sums(static_cast<size_t>(total));
  for (r.cycles = 1; r.cycles <= kMaxCycles; ++r.cycles) {
    accumulate(work, r.factors, sums);
    update_factors(sums, r.factors, r.fits);
    const bool converged =
        std::all_of(r.fits.begin(), r.fits.end(), [](const GroupFit& f) { return f.rms <= kConvergedRms; });
    if (r.cycles >= kMinCycles && converged) break;
  }
  if (r.cycles > kMaxCycles) r.cycles = kMaxCycles;
  apply_factors(m, r, nodes, unique, work, obs);
  return r;
}

}  // namespace velmar
