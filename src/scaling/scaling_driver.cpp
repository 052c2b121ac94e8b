#include "scaling/scaling_driver.hpp"

#include <algorithm>

#include "common/equivalents.hpp"
#include "common/error.hpp"
#include "datasets/overall_scale.hpp"
#include "scaling/corfac.hpp"
#include "scaling/error_model_fit.hpp"
#include "scaling/factor_report.hpp"

namespace velmar {
namespace {

constexpr int kPasses = 2;

bool friedel_halves(const OutputGroup& g) { return !g.friedel_law() && g.strict_absorption != 0; }

// Adds the strong observations of reflection u in half t (t isym >= 0) to their data sets'
// usable counts when there are at least two of them.
void count_half(int t, std::span<const int> sets, float threshold, const UniqueTable& unique, size_t u,
                const ObservationList& obs, std::vector<int64_t>& strong, ControlTables& tables) {
  int64_t n = 0;
  for (const int j : sets) {
    const auto first = static_cast<size_t>(unique.first(u, j));
    int64_t in_set = 0;
    for (size_t i = first; i < first + static_cast<size_t>(unique.count(u, j)); ++i)
      if (t * obs.key[i].isym >= 0 && obs.intensity[i] > threshold * obs.sigma[i]) ++in_set;
    strong[static_cast<size_t>(j)] = in_set;
    n += in_set;
  }
  if (n < 2) return;
  for (const int j : sets) tables.sets[static_cast<size_t>(j)].usable += strong[static_cast<size_t>(j)];
}

struct KindState {
  KindRefinement last;             // the refinement of the second pass
  std::vector<float> cumulative;   // product of the passes' factors
};

}  // namespace

void count_usable_observations(ControlTables& tables, float t, const UniqueTable& unique, const ObservationList& obs) {
  static constexpr int kAll[] = {0};
  static constexpr int kHalves[] = {-1, 1};
  for (DataSet& s : tables.sets) s.usable = 0;
  std::vector<int64_t> strong(tables.sets.size(), 0);
  for (size_t g = 0; g < tables.groups.size(); ++g) {
    const OutputGroup& group = tables.groups[g];
    if (group.name.empty()) continue;
    const std::vector<int> sets = group_sets(tables, static_cast<int>(g) + 1);
    const std::span<const int> halves = friedel_halves(group) ? std::span<const int>(kHalves) : std::span<const int>(kAll);
    for (size_t u = 0; u < unique.size(); ++u) {
      if (unique.uniq[u].cls < 0) continue;
      for (const int half : halves) count_half(half, sets, t, unique, u, obs, strong, tables);
    }
  }
}

std::vector<CorrectionGroup> correction_groups(const ControlTables& tables) {
  std::vector<CorrectionGroup> groups;
  const int64_t per_factor = tables.run.reflections_per_factor;
  for (size_t g = 0; g < tables.groups.size(); ++g) {
    const OutputGroup& group = tables.groups[g];
    if (group.name.empty()) continue;
    const int number = static_cast<int>(g) + 1;
    const std::vector<int> sets = group_sets(tables, number);
    const bool enough = std::any_of(sets.begin(), sets.end(), [&](int j) {
      return tables.sets[static_cast<size_t>(j)].usable / per_factor >= 2;
    });
    if (enough) groups.push_back({number, friedel_halves(group)});
  }
  return groups;
}

void scalsets(const Report& rep, ControlTables& tables, std::span<const DataSetBlock> blocks, const UniqueTable& unique,
              ObservationList& obs, StageTimes* times) {
  const float threshold = tables.run.min_i_sigma;
  for (DataSet& s : tables.sets) s.model = ErrorModel{};
  count_usable_observations(tables, threshold, unique, obs);
  const std::vector<CorrectionGroup> groups = correction_groups(tables);
  const int nset = static_cast<int>(tables.sets.size());
  if (nset >= 2 && xorder(rep, threshold, tables.run.reference, tables.sets, unique, obs) != nset)
    stop("!!! ERROR !!! CANNOT SCALE DATA SETS");
  mark_stage(times, "overall scaling");
  if (groups.empty()) return;

  const int64_t size = setgrid1(tables.sets, tables.run.reflections_per_factor);
  const std::vector<float> nodes = setgrid2(tables.sets, size);
  KindState kinds[3];
  CorfacWork work;
  for (int pass = 1; pass <= kPasses; ++pass) {
    for (const CorrectionKind m : kCorrectionKinds) {
      KindState& k = kinds[kind_index(m)];
      k.last = corfac(m, groups, tables, threshold, nodes, unique, obs, work);
      if (k.cumulative.empty()) k.cumulative.assign(k.last.factors.size(), 1.0f);
      for (size_t p = 0; p < k.cumulative.size(); ++p) k.cumulative[p] *= k.last.factors[p];
      mark_stage(times, m == CorrectionKind::kDecay        ? "DECAY factors"
                        : m == CorrectionKind::kModulation ? "MODULATION factors"
                                                           : "ABSORPTION factors");
    }
    refine_error_model(groups, tables, unique, obs);
    mark_stage(times, "error model");
  }
  final_sigmas(tables, blocks, obs);
  for (const CorrectionKind m : kCorrectionKinds) {
    const KindState& k = kinds[kind_index(m)];
    lpcorfac(rep, m, tables, groups, k.last.fits, k.last.cycles, k.last.desc, nodes, k.cumulative);
  }
  mark_stage(times, "final sigmas, factor report and images");
}

}  // namespace velmar
