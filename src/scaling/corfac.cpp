#include "scaling/corfac.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/equivalents.hpp"

namespace velmar {
namespace {

constexpr int kMinCycles = 3;
constexpr int kMaxCycles = 6;
constexpr float kConvergedRms = 0.001f;

// The usable observations of all correction groups, half by half (a half being all the
// observations of a reflection, or one Friedel half of them), with their factor pairs. Built
// once per refinement: the pairs do not change while the factors are refined.
struct UsableObservations {
  std::vector<uint32_t> half_end;  // end of each half's observations
  std::vector<float> y;            // corrected intensity I F
  std::vector<float> w;            // 1/s'^2 with the error-model sigma s'
  std::vector<uint32_t> pair_end;  // end of each observation's pairs
  std::vector<int32_t> index;      // factor index of each pair
  std::vector<float> weight;       // weight of each pair

  void truncate(size_t observations) {
    const size_t pairs = observations == 0 ? 0 : pair_end[observations - 1];
    y.resize(observations);
    w.resize(observations);
    pair_end.resize(observations);
    index.resize(pairs);
    weight.resize(pairs);
  }
};

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

// Appends the usable observations of reflection u in the selected half (t isym >= 0) of the
// group's data sets; keeps them only when there are at least two.
void add_half(CorrectionKind m, int t, std::span<const int> sets, const ControlTables& tables, float threshold,
              std::span<const GridDescriptor> desc, std::span<const float> nodes, const UniqueTable& unique, size_t u,
              const ObservationList& obs, UsableObservations& out) {
  const size_t start = out.y.size();
  FactorWeights fw;
  for (const int j : sets) {
    const GridDescriptor& d = desc[static_cast<size_t>(j)];
    const ErrorModel& model = tables.sets[static_cast<size_t>(j)].model;
    const auto first = static_cast<size_t>(unique.first(u, j));
    for (size_t i = first; i < first + static_cast<size_t>(unique.count(u, j)); ++i) {
      if (obs.misfit[i] != 0 || t * obs.key[i].isym < 0) continue;
      const float f = obs.corr[i];
      const float s = getesd(obs.intensity[i], obs.sigma[i], model) * f;
      const float y = obs.intensity[i] * f;
      if (!(obs.sigma[i] * f > 0.0f) || !(s > 0.0f) || !(y > threshold * obs.sigma[i] * f)) continue;
      const Position& p = obs.pos[i];
      const int n = wicht(m, d, nodes, p.x, p.y, p.z, unique.ss[u], fw);
      if (n == 0) continue;
      out.y.push_back(y);
      out.w.push_back(1.0f / (s * s));
      for (int k = 0; k < n; ++k) {
        out.index.push_back(fw.index[static_cast<size_t>(k)]);
        out.weight.push_back(fw.weight[static_cast<size_t>(k)]);
      }
      out.pair_end.push_back(static_cast<uint32_t>(out.index.size()));
    }
  }
  if (out.y.size() - start >= 2) out.half_end.push_back(static_cast<uint32_t>(out.y.size()));
  else out.truncate(start);
}

UsableObservations usable_observations(CorrectionKind m, std::span<const CorrectionGroup> groups,
                                       const ControlTables& t, float threshold, std::span<const GridDescriptor> desc,
                                       std::span<const float> nodes, const UniqueTable& unique,
                                       const ObservationList& obs) {
  static constexpr int kAll[] = {0};
  static constexpr int kHalves[] = {-1, 1};
  UsableObservations out;
  for (const CorrectionGroup& g : groups) {
    const std::vector<int> sets = group_sets(t, g.group);
    const std::span<const int> halves = g.friedel_halves ? std::span<const int>(kHalves) : std::span<const int>(kAll);
    for (size_t u = 0; u < unique.size(); ++u) {
      if (unique.uniq[u].cls < 0) continue;
      for (const int half : halves) add_half(m, half, sets, t, threshold, desc, nodes, unique, u, obs, out);
    }
  }
  return out;
}

// The sums S1..S4 of every factor, single precision as the factors themselves.
struct FactorSums {
  std::vector<float> s1, s2, s3, s4;
  explicit FactorSums(size_t n) : s1(n), s2(n), s3(n), s4(n) {}
  void clear() {
    for (auto* v : {&s1, &s2, &s3, &s4}) std::fill(v->begin(), v->end(), 0.0f);
  }
};

// Accumulates S1..S4 over all halves with the current factors G.
void accumulate(const UsableObservations& o, std::span<const float> g, FactorSums& s) {
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
          const auto f = static_cast<size_t>(o.index[p]);
          const float wp = o.weight[p], gj = g[f] * j, r = o.y[k] - gj;
          s.s1[f] += wp * gj * o.y[k] * o.w[k];
          s.s2[f] += wp * gj * gj * o.w[k];
          s.s3[f] += wp * r * r * o.w[k];
          s.s4[f] += wp * (1.0f - inv_n);
        }
    }
    k0 = end;
  }
}

