// Every table entry, fetched through xsymy, must be a complete space group in the setting
// its crystal system implies.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

constexpr std::array<int, 7> kRGroups = {146, 148, 155, 160, 161, 166, 167};
constexpr Symop kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};

bool is_r_group(int sg) { return std::find(kRGroups.begin(), kRGroups.end(), sg) != kRGroups.end(); }

struct EntryQuery {
  int sg;
  Cell cell;
  int system;
};

// A group number and a cell that select table entry e.
EntryQuery query_for_entry(int e) {
  const Cell hex = {60, 60, 80, 90, 90, 120};
  if (e >= 244) return {kRGroups[static_cast<size_t>(e - 244)], hex, 7};
  if (e >= 231) return {e - 228, {50, 60, 70, 90, 100, 90}, 3};
  if (e <= 2) return {e, {50, 60, 70, 80, 85, 95}, 1};
  if (e <= 15) return {e, {50, 60, 70, 90, 90, 100}, 2};
  if (e <= 74) return {e, {50, 60, 70, 90, 90, 90}, 4};
  if (e <= 142) return {e, {50, 50, 70, 90, 90, 90}, 5};
  if (e <= 167 && is_r_group(e)) return {e, {50, 50, 50, 80, 80, 80}, 6};
  if (e <= 194) return {e, hex, 7};
  return {e, {50, 50, 50, 90, 90, 90}, 8};
}

SymopList ops_of_entry(int e) {
  const EntryQuery q = query_for_entry(e);
  const SpaceGroupLookup r = xsymy(1, q.cell, q.sg);
  EXPECT_EQ(r.system, q.system) << "entry " << e;
  return r.ops;
}

int mod12(int v) { return ((v % 12) + 12) % 12; }

// a applied after b.
Symop compose(const Symop& a, const Symop& b) {
  Symop c{};
  for (int i = 0; i < 3; ++i) {
    int t = a[4 * i + 3];
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) c[4 * i + j] += a[4 * i + k] * b[4 * k + j];
      t += a[4 * i + j] * b[4 * j + 3];
    }
    c[4 * i + 3] = mod12(t);
  }
  return c;
}

std::array<int, 9> rotation(const Symop& op) {
  return {op[0], op[1], op[2], op[4], op[5], op[6], op[8], op[9], op[10]};
}

std::array<int, 3> translation(const Symop& op) { return {op[3], op[7], op[11]}; }

// Metric tensor of the cell, in double precision.
std::array<double, 9> metric(const Cell& c) {
  const double rad = 3.14159265358979 / 180.0;
  const double ca = std::cos(c[3] * rad), cb = std::cos(c[4] * rad), cg = std::cos(c[5] * rad);
  return {c[0] * c[0], c[0] * c[1] * cg, c[0] * c[2] * cb, c[0] * c[1] * cg, c[1] * c[1],
          c[1] * c[2] * ca, c[0] * c[2] * cb, c[1] * c[2] * ca, c[2] * c[2]};
}

bool preserves_metric(const std::array<int, 9>& w, const std::array<double, 9>& g) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = 0.0;
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l) s += w[3 * k + i] * g[3 * k + l] * w[3 * l + j];
      if (std::fabs(s - g[3 * i + j]) > 1e-6 * g[0]) return false;
    }
  return true;
}

bool centrosymmetric_number(int sg) {
  const int ranges[][2] = {{2, 2},     {10, 15},   {47, 74},   {83, 88},   {123, 142},
                           {147, 148}, {162, 167}, {175, 176}, {191, 194}, {200, 206},
                           {221, 230}};
  for (const auto& r : ranges)
    if (sg >= r[0] && sg <= r[1]) return true;
  return false;
}

std::set<std::array<int, 3>> centring_translations(int code) {
  std::set<std::array<int, 3>> t = {{0, 0, 0}};
  switch (code) {
    case 1: t.insert({6, 6, 0}); break;
    case 2: t.insert({6, 0, 6}); break;
    case 3: t.insert({0, 6, 6}); break;
    case 4: t.insert({6, 6, 6}); break;
    case 5: t.insert({{4, 8, 8}, {8, 4, 4}}); break;
    case 6: t.insert({{0, 6, 6}, {6, 0, 6}, {6, 6, 0}}); break;
    default: break;
  }
  return t;
}

