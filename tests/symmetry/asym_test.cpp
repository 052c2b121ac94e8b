// Reduction to the asymmetric unit, reflection classes and shell counts, checked against
// orbits computed directly from the operator lists of every table entry.
#include "symmetry/asym.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "symmetry/cell_geometry.hpp"
#include "symmetry/shell_count.hpp"
#include "symmetry/spacegroup_tables.hpp"
#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

using Hkl = std::array<int, 3>;

Hkl image(const Symop& m, const Hkl& h) {
  return {m[0] * h[0] + m[4] * h[1] + m[8] * h[2], m[1] * h[0] + m[5] * h[1] + m[9] * h[2],
          m[2] * h[0] + m[6] * h[1] + m[10] * h[2]};
}
int phase(const Symop& m, const Hkl& h) { return m[3] * h[0] + m[7] * h[1] + m[11] * h[2]; }
Hkl neg(const Hkl& h) { return {-h[0], -h[1], -h[2]}; }
Hkl hkl_of(const ReflKey& r) { return {r.h, r.k, r.l}; }

// Space-group number and an ideal cell selecting table entry e through xsymy.
std::pair<int, Cell> lookup_for_entry(int e) {
  static const int kRGroups[7] = {146, 148, 155, 160, 161, 166, 167};
  const Cell hexagonal{10, 10, 12, 90, 90, 120};
  if (e >= 244) return {kRGroups[e - 244], hexagonal};
  if (e >= 231) return {e - 228, Cell{10, 11, 12, 90, 100, 90}};
  if (e <= 2) return {e, Cell{10, 12, 15, 70, 110, 100}};
  if (e <= 15) return {e, Cell{10, 11, 12, 90, 90, 100}};
  if (e <= 74) return {e, Cell{10, 11, 12, 90, 90, 90}};
  if (e <= 142) return {e, Cell{10, 10, 12, 90, 90, 90}};
  if (std::find(std::begin(kRGroups), std::end(kRGroups), e) != std::end(kRGroups)) {
    return {e, Cell{10, 10, 10, 80, 80, 80}};
  }
  if (e <= 194) return {e, hexagonal};
  return {e, Cell{10, 10, 10, 90, 90, 90}};
}

SymopList ops_of(int sg, const Cell& cell) { return xsymy(1, cell, sg).ops; }

// Reflections with |h|,|k|,|l| <= kBox and their representatives, stored densely.
constexpr int kBox = 5;
constexpr int kSide = 2 * kBox + 1;
bool in_box(const Hkl& h) {
  return std::all_of(h.begin(), h.end(), [](int v) { return v >= -kBox && v <= kBox; });
}
size_t box_index(const Hkl& h) {
  return static_cast<size_t>(((h[0] + kBox) * kSide + h[1] + kBox) * kSide + h[2] + kBox);
}
template <typename F>
void for_box(F&& f, int box = kBox) {
  for (int h = -box; h <= box; ++h)
    for (int k = -box; k <= box; ++k)
      for (int l = -box; l <= box; ++l) f(Hkl{h, k, l});
}

std::string text(const Hkl& h) {
  return std::to_string(h[0]) + " " + std::to_string(h[1]) + " " + std::to_string(h[2]);
}

// Checks the key of one reflection against its orbit under the group and Friedel's law;
// returns what is wrong, or nothing.
std::string check_key(std::span<const Symop> ops, const Hkl& h, const ReflKey& key, const std::vector<Hkl>& rep) {
  const Hkl r = hkl_of(key);
  Hkl best = h;
  int best_isym = 0;
  for (size_t n = 0; n < ops.size(); ++n) {
    const Hkl m = image(ops[n], h);
    const int num = static_cast<int>(n) + 1;
    for (const auto& [mate, isym] : {std::pair{m, num}, std::pair{neg(m), -num}}) {
      best = std::max(best, mate);
      if (mate == r) best_isym = std::max(best_isym == 0 ? isym : best_isym, isym);
      if (in_box(mate) && rep[box_index(mate)] != r) return "orbit member " + text(mate) + " of " + text(h);
    }
  }
  if (r != best) return "not the greatest mate of " + text(h);
  if (key.isym != best_isym) return "tie rule for " + text(h);
  const Symop& op = ops[static_cast<size_t>(std::abs(key.isym) - 1)];
  if ((key.isym > 0 ? image(op, h) : neg(image(op, h))) != r) return "isym does not reproduce " + text(h);
  return {};
}

