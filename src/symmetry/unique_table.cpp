#include "symmetry/unique_table.hpp"

#include <algorithm>
#include <cmath>

#include "common/error.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/asym.hpp"

namespace velmar {

namespace {

bool block_fits(const DataSetBlock& blk, std::span<const ReflKey> keys) {
  if (blk.start < 0 || blk.nrec < 0) return false;
  const int64_t end = blk.start + blk.nrec;
  return end < static_cast<int64_t>(keys.size()) && keys[static_cast<size_t>(end)].is_end_marker();
}

bool hkl_less(const ReflKey& a, const ReflKey& b) {
  if (a.h != b.h) return a.h < b.h;
  if (a.k != b.k) return a.k < b.k;
  return a.l < b.l;
}

}  // namespace

MergeWalk begin_walk(std::span<const DataSetBlock> blocks, std::span<const ReflKey> keys,
                     const char* routine) {
  MergeWalk w;
  for (const DataSetBlock& blk : blocks) {
    if (!block_fits(blk, keys)) assert_violation(routine);
    w.next.push_back(blk.start);
  }
  w.count.assign(blocks.size(), 0);
  w.first.assign(blocks.size(), 0);
  return w;
}

int64_t symset(std::span<const DataSetBlock> blocks, std::span<const ReflKey> keys, MergeWalk& walk) {
  int64_t total = 0;
  ReflKey least = ReflKey::end_marker();
  for (size_t j = 0; j < blocks.size(); ++j) {
    const int64_t end = blocks[j].start + blocks[j].nrec;
    int64_t p = walk.next[j];
    walk.first[j] = static_cast<int32_t>(p);
    while (p < end && keys[static_cast<size_t>(p)].same_hkl(walk.key)) ++p;
    walk.count[j] = static_cast<int32_t>(p - walk.next[j]);
    total += walk.count[j];
    walk.next[j] = p;
    const ReflKey head = p < end ? keys[static_cast<size_t>(p)] : ReflKey::end_marker();
    if (hkl_less(head, least)) least = head;
  }
  walk.following = ReflKey{least.h, least.k, least.l, 0};
  return total;
}

UniqueCount nhklu(std::span<const DataSetBlock> blocks, std::span<const ReflKey> keys) {
  MergeWalk w = begin_walk(blocks, keys, "NHKLU");
  UniqueCount c;
  for (;;) {
    const int64_t total = symset(blocks, keys, w);
    if (total > 0) {
      ++c.nunique;
      c.max_observations = std::max(c.max_observations, static_cast<int>(total));
    }
    if (w.done()) return c;
    w.key = w.following;
  }
}

void setctrl(std::span<const Symop> ops, const Mat3& b, std::span<const DataSetBlock> blocks,
             std::span<const ReflKey> keys, int64_t nunique, UniqueTable& table) {
  if (nunique < 0) assert_violation("SETCTRL");
  MergeWalk w = begin_walk(blocks, keys, "SETCTRL");
  const size_t nset = blocks.size();
  const auto nu = static_cast<size_t>(nunique);
  table.nset = static_cast<int>(nset);
  table.uniq.assign(nu, UniqueTable::Entry{0, 0, 0, 0});
  table.ss.assign(nu, 0.0f);
  table.ctrl.assign(2 * nu * nset, 0);
  table.max_observations = 0;
  size_t u = 0;
  for (;;) {
    const int64_t total = symset(blocks, keys, w);
    if (total > 0) {
      if (u == nu) assert_violation("SETCTRL");
      const ReflKey& r = w.key;
      table.uniq[u] = {r.h, r.k, r.l, static_cast<int16_t>(hkltyp(ops, r.h, r.k, r.l))};
      table.ss[u] = one_over_d_squared(b, r.h, r.k, r.l);
      for (size_t j = 0; j < nset; ++j) {
        table.ctrl[2 * (u * nset + j)] = w.count[j];
        table.ctrl[2 * (u * nset + j) + 1] = w.first[j];
      }
      table.max_observations = std::max(table.max_observations, static_cast<int>(total));
      ++u;
    }
    if (w.done()) break;
    w.key = w.following;
  }
  if (u != nu) assert_violation("SETCTRL");
}

int64_t collaps(ObservationList& obs, const DataSetBlock& block) {
  if (!block_fits(block, obs.key) || obs.intensity.size() != obs.size() ||
      obs.sigma.size() != obs.size() || obs.pos.size() != obs.size()) {
    assert_violation("COLLAPS");
  }
  const auto end = static_cast<size_t>(block.start + block.nrec);
  auto out = static_cast<size_t>(block.start);
  size_t i = out;
  while (i < end) {
    const ReflKey run_key = obs.key[i];
    double sum_wi = 0.0, sum_w = 0.0;
    for (; i < end && obs.key[i].same_hkl(run_key); ++i) {
      const double s = obs.sigma[i];
      if (!(s > 0.0)) continue;
      sum_wi += obs.intensity[i] / (s * s);
      sum_w += 1.0 / (s * s);
    }
    obs.key[out] = run_key;
    obs.intensity[out] = sum_w > 0.0 ? static_cast<float>(sum_wi / sum_w) : 0.0f;
    obs.sigma[out] = sum_w > 0.0 ? static_cast<float>(1.0 / std::sqrt(sum_w)) : -1.0f;
    obs.pos[out] = Position{};
    ++out;
  }
  obs.key[out] = obs.key[end];
  obs.intensity[out] = 0.0f;
  obs.sigma[out] = -1.0f;
  obs.pos[out] = Position{};
  return static_cast<int64_t>(out) - block.start;
}

}  // namespace velmar
