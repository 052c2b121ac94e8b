#include "scaling/error_model_fit.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "common/equivalents.hpp"
#include "common/reject.hpp"

namespace velmar {
namespace {

constexpr double kConvergedChange = 1.0e-4;

// The sums P0..P4 of one data set.
using ModelSums = std::array<double, 5>;

// The observations of one reflection half collected for the fit.
struct HalfObservations {
  std::vector<int16_t> isym;
  std::vector<float> y, s, u, x;  // I F, error-model sigma, sigma F, (I/sigma)^2
  std::vector<size_t> index;
  std::vector<int> set;
  void clear() {
    isym.clear(), y.clear(), s.clear(), u.clear(), x.clear(), index.clear(), set.clear();
  }
};

// Collects the half's observations without misfit mark; an observation whose error-model
// sigma is undefined becomes a misfit.
void collect(int t, std::span<const int> sets, const ControlTables& tables, const UniqueTable& unique, size_t u,
             ObservationList& obs, HalfObservations& h) {
  h.clear();
  for (const int j : sets) {
    const ErrorModel& m = tables.sets[static_cast<size_t>(j)].model;
    const auto first = static_cast<size_t>(unique.first(u, j));
    for (size_t i = first; i < first + static_cast<size_t>(unique.count(u, j)); ++i) {
      if (obs.misfit[i] != 0 || t * obs.key[i].isym < 0) continue;
      const float f = obs.corr[i];
      const float uk = obs.sigma[i] * f;
      const float q = obs.intensity[i] / obs.sigma[i];
      const float arg = m.a * m.b * q * q + m.a;
      if (!(uk > 0.0f) || !(arg > 0.0f)) {
        obs.misfit[i] = 1;
        continue;
      }
      h.isym.push_back(obs.key[i].isym);
      h.y.push_back(obs.intensity[i] * f);
      h.s.push_back(uk * std::sqrt(arg));
      h.u.push_back(uk);
      h.x.push_back(q * q);
      h.index.push_back(i);
      h.set.push_back(j);
    }
  }
}

// Rejects outliers of the half and adds the kept observations' deviations to their sums.
void fit_half(HalfObservations& h, float criterion, ObservationList& obs, std::vector<ModelSums>& sums) {
  const RejectResult r = reject(0, h.isym, h.y, h.s, criterion, 1);
  for (size_t k = 0; k < h.s.size(); ++k)
    if (h.s[k] < 0.0f) obs.misfit[h.index[k]] = 1;
  if (r.m < 2) return;
  double sw = 0.0, swy = 0.0;
  for (size_t k = 0; k < h.s.size(); ++k)
    if (h.s[k] > 0.0f) {
      const double w = 1.0 / (static_cast<double>(h.u[k]) * h.u[k]);
      sw += w;
      swy += w * h.y[k];
    }
  const double j = swy / sw, sj2 = 1.0 / sw;
  for (size_t k = 0; k < h.s.size(); ++k) {
    if (!(h.s[k] > 0.0f)) continue;
    const double u2 = static_cast<double>(h.u[k]) * h.u[k];
    const double c = 1.0 - sj2 / u2, d = (j - h.y[k]), r2 = d * d / u2, x = h.x[k];
    ModelSums& p = sums[static_cast<size_t>(h.set[k])];
    p[0] += c;
    p[1] += r2;
    p[2] += c * x;
    p[3] += r2 * x;
    p[4] += c * x * x;
  }
}

// The weighted least-squares fit of r2 = c (a + a b x) per data set; returns the largest
// relative change of a.
double update_models(const std::vector<ModelSums>& sums, ControlTables& t) {
  double largest = 0.0;
  for (size_t j = 0; j < sums.size(); ++j) {
    const ModelSums& p = sums[j];
    if (!(p[0] > 1.0)) continue;
    const double m1 = p[1] / p[0], m2 = p[2] / p[0];
    const double q3 = p[3] - p[1] * p[2] / p[0], q4 = p[4] - p[2] * p[2] / p[0];
    const double bb = q4 > 1.0 ? q3 / q4 : 0.0;
    const double aa = m1 - bb * m2;
    if (!(aa > 0.0)) continue;
    DataSet& s = t.sets[j];
    largest = std::max(largest, std::fabs(s.model.a - aa) / aa);
    s.model.a = static_cast<float>(aa);
    s.model.b = std::max(static_cast<float>(bb / aa), s.range.b_min);
  }
  return largest;
}

}  // namespace

int refine_error_model(std::span<const CorrectionGroup> groups, ControlTables& t, const UniqueTable& unique,
                       ObservationList& obs) {
  static constexpr int kAll[] = {0};
  static constexpr int kHalves[] = {-1, 1};
  HalfObservations h;
  int iteration = 1;
  for (;; ++iteration) {
    const float criterion = iteration == 1 ? 0.0f : t.run.wfac1;
    std::vector<ModelSums> sums(t.sets.size(), ModelSums{});
    for (const CorrectionGroup& g : groups) {
      const std::vector<int> sets = group_sets(t, g.group);
      const bool friedel = t.groups[static_cast<size_t>(g.group - 1)].friedel_law();
      const std::span<const int> halves = friedel ? std::span<const int>(kAll) : std::span<const int>(kHalves);
      for (size_t u = 0; u < unique.size(); ++u) {
        if (unique.uniq[u].cls < 0) continue;
        for (const int half : halves) {
          collect(half, sets, t, unique, u, obs, h);
          if (!h.y.empty()) fit_half(h, criterion, obs, sums);
        }
      }
    }
    const double change = update_models(sums, t);
    if ((iteration > 2 && change < kConvergedChange) || iteration == kMaxErrorModelIterations) break;
  }
  return iteration;
}

void final_sigmas(const ControlTables& t, std::span<const DataSetBlock> blocks, ObservationList& obs) {
  for (size_t j = 0; j < t.sets.size(); ++j) {
    const DataSet& s = t.sets[j];
    if (t.groups[static_cast<size_t>(s.group - 1)].name.empty()) continue;
    const auto first = static_cast<size_t>(blocks[j].start);
    for (size_t i = first; i < first + static_cast<size_t>(blocks[j].nrec); ++i) {
      const float old = obs.sigma[i], magnitude = std::fabs(old);
      float sigma = -1.0f;
      if (magnitude > 0.0f) {
        const float q = obs.intensity[i] / magnitude;
        const float arg = s.model.a * s.model.b * q * q + s.model.a;
        if (arg > 0.0f) sigma = magnitude * std::sqrt(arg);
      }
      obs.sigma[i] = obs.misfit[i] != 0 || old < 0.0f ? -std::fabs(sigma) : sigma;
    }
  }
}

}  // namespace velmar
