// Asymmetric-unit tables of the export: merged rows, ISYM and batch numbers.
#include "export/asu_tables.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>

#include "common/error.hpp"

namespace velmar {
namespace {

constexpr float kAbsent = std::numeric_limits<float>::quiet_NaN();
constexpr int kBatchStep = 1000;

gemmi::Op gemmi_op(const Symop& ml) {
  gemmi::Op op;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) op.rot[i][j] = ml[static_cast<size_t>(4 * i + j)] * gemmi::Op::DEN;
    op.tran[i] = ml[static_cast<size_t>(4 * i + 3)] * (gemmi::Op::DEN / 12);
  }
  return op;
}

std::string hkl_text(const std::array<int, 3>& hkl) {
  return std::to_string(hkl[0]) + " " + std::to_string(hkl[1]) + " " + std::to_string(hkl[2]);
}

[[noreturn]] void twice(const VelmarFile& f, const std::array<int, 3>& hkl) {
  stop("!!! ERROR !!! REFLECTION " + hkl_text(hkl) + " OCCURS MORE THAN ONCE IN " + f.path);
}

// Record numbers ordered by their asymmetric-unit indices.
std::vector<size_t> order_by_hkl(const std::vector<std::array<int, 3>>& hkl) {
  std::vector<size_t> order(hkl.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return hkl[a] < hkl[b]; });
  return order;
}

struct Half {
  float i = kAbsent, sigma = kAbsent;
  bool present() const { return !std::isnan(sigma); }
};

// Weighted mean of the halves that have a positive sigma; the one half alone otherwise.
Half mean_of(const Half& a, const Half& b) {
  if (!a.present()) return b;
  if (!b.present()) return a;
  if (a.sigma <= 0.0f || b.sigma <= 0.0f) return a.sigma > 0.0f ? a : b;
  const double wa = 1.0 / (double(a.sigma) * a.sigma), wb = 1.0 / (double(b.sigma) * b.sigma);
  return {static_cast<float>((wa * a.i + wb * b.i) / (wa + wb)), static_cast<float>(1.0 / std::sqrt(wa + wb))};
}

void add_row(MergedTable& t, const std::array<int, 3>& hkl, const Half& mean, const Half& plus, const Half& minus) {
  t.hkl.push_back(hkl);
  t.imean.push_back(mean.i);
  t.sigimean.push_back(mean.sigma);
  t.iplus.push_back(plus.i);
  t.sigiplus.push_back(plus.sigma);
  t.iminus.push_back(minus.i);
  t.sigiminus.push_back(minus.sigma);
}

}  // namespace

const gemmi::SpaceGroup& gemmi_space_group(const VelmarFile& f) {
  std::vector<gemmi::Op> ops;
  ops.reserve(f.ops.size());
  for (const Symop& ml : f.ops) ops.push_back(gemmi_op(ml));
  const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_ops(gemmi::split_centering_vectors(ops));
  if (!sg) stop("!!! ERROR !!! NO MTZ SPACE GROUP FOR SPACE_GROUP_NUMBER=" + std::to_string(f.space_group) + " OF " + f.path);
  return *sg;
}

MergedTable merged_table(const VelmarFile& f, const gemmi::SpaceGroup& sg) {
  const gemmi::GroupOps gops = sg.operations();
  const gemmi::ReciprocalAsu asu(&sg);
  const ExportRecords& r = f.records;
  std::vector<std::array<int, 3>> asu_hkl(r.size());
  std::vector<bool> minus(r.size());
  for (size_t i = 0; i < r.size(); ++i) {
    const auto [hkl, isym] = asu.to_asu(r.hkl[i], gops);
    asu_hkl[i] = hkl;
    minus[i] = isym % 2 == 0 && !f.friedel && !gops.is_reflection_centric(hkl);
  }
  MergedTable t;
  const std::vector<size_t> order = order_by_hkl(asu_hkl);
  for (size_t n = 0; n < order.size();) {
    const std::array<int, 3>& hkl = asu_hkl[order[n]];
    Half half[2];  // "+" then "-"
    for (; n < order.size() && asu_hkl[order[n]] == hkl; ++n) {
      const size_t i = order[n];
      Half& h = half[minus[i] ? 1 : 0];
      if (h.present()) twice(f, r.hkl[i]);
      h = {r.iobs[i], r.sigma[i]};
    }
    if (f.friedel) add_row(t, hkl, half[0], Half{}, Half{});
    else add_row(t, hkl, mean_of(half[0], half[1]), half[0], half[1]);
  }
  return t;
}

std::vector<int> batch_offsets(const std::vector<int>& first, const std::vector<int>& last) {
  std::vector<int> offset(first.size(), 0);
  long long top = 0;  // highest batch number so far
  for (size_t s = 0; s < first.size(); ++s) {
    if (first[s] > last[s]) continue;
    const long long need = top + 1 - first[s];
    if (need > 0) offset[s] = static_cast<int>(top == 0 ? need : (need + kBatchStep - 1) / kBatchStep * kBatchStep);
    top = std::max(top, static_cast<long long>(last[s]) + offset[s]);
  }
  return offset;
}

UnmergedTable unmerged_table(const VelmarFile& f, const gemmi::SpaceGroup& sg) {
  const gemmi::GroupOps gops = sg.operations();
  const gemmi::ReciprocalAsu asu(&sg);
  const ExportRecords& r = f.records;
  UnmergedTable t;
  t.asu_hkl.resize(r.size());
  t.isym.resize(r.size());
  t.batch.resize(r.size());
  std::vector<size_t> set_of(r.size());
  std::vector<int> first(f.sets.size(), INT_MAX), last(f.sets.size(), INT_MIN);
  for (size_t i = 0; i < r.size(); ++i) {
    const auto [hkl, isym] = asu.to_asu(r.hkl[i], gops);
    t.asu_hkl[i] = hkl;
    t.isym[i] = isym;
    t.batch[i] = static_cast<int>(std::lround(r.zd[i]));
    set_of[i] = static_cast<size_t>(find_data_set(f, r.iset[i]) - f.sets.data());
    first[set_of[i]] = std::min(first[set_of[i]], t.batch[i]);
    last[set_of[i]] = std::max(last[set_of[i]], t.batch[i]);
  }
  t.batch_offset = batch_offsets(first, last);
  for (size_t i = 0; i < r.size(); ++i) t.batch[i] += t.batch_offset[set_of[i]];
  return t;
}

}  // namespace velmar
