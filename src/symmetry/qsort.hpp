// In-place quicksorts without recursion (explicit stack of 32 parts, the larger part
// stacked, the smaller one sorted first). Neither sort is stable.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/observations.hpp"
#include "common/reflection_key.hpp"

namespace velmar {

// Sorts rec ascending by (h, k, l, isym) compared as signed integers, carrying a[i], b[i]
// and row i of x (ncol floats per row, rows stored one after the other) along. a and b
// must have rec.size() elements and x rec.size()*ncol (ncol may be 0 with x empty).
void qsorta(std::span<ReflKey> rec, std::span<float> a, std::span<float> b, std::span<float> x,
            int ncol);

// The same sort (identical order of the records) on packed 32-byte observations.
void qsorta(std::span<PackedObservation> rec);

// Sorts r4 ascending by sign times word `field` (1..4) of each record (sign -1: descending),
// carrying r3 along (r3 has r4.size() records, or is empty when nothing is carried).
void qsortb(int sign, std::span<std::array<float, 4>> r4, int field,
            std::span<std::array<int16_t, 3>> r3);

}  // namespace velmar
