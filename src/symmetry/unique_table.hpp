// The merge walk over the sorted per-data-set observation blocks: counting the unique
// reflections, building the unique-reflection table, and merging runs of equal indices.
//
// A block (DataSetBlock) covers nrec records of the key list starting at `start` (0-based),
// sorted by key (qsorta) and followed by its end-marker record (h = 32767).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/observations.hpp"
#include "common/reflection_key.hpp"
#include "symmetry/symop.hpp"

namespace velmar {

// Position of the merge walk: it visits the distinct (h,k,l) of all blocks in ascending
// order; isym is not compared, so all parities of a reflection meet under one entry.
struct MergeWalk {
  std::vector<int64_t> next;   // per block, the next unread record (list index)
  std::vector<int32_t> count;  // per block, the records of `key` found by the last step
  std::vector<int32_t> first;  // per block, the list index of the first of them
  ReflKey key{-32767, -32767, -32767, 0};        // indices counted by the next step
  ReflKey following{-32767, -32767, -32767, 0};  // smallest unread indices after it
  bool done() const { return following.h == ReflKey::kEndMarkerH; }
};

// A walk positioned before the first reflection. Stops with an ASSERT VIOLATION naming
// `routine` when a block does not lie inside `keys` or lacks its end marker.
MergeWalk begin_walk(std::span<const DataSetBlock> blocks, std::span<const ReflKey> keys,
                     const char* routine);

// One step: counts and passes over the records of walk.key in every block, notes where
// they start, and finds the next indices (walk.following). Returns the number of records
// counted over all blocks.
int64_t symset(std::span<const DataSetBlock> blocks, std::span<const ReflKey> keys, MergeWalk& walk);

struct UniqueCount {
  int64_t nunique = 0;       // distinct (h,k,l) over all blocks
  int max_observations = 0;  // largest number of records of one of them
};
UniqueCount nhklu(std::span<const DataSetBlock> blocks, std::span<const ReflKey> keys);

// Fills the table (resized here) with the nunique reflections found by the walk: indices,
// class code, (1/d)^2 = |B h|^2, and per block count and first list index. Stops with
// "!!! ERROR !!! ASSERT VIOLATION IN "SETCTRL"" when the walk finds a different number.
void setctrl(std::span<const Symop> ops, const Mat3& b, std::span<const DataSetBlock> blocks,
             std::span<const ReflKey> keys, int64_t nunique, UniqueTable& table);

// Merges each run of equal (h,k,l) of the block into one record, written from the block's
// start on: the key of the run's first record, the inverse-variance weighted mean intensity
// and its sigma (records with sigma <= 0 carry no weight; a run without weight gives I = 0,
// sigma = -1), auxiliary columns 0. The end marker follows with I = 0, sigma = -1 and zero
// auxiliary columns. Other columns and the records after the new end marker are left as
// they were. Returns the new record count of the block.
int64_t collaps(ObservationList& obs, const DataSetBlock& block);

}  // namespace velmar