TEST(SpaceGroupTables, EveryEntryIsACompleteGroupInItsSetting) {
  int total = 0;
  for (int e = 1; e <= 250; ++e) {
    const EntryQuery q = query_for_entry(e);
    const SpaceGroupLookup r = xsymy(1, q.cell, q.sg);
    ASSERT_EQ(r.system, q.system) << "entry " << e;
    const SymopList& ops = r.ops;
    total += static_cast<int>(ops.size());
    EXPECT_EQ(ops.front(), kIdentity) << "entry " << e;
    const std::set<Symop> set(ops.begin(), ops.end());
    EXPECT_EQ(set.size(), ops.size()) << "duplicate operator in entry " << e;
    for (const Symop& a : ops)
      for (const Symop& b : ops) ASSERT_TRUE(set.count(compose(a, b))) << "entry " << e << " not closed";
    const std::vector<int> inv = mlinv(ops);
    for (size_t i = 0; i < ops.size(); ++i)
      EXPECT_EQ(compose(ops[static_cast<size_t>(inv[i])], ops[i]), kIdentity) << "entry " << e;

    std::set<std::array<int, 9>> rotations;
    std::set<std::array<int, 3>> pure;
    bool inversion = false;
    const auto g = metric(normcell(q.system, q.cell));
    for (const Symop& op : ops) {
      rotations.insert(rotation(op));
      if (rotation(op) == rotation(kIdentity)) pure.insert(translation(op));
      if (rotation(op) == std::array<int, 9>{-1, 0, 0, 0, -1, 0, 0, 0, -1}) inversion = true;
      EXPECT_TRUE(preserves_metric(rotation(op), g)) << "entry " << e;
      for (int t : translation(op)) EXPECT_TRUE(t >= 0 && t < 12) << "entry " << e;
    }
    EXPECT_EQ(ops.size(), rotations.size() * pure.size()) << "entry " << e;
    EXPECT_EQ(pure, centring_translations(r.centring)) << "entry " << e;
    EXPECT_EQ(inversion, centrosymmetric_number(q.sg)) << "entry " << e;
    EXPECT_EQ(r.centring == 5, e >= 244) << "entry " << e;
    EXPECT_EQ(ops.size() == 192, e >= 225 && e <= 228) << "entry " << e;
  }
  EXPECT_EQ(total, 4528);
}

// Reads an operator written as "x+1/2,-y,z".
Symop parse_op(const std::string& text) {
  Symop op{};
  int row = 0, sign = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ',') { ++row; sign = 1; }
    else if (c == '-' || c == '+') sign = c == '-' ? -1 : 1;
    else if (c >= 'x' && c <= 'z') { op[4 * row + (c - 'x')] = sign; sign = 1; }
    else {  // n/d
      const int num = c - '0', den = text[i + 2] - '0';
      op[4 * row + 3] = mod12(sign * 12 * num / den);
      i += 2;
      sign = 1;
    }
  }
  return op;
}

SymopList parse_ops(const std::vector<std::string>& texts) {
  SymopList ops;
  for (const auto& t : texts) ops.push_back(parse_op(t));
  return ops;
}

SymopList with_shift(const SymopList& ops, std::array<int, 3> t) {
  SymopList out = ops;
  for (Symop& op : out)
    for (int i = 0; i < 3; ++i) op[4 * i + 3] = mod12(op[4 * i + 3] + t[i]);
  return out;
}

SymopList joined(std::initializer_list<SymopList> parts) {
  SymopList out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(SpaceGroupTables, TellingRowsIncludingOrder) {
  const SymopList amm2 = parse_ops({"x,y,z", "-x,-y,z", "-x,y,z", "x,-y,z"});
  const SymopList r3 = parse_ops({"x,y,z", "-y,x-y,z", "-x+y,-x,z"});
  struct Row { int entry; int centring; SymopList ops; };
  const std::vector<Row> rows = {
      {1, 0, parse_ops({"x,y,z"})},
      {3, 0, parse_ops({"x,y,z", "-x,-y,z"})},
      {5, 2, parse_ops({"x,y,z", "-x,-y,z", "x+1/2,y,z+1/2", "-x+1/2,-y,z+1/2"})},
      {19, 0, parse_ops({"x,y,z", "-x+1/2,-y,z+1/2", "x+1/2,-y+1/2,-z", "-x,y+1/2,-z+1/2"})},
      {38, 3, joined({amm2, with_shift(amm2, {0, 6, 6})})},
      {146, 0, parse_ops({"x,y,z", "z,x,y", "y,z,x"})},
      {231, 0, parse_ops({"x,y,z", "-x,y,-z"})},
      {233, 1, parse_ops({"x,y,z", "-x,y,-z", "x+1/2,y+1/2,z", "-x+1/2,y+1/2,-z"})},
      {244, 5, joined({r3, with_shift(r3, {4, 8, 8}), with_shift(r3, {8, 4, 4})})},
  };
  for (const Row& row : rows) {
    const EntryQuery q = query_for_entry(row.entry);
    const SpaceGroupLookup r = xsymy(1, q.cell, q.sg);
    EXPECT_EQ(r.centring, row.centring) << "entry " << row.entry;
    EXPECT_EQ(r.ops, row.ops) << "entry " << row.entry;
  }
}

// Carries an operator to another setting: W' = P W P^-1, t' = P t (P a signed permutation).
Symop transformed(const Symop& op, const std::array<int, 9>& p) {
  Symop out{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      int s = 0;
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l) s += p[3 * i + k] * op[4 * k + l] * p[3 * j + l];  // P^-1 = P^T
      out[4 * i + j] = s;
    }
    int t = 0;
    for (int k = 0; k < 3; ++k) t += p[3 * i + k] * op[4 * k + 3];
    out[4 * i + 3] = mod12(t);
  }
  return out;
}

TEST(SpaceGroupTables, UniqueAxisCEntriesAreUniqueAxisBWithAxesRelabelled) {
  // New axes (a, -c, b): x' = x, y' = -z, z' = y.
  const std::array<int, 9> p = {1, 0, 0, 0, 0, -1, 0, 1, 0};
  for (int sg = 3; sg <= 15; ++sg) {
    std::set<Symop> from_b;
    for (const Symop& op : ops_of_entry(sg + 228)) from_b.insert(transformed(op, p));
    const SymopList c = ops_of_entry(sg);
    EXPECT_EQ(from_b, std::set<Symop>(c.begin(), c.end())) << "group " << sg;
  }
}

}  // namespace
}  // namespace velmar