// The multiplicative step of every factor with enough support, restrained toward 1, and the
// fit summary of each group.
void update_factors(const FactorSums& s, std::vector<float>& g, std::vector<GroupFit>& fits) {
  for (GroupFit& fit : fits) {
    double change = 0.0, s3 = 0.0, s4 = 0.0;
    int updated = 0;
    for (int p = fit.first; p < fit.first + fit.factors; ++p) {
      const auto f = static_cast<size_t>(p);
      s3 += s.s3[f];
      s4 += s.s4[f];
      if (!(s.s4[f] >= 2.0f)) continue;
      const float r = (s.s1[f] + kFactorRestraintWeight * g[f]) / (s.s2[f] + kFactorRestraintWeight * g[f] * g[f]);
      g[f] *= r;
      change += static_cast<double>(r - 1.0f) * (r - 1.0f);
      ++updated;
    }
    fit.rms = updated > 0 ? std::sqrt(change / updated) : 0.0;
    fit.dof = s4;
    fit.chi2 = s4 > 0.5 ? s3 / s4 : s3;
  }
}

// Divides every observation's correction factor by its interpolated factor.
void apply_factors(CorrectionKind m, const KindRefinement& r, std::span<const float> nodes, const UniqueTable& unique,
                   ObservationList& obs) {
  FactorWeights fw;
  for (int j = 0; j < unique.nset; ++j) {
    const GridDescriptor& d = r.desc[static_cast<size_t>(j)];
    if (d.base < 0) continue;
    for (size_t u = 0; u < unique.size(); ++u) {
      const auto first = static_cast<size_t>(unique.first(u, j));
      for (size_t i = first; i < first + static_cast<size_t>(unique.count(u, j)); ++i) {
        const Position& p = obs.pos[i];
        const int n = wicht(m, d, nodes, p.x, p.y, p.z, unique.ss[u], fw);
        float g = 0.0f;
        for (int k = 0; k < n; ++k)
          g += fw.weight[static_cast<size_t>(k)] * r.factors[static_cast<size_t>(fw.index[static_cast<size_t>(k)])];
        if (g > 0.0f) obs.corr[i] /= g;
      }
    }
  }
}

}  // namespace

KindRefinement corfac(CorrectionKind m, std::span<const CorrectionGroup> groups, const ControlTables& tables,
                      float threshold, std::span<const float> nodes, const UniqueTable& unique, ObservationList& obs) {
  KindRefinement r;
  const int total = assign_bases(m, groups, tables, r.desc, r.fits);
  r.factors.assign(static_cast<size_t>(total), 1.0f);
  {
    const UsableObservations usable = usable_observations(m, groups, tables, threshold, r.desc, nodes, unique, obs);
    FactorSums sums(static_cast<size_t>(total));
    for (r.cycles = 1; r.cycles <= kMaxCycles; ++r.cycles) {
      sums.clear();
      accumulate(usable, r.factors, sums);
      update_factors(sums, r.factors, r.fits);
      const bool converged =
          std::all_of(r.fits.begin(), r.fits.end(), [](const GroupFit& f) { return f.rms <= kConvergedRms; });
      if (r.cycles >= kMinCycles && converged) break;
    }
    if (r.cycles > kMaxCycles) r.cycles = kMaxCycles;
  }
  apply_factors(m, r, nodes, unique, obs);
  return r;
}

}  // namespace velmar