// hkltyp and sysabs against the stabiliser and the anti-stabiliser of h.
std::string check_class(std::span<const Symop> ops, int centring, const Hkl& h) {
  int fixing = 0;
  bool absent = false, lattice_absent = false;
  std::vector<Hkl> images;
  std::vector<int> codes;
  for (const Symop& m : ops) {
    const Hkl r = image(m, h);
    images.push_back(r);
    if (r == h) ++fixing, absent = absent || phase(m, h) % 12 != 0;
    const bool pure_translation = Symop{m[0], m[1], m[2], 0, m[4], m[5], m[6], 0, m[8], m[9], m[10], 0} ==
                                  Symop{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    if (pure_translation && phase(m, h) % 12 != 0) lattice_absent = true;
    if (r == neg(h)) {
      const int code = ((15 * phase(m, h)) % 180 + 180) % 180;
      codes.push_back(code == 0 ? 180 : code);
    }
  }
  const int cls = hkltyp(ops, h[0], h[1], h[2]);
  const int count = sysabs(h[0], h[1], h[2], ops);
  if ((genabs(centring, h[0], h[1], h[2]) != 0) != lattice_absent) return "lattice absence " + text(h);
  if (absent) return cls == -1 && count == -1 ? "" : "absence missed " + text(h);
  std::sort(images.begin(), images.end());
  images.erase(std::unique(images.begin(), images.end()), images.end());
  if (count != fixing) return "sysabs " + text(h);
  if (static_cast<size_t>(count) * images.size() != ops.size()) return "orbit-stabiliser " + text(h);
  if (codes.empty()) return cls == 0 ? "" : "acentric class " + text(h);
  for (int code : codes) {
    if (cls != code) return "centric phase code " + text(h);
  }
  return {};
}

// Distinct representatives with s1 < SS <= s2 found by reducing every reflection of the box.
ShellCount brute_shell(std::span<const Symop> ops, const Mat3& b, const std::vector<Hkl>& rep, float s1, float s2) {
  std::vector<Hkl> seen;
  ShellCount c;
  for_box([&](const Hkl& h) {
    const Hkl& r = rep[box_index(h)];
    const float ss = one_over_d_squared(b, r[0], r[1], r[2]);
    if (!(s1 < ss && ss <= s2) || hkltyp(ops, r[0], r[1], r[2]) < 0) return;
    if (std::find(seen.begin(), seen.end(), r) != seen.end()) return;
    seen.push_back(r);
    ++c.n;
    if (hkltyp(ops, r[0], r[1], r[2]) > 0) ++c.centric;
  });
  return c;
}

TEST(AsymAllEntries, KeysClassesAndShellCountsAgreeWithOrbits) {
  for (int e = 1; e <= sgtab::kEntries; ++e) {
    SCOPED_TRACE("table entry " + std::to_string(e));
    const auto [sg, cell] = lookup_for_entry(e);
    const SpaceGroupLookup g = xsymy(1, cell, sg);
    ASSERT_EQ(static_cast<int>(g.ops.size()), sgtab::DBNEQ[e - 1]);
    ASSERT_EQ(g.centring, sgtab::ABSTABLE[e - 1]);
    std::vector<Hkl> rep(kSide * kSide * kSide);
    std::vector<ReflKey> keys(rep.size());
    for_box([&](const Hkl& h) {
      keys[box_index(h)] = iasym(h[0], h[1], h[2], g.ops);
      rep[box_index(h)] = hkl_of(keys[box_index(h)]);
    });
    std::string fault;
    for_box([&](const Hkl& h) {
      if (fault.empty()) fault = check_key(g.ops, h, keys[box_index(h)], rep);
      if (fault.empty()) fault = check_class(g.ops, g.centring, h);
    }, 4);
    ASSERT_EQ(fault, "");
    const Mat3 b = reciprocal_basis(cell);
    const float s2 = one_over_d_squared(b, 2, 1, 2);
    for (const float s1 : {0.0f, one_over_d_squared(b, 1, 0, 1)}) {
      const ShellCount expect = brute_shell(g.ops, b, rep, s1, s2);
      const ShellCount got = nuhkl(s1, s2, g.ops, b);
      EXPECT_GT(expect.n, 0);
      EXPECT_EQ(got.n, expect.n) << "s1 " << s1;
      EXPECT_EQ(got.centric, expect.centric) << "s1 " << s1;
    }
  }
}

TEST(AsymEdgeCases, TriclinicFriedelMates) {
  const SymopList p1 = ops_of(1, Cell{10, 11, 12, 80, 85, 95});
  EXPECT_EQ(iasym(-1, 2, 3, p1), (ReflKey{1, -2, -3, -1}));
  EXPECT_EQ(iasym(1, -2, -3, p1), (ReflKey{1, -2, -3, 1}));
  EXPECT_EQ(iasym(0, 0, 0, p1), (ReflKey{0, 0, 0, 1}));
  EXPECT_EQ(hkltyp(p1, 1, 2, 3), 0);
  EXPECT_EQ(sysabs(1, 2, 3, p1), 1);
}

TEST(AsymEdgeCases, MonoclinicUniqueAxisB) {
  const Cell cell{10, 11, 12, 90, 100, 90};
  const SymopList p2 = ops_of(3, cell);
  ASSERT_EQ(p2.size(), 2u);
  EXPECT_EQ(iasym(2, 3, -1, p2), (ReflKey{2, 3, -1, 1}));
  EXPECT_EQ(iasym(-2, 3, 1, p2), (ReflKey{2, 3, -1, 2}));
  EXPECT_EQ(iasym(0, 3, -1, p2), (ReflKey{0, 3, 1, 2}));
  EXPECT_EQ(iasym(0, -3, 1, p2).h, 0);
  EXPECT_EQ(iasym(0, -3, 1, p2).k, 3);
  EXPECT_EQ(hkltyp(p2, 3, 0, -2), 180);
  EXPECT_EQ(iasym(3, 0, -2, p2), (ReflKey{3, 0, -2, 1}));  // centric: positive isym
  EXPECT_EQ(iasym(-3, 0, 2, p2), (ReflKey{3, 0, -2, 2}));
  EXPECT_EQ(hkltyp(p2, 0, 5, 0), 0);
  EXPECT_EQ(sysabs(0, 5, 0, p2), 2);

  const SymopList p21 = ops_of(4, cell);
  EXPECT_EQ(hkltyp(p21, 0, 1, 0), -1);
  EXPECT_EQ(sysabs(0, 1, 0, p21), -1);
  EXPECT_EQ(hkltyp(p21, 0, 2, 0), 0);
  EXPECT_EQ(sysabs(0, 2, 0, p21), 2);
  EXPECT_EQ(hkltyp(p21, 1, 0, 1), 180);
}

TEST(AsymEdgeCases, CentricPhaseCodesFromTranslations) {
  // -1 centre at (1/8, 0, 1/4) written in twelfths: phases restricted to 15*p degrees.
  const SymopList ops = {Symop{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0},
                         Symop{-1, 0, 0, 3, 0, -1, 0, 0, 0, 0, -1, 6}};
  EXPECT_EQ(hkltyp(ops, 1, 0, 0), 45);
  EXPECT_EQ(hkltyp(ops, -1, 0, 0), 135);
  EXPECT_EQ(hkltyp(ops, 0, 0, 1), 90);
  EXPECT_EQ(hkltyp(ops, 0, 0, -1), 90);
  EXPECT_EQ(hkltyp(ops, 4, 1, 0), 180);
  EXPECT_EQ(hkltyp(ops, 1, 0, 1), 135);
}

TEST(AsymShellCount, ObliqueTriclinicSphereAgreesWithReduction) {
  const Cell cell{7, 9, 13, 62, 118, 105};
  const Mat3 b = reciprocal_basis(cell);
  for (const SymopList& ops : {ops_of(1, cell), ops_of(2, cell)}) {
    std::vector<Hkl> reps;
    const float s1 = 0.05f, s2 = 0.42f;
    ShellCount expect;
    for (int h = -14; h <= 14; ++h)
      for (int k = -14; k <= 14; ++k)
        for (int l = -14; l <= 14; ++l) {
          const Hkl r = hkl_of(iasym(h, k, l, ops));
          const float ss = one_over_d_squared(b, r[0], r[1], r[2]);
          if (s1 < ss && ss <= s2) reps.push_back(r);
        }
    std::sort(reps.begin(), reps.end());
    reps.erase(std::unique(reps.begin(), reps.end()), reps.end());
    for (const Hkl& r : reps) expect.centric += hkltyp(ops, r[0], r[1], r[2]) > 0 ? 1 : 0;
    const ShellCount got = nuhkl(s1, s2, ops, b);
    EXPECT_EQ(got.n, static_cast<int64_t>(reps.size()));
    EXPECT_EQ(got.centric, expect.centric);
  }
}

TEST(AsymShellCount, UnusableArgumentsAndEmptyShells) {
  const Cell cell{10, 10, 10, 90, 90, 90};
  const SymopList ops = ops_of(195, cell);
  const Mat3 b = reciprocal_basis(cell);
  EXPECT_EQ(nuhkl(-0.1f, 0.2f, ops, b).n, -1);
  EXPECT_EQ(nuhkl(0.3f, 0.2f, ops, b).n, 0);
  EXPECT_EQ(nuhkl(0.2f, 0.2f, ops, b).n, 0);
  EXPECT_EQ(nuhkl(0.0f, 0.005f, ops, b).n, 0);  // below the first reflection (0.01)
  const float s100 = one_over_d_squared(b, 1, 0, 0), s110 = one_over_d_squared(b, 1, 1, 0);
  EXPECT_EQ(nuhkl(0.0f, s100, ops, b).n, 1);   // (1,0,0) itself, on the outer bound
  EXPECT_EQ(nuhkl(s100, s110, ops, b).n, 1);   // (1,1,0) only: the inner bound is excluded
  EXPECT_EQ(nuhkl(s100, 0.0101f, ops, b).n, 0);
  Mat3 flat = b;
  flat[6] = flat[0], flat[7] = flat[1], flat[8] = flat[2];  // c* = a*
  EXPECT_EQ(nuhkl(0.0f, 0.2f, ops, flat).n, -1);
  EXPECT_EQ(nuhkl(0.0f, 0.2f, ops, flat).centric, 0);
}

TEST(AsymAnomalousSplit, ThreeKindsOfMergedRecord) {
  using Split = std::array<float, 4>;
  auto split = [](int cls, float d, float v) {
    const AnomalousPair p = u2ano(cls, 40.0f, 3.0f, d, v);
    return Split{p.i_plus, p.sigma_plus, p.i_minus, p.sigma_minus};
  };
  EXPECT_EQ(split(0, 10.0f, 8.0f), (Split{45.0f, 5.0f, 35.0f, 5.0f}));  // both measured
  EXPECT_EQ(split(90, 0.0f, 0.0f), (Split{40.0f, 3.0f, 0.0f, 0.0f}));   // centric
  EXPECT_EQ(split(0, 0.0f, 0.0f), (Split{0.0f, -1.0f, 0.0f, -1.0f}));
  EXPECT_EQ(split(0, -1.0f, -1.0f), (Split{0.0f, -1.0f, 40.0f, 3.0f})); // only I(-)
  EXPECT_EQ(split(0, 1.0f, -1.0f), (Split{40.0f, 3.0f, 0.0f, -1.0f}));  // only I(+)
  EXPECT_EQ(split(0, 0.0f, -1.0f), (Split{0.0f, -1.0f, 0.0f, -1.0f}));
}

}  // namespace
}  // namespace velmar
