// Helpers shared by the symmetry tests: the text of a consistency stop, reflection images
// under an operator, a group number with an ideal cell selecting each table entry; and what
// all of them use: GoogleTest, the standard containers, space-group lookup, cell geometry.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"
#include "symmetry/symop.hpp"
#include "test_support.hpp"

namespace velmar::symtest {

using testing::stop_text;

using Hkl = std::array<int, 3>;
inline constexpr Symop kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};

// (h,k,l) times the rotation of m, and the phase shift in twelfths.
inline Hkl image(const Symop& m, const Hkl& h) {
  return {m[0] * h[0] + m[4] * h[1] + m[8] * h[2], m[1] * h[0] + m[5] * h[1] + m[9] * h[2],
          m[2] * h[0] + m[6] * h[1] + m[10] * h[2]};
}
inline int phase(const Symop& m, const Hkl& h) { return m[3] * h[0] + m[7] * h[1] + m[11] * h[2]; }
inline Hkl neg(const Hkl& h) { return {-h[0], -h[1], -h[2]}; }
inline std::string text(const Hkl& h) {
  return std::to_string(h[0]) + " " + std::to_string(h[1]) + " " + std::to_string(h[2]);
}

// A group number and an ideal cell that select table entry e (1..250) through xsymy, and
// the crystal-system code the lookup must give.
struct EntryQuery { int sg; Cell cell; int system; };
inline EntryQuery query_for_entry(int e) {
  constexpr std::array<int, 7> r_groups = {146, 148, 155, 160, 161, 166, 167};
  const Cell hex = {60, 60, 80, 90, 90, 120};
  if (e >= 244) return {r_groups[static_cast<size_t>(e - 244)], hex, 7};
  if (e >= 231) return {e - 228, {50, 60, 70, 90, 100, 90}, 3};
  if (e <= 2) return {e, {50, 60, 70, 80, 85, 95}, 1};
  if (e <= 15) return {e, {50, 60, 70, 90, 90, 100}, 2};
  if (e <= 74) return {e, {50, 60, 70, 90, 90, 90}, 4};
  if (e <= 142) return {e, {50, 50, 70, 90, 90, 90}, 5};
  if (std::count(r_groups.begin(), r_groups.end(), e)) return {e, {50, 50, 50, 80, 80, 80}, 6};
  if (e <= 194) return {e, hex, 7};
  return {e, {50, 50, 50, 90, 90, 90}, 8};
}

}  // namespace velmar::symtest
