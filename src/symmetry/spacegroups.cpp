#include "symmetry/spacegroups.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "symmetry/spacegroup_tables.hpp"

namespace velmar {
namespace {

// Groups with an R lattice, in the order of their hexagonal-axes entries 244..250.
constexpr std::array<int, 7> kRGroups = {146, 148, 155, 160, 161, 166, 167};
constexpr int kFirstUniqueAxisB = 228;   // entry = group number + 228
constexpr int kFirstHexagonalR = 244;

int r_group_position(int sg) {
  const auto it = std::find(kRGroups.begin(), kRGroups.end(), sg);
  return it == kRGroups.end() ? -1 : static_cast<int>(it - kRGroups.begin());
}

int monoclinic_axis(const Cell& cell) {
  return std::fabs(cell[5] - 90.0f) > std::fabs(cell[4] - 90.0f) ? kMonoclinicC : kMonoclinicB;
}

bool rhombohedral_angles(const Cell& cell) {
  return std::max(std::fabs(cell[5] - cell[3]), std::fabs(cell[5] - cell[4])) < 2.0f;
}

bool near_ideal(const Cell& ideal, const Cell& cell) {
  for (size_t i = 0; i < 6; ++i)
    if (std::fabs(ideal[i] - cell[i]) > 0.01f * cell[i]) return false;
  return true;
}

int table_entry(int system, int sg) {
  if (system == kMonoclinicB) return sg + kFirstUniqueAxisB;
  const int r = r_group_position(sg);
  if (system == kHexagonal && r >= 0) return kFirstHexagonalR + r;
  return sg;
}

Symop table_operator(int index) {
  const auto& rot = sgtab::DBU[sgtab::DBUIDX[index] - 1];
  const auto& tra = sgtab::DBT[sgtab::DBTIDX[index] - 1];
  Symop ml{};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) ml[static_cast<size_t>(4 * row + col)] = rot[3 * row + col];
    ml[static_cast<size_t>(4 * row + 3)] = tra[row];
  }
  return ml;
}

// True when operator j undoes operator i: R_j R_i = I and R_j t_i + t_j = 0 (mod 12).
bool undoes(const Symop& j, const Symop& i) {
  for (int r = 0; r < 3; ++r) {
    int shift = j[static_cast<size_t>(4 * r + 3)];
    for (int c = 0; c < 3; ++c) {
      int prod = 0;
      for (int k = 0; k < 3; ++k)
        prod += j[static_cast<size_t>(4 * r + k)] * i[static_cast<size_t>(4 * k + c)];
      if (prod != (r == c ? 1 : 0)) return false;
      shift += j[static_cast<size_t>(4 * r + c)] * i[static_cast<size_t>(4 * c + 3)];
    }
    if (shift % 12 != 0) return false;
  }
  return true;
}

}  // namespace

int crysys(int sg, const Cell& cell) {
  if (sg < 1) return kNoSystem;
  if (sg <= 2) return kTriclinic;
  if (sg <= 15) return monoclinic_axis(cell);
  if (sg <= 74) return kOrthorhombic;
  if (sg <= 142) return kTetragonal;
  if (sg <= 167)
    return r_group_position(sg) >= 0 && rhombohedral_angles(cell) ? kRhombohedral : kHexagonal;
  if (sg <= 194) return kHexagonal;
  if (sg <= 230) return kCubic;
  return kNoSystem;
}

Cell normcell(int system, const Cell& cell) {
  Cell c = cell;
  switch (system) {
    case kMonoclinicC:
      c[3] = c[4] = 90.0f;
      break;
    case kMonoclinicB:
      c[3] = c[5] = 90.0f;
      if (c[4] == 90.0f) c[4] = 90.001f;
      break;
    case kOrthorhombic:
      c[3] = c[4] = c[5] = 90.0f;
      break;
    case kTetragonal:
      c[0] = c[1] = (c[0] + c[1]) / 2.0f;
      c[3] = c[4] = c[5] = 90.0f;
      break;
    case kRhombohedral:
      c[0] = c[1] = c[2] = (c[0] + c[1] + c[2]) / 3.0f;
      c[3] = c[4] = c[5] = (c[3] + c[4] + c[5]) / 3.0f;
      break;
    case kHexagonal:
      c[0] = c[1] = (c[0] + c[1]) / 2.0f;
      c[3] = c[4] = 90.0f;
      c[5] = 120.0f;
      break;
    case kCubic:
      c[0] = c[1] = c[2] = (c[0] + c[1] + c[2]) / 3.0f;
      c[3] = c[4] = c[5] = 90.0f;
      break;
    default:  // triclinic, or no system: unchanged
      break;
  }
  return c;
}

SpaceGroupLookup xsymy(int mode, const Cell& cell, int sg) {
  SpaceGroupLookup result;
  if (mode != 1) return result;
  const int system = crysys(sg, cell);
  if (system == kNoSystem || !near_ideal(normcell(system, cell), cell)) return result;
  const int entry = table_entry(system, sg);
  const int first = sgtab::DBBEG[entry - 1];
  const int neq = sgtab::DBNEQ[entry - 1];
  result.system = system;
  result.centring = sgtab::ABSTABLE[entry - 1];
  result.ops.reserve(static_cast<size_t>(neq));
  for (int i = first; i < first + neq; ++i) result.ops.push_back(table_operator(i));
  return result;
}

void sympri(const Report& rep, int sg, std::span<const Symop> ops) {
  const long long neq = static_cast<long long>(ops.size());
  std::string head = " *****";
  put_i(head, neq, 3);
  head += " EQUIVALENT POSITIONS IN SPACE GROUP #";
  put_i(head, sg, 3);
  head += " *****";
  rep.to_file(head);
  rep.to_file("");
  rep.to_file("");
  rep.to_file("    If x',y',z' is an equivalent position to x,y,z, then");
  rep.to_file("        x'=x*ML(1)+y*ML( 2)+z*ML( 3)+ML( 4)/12.0");
  rep.to_file("        y'=x*ML(5)+y*ML( 6)+z*ML( 7)+ML( 8)/12.0");
  rep.to_file("        z'=x*ML(9)+y*ML(10)+z*ML(11)+ML(12)/12.0");
  rep.to_file("");
  rep.to_file("    #    1  2  3  4    5  6  7  8    9 10 11 12");
  if (neq < 1 || sg < 1 || sg > 230) return;
  for (size_t n = 0; n < ops.size(); ++n) {
    std::string line;
    put_i(line, static_cast<long long>(n + 1), 5);
    for (size_t i = 0; i < 12; ++i) {
      if (i % 4 == 0) put_x(line, 2);
      put_i(line, ops[n][i], 3);
    }
    rep.to_file(line);
  }
}

std::vector<int> mlinv(std::span<const Symop> ops) {
  if (ops.empty() || ops.size() > static_cast<size_t>(kMaxOperators)) assert_violation("MLINV");
  std::vector<int> inverse(ops.size(), -1);
  for (size_t i = 0; i < ops.size(); ++i) {
    for (size_t j = 0; j < ops.size() && inverse[i] < 0; ++j)
      if (undoes(ops[j], ops[i])) inverse[i] = static_cast<int>(j);
    if (inverse[i] < 0) assert_violation("MLINV");
  }
  return inverse;
}

}  // namespace velmar
