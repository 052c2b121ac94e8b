#include "common/equivalents.hpp"

#include <cmath>

namespace velmar {

Equivalents::Equivalents(int capacity) {
  const auto c = static_cast<size_t>(capacity > 0 ? capacity : 0);
  isym.resize(c);
  intensity.resize(c);
  sigma.resize(c);
  set.resize(c);
  index.resize(c);
}

std::vector<int> group_sets(const ControlTables& t, int group) {
  std::vector<int> sets;
  for (size_t j = 0; j < t.sets.size(); ++j)
    if (t.sets[j].group == group) sets.push_back(static_cast<int>(j));
  return sets;
}

bool gather_equivalents(const UniqueTable& unique, const ObservationList& obs, std::span<const int> sets,
                        size_t u, Equivalents& eq, const GatherRule& rule) {
  size_t n = 0;
  const size_t cap = eq.capacity();
  for (const int j : sets) {
    const auto count = static_cast<size_t>(unique.count(u, j));
    if (count == 0) continue;
    if (count > cap - n) {
      eq.n = 0;
      return false;
    }
    const auto first = static_cast<size_t>(unique.first(u, j));
    const ErrorModel* model = rule.model.empty() ? nullptr : &rule.model[static_cast<size_t>(j)];
    for (size_t i = first; i < first + count; ++i, ++n) {
      const float f = obs.corr[i];
      eq.isym[n] = obs.key[i].isym;
      eq.intensity[n] = obs.intensity[i] * f;
      const float sigma = model ? getesd(obs.intensity[i], obs.sigma[i], *model) : obs.sigma[i];
      const bool usable = sigma > 0.0f && (rule.keep_misfits || obs.misfit[i] == 0);
      // A rejection survives any factor: the magnitude is kept, the sign says rejected.
      eq.sigma[n] = usable ? sigma * f : -std::fabs(sigma * f);
      eq.set[n] = j;
      eq.index[n] = static_cast<int64_t>(i);
    }
  }
  eq.n = n;
  return true;
}

std::span<const int> parity_classes(int mode) {
  static constexpr int kOneClass[] = {0};
  static constexpr int kTwoClasses[] = {-1, 1};
  if (mode == 1 || mode == -1) return kOneClass;
  return kTwoClasses;
}

RejectResult reject_class(int t, Equivalents& eq, float wc) {
  RejectResult r = reject(t, eq.isym_list(), eq.intensity_list(), eq.sigma_list(), wc, 1);
  if (!above_noise_floor(r)) {
    for (size_t i = 0; i < eq.n; ++i)
      if (t * eq.isym[i] >= 0) eq.sigma[i] = -std::fabs(eq.sigma[i]);
    r.m = 0;
  }
  return r;
}

}  // namespace velmar
