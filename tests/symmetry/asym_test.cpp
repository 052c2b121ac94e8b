// Reduction to the asymmetric unit, reflection classes and shell counts, checked against
// orbits computed directly from the operator lists of every table entry.
#include "symmetry/asym.hpp"

#include <cstdlib>
#include <tuple>

#include "symmetry/shell_count.hpp"
#include "symmetry_support.hpp"

namespace velmar::symtest {
namespace {

Hkl hkl_of(const ReflKey& r) { return {r.h, r.k, r.l}; }

// Representatives of all reflections with |h|,|k|,|l| <= box.
std::map<Hkl, Hkl> reduce_box(std::span<const Symop> ops, int box) {
  std::map<Hkl, Hkl> rep;
  for (int h = -box; h <= box; ++h)
    for (int k = -box; k <= box; ++k)
      for (int l = -box; l <= box; ++l) rep[{h, k, l}] = hkl_of(iasym(h, k, l, ops));
  return rep;
}

// The key and class of h against its orbit under the group and Friedel's law: the
// representative is the greatest mate (so one per orbit) and isym the greatest signed
// operator number that reproduces it; hkltyp, sysabs and genabs follow from the operators
// that fix h or take it to -h. Returns what is wrong, or nothing.
std::string check_reflection(std::span<const Symop> ops, int centring, const Hkl& h) {
  const ReflKey key = iasym(h[0], h[1], h[2], ops);
  const Hkl r = hkl_of(key);
  Hkl best = h;
  int best_isym = 0, fixing = 0;
  bool absent = false, lattice_absent = false;
  std::set<int> codes;  // phase codes of the operators that take h to -h
  for (size_t n = 0; n < ops.size(); ++n) {
    const Hkl m = image(ops[n], h);
    const int num = static_cast<int>(n) + 1, p = phase(ops[n], h), code = ((15 * p) % 180 + 180) % 180;
    for (const auto& [mate, isym] : {std::pair{m, num}, std::pair{neg(m), -num}}) {
      best = std::max(best, mate);
      if (mate == r) best_isym = std::max(best_isym == 0 ? isym : best_isym, isym);
    }
    if (m == h) ++fixing, absent = absent || p % 12 != 0;
    if (ops[n][0] + ops[n][5] + ops[n][10] == 3) lattice_absent = lattice_absent || p % 12 != 0;  // trace 3: identity
    if (m == neg(h)) codes.insert(code == 0 ? 180 : code);
  }
  if (r != best) return "not the greatest mate of " + text(h);
  if (key.isym != best_isym) return "tie rule for " + text(h);
  const Symop& op = ops[static_cast<size_t>(std::abs(key.isym) - 1)];
  if ((key.isym > 0 ? image(op, h) : neg(image(op, h))) != r) return "isym does not reproduce " + text(h);
  const int cls = hkltyp(ops, h[0], h[1], h[2]), count = sysabs(h[0], h[1], h[2], ops);
  if ((genabs(centring, h[0], h[1], h[2]) != 0) != lattice_absent) return "lattice absence " + text(h);
  if (absent) return cls == -1 && count == -1 ? "" : "absence missed " + text(h);
  if (count != fixing) return "sysabs " + text(h);
  return codes.size() <= 1 && cls == (codes.empty() ? 0 : *codes.begin()) ? "" : "class code " + text(h);
}

// nuhkl against the distinct representatives between the limits s1 and s2 (the shared
// comparison `within_limit`) among the reduced reflections.
void expect_shell_count(std::span<const Symop> ops, const Mat3& b, const std::map<Hkl, Hkl>& rep, float s1, float s2) {
  std::set<Hkl> seen;
  ShellCount c;
  for (const auto& [h, r] : rep) {
    const float ss = one_over_d_squared(b, r[0], r[1], r[2]);
    const int cls = hkltyp(ops, r[0], r[1], r[2]);
    if (!within_limit(ss, s1) && within_limit(ss, s2) && cls >= 0 && seen.insert(r).second) ++c.n, c.centric += cls > 0 ? 1 : 0;
  }
  const ShellCount got = nuhkl(s1, s2, ops, b);
  EXPECT_GT(c.n, 0);
  EXPECT_EQ(std::make_pair(got.n, got.centric), std::make_pair(c.n, c.centric))
      << s1 << " " << s2 << ": " << got.n << " " << got.centric << " expected " << c.n << " " << c.centric;
}

TEST(AsymAllEntries, KeysClassesAndShellCountsAgreeWithOrbits) {
  for (int e = 1; e <= 250; ++e) {
    SCOPED_TRACE("table entry " + std::to_string(e));
    const EntryQuery q = query_for_entry(e);
    const SpaceGroupLookup g = xsymy(1, q.cell, q.sg);
    const std::map<Hkl, Hkl> rep = reduce_box(g.ops, 5);
    std::string fault;
    for (const auto& [h, r] : rep)
      if (fault.empty() && std::max({std::abs(h[0]), std::abs(h[1]), std::abs(h[2])}) <= 4)
        fault = check_reflection(g.ops, g.centring, h);
    ASSERT_EQ(fault, "");
    const Mat3 b = reciprocal_basis(q.cell);
    for (const float s1 : {0.0f, one_over_d_squared(b, 1, 0, 1)}) expect_shell_count(g.ops, b, rep, s1, one_over_d_squared(b, 2, 1, 2));
  }
}

// Centric phase codes of operators outside the tables (the tables' keys, classes and
// absences are checked against orbits above): a -1 centre at (1/8, 0, 1/4) restricts the
// phases to 15 * (h.t mod 12) degrees, 0 written as 180.
TEST(AsymEdgeCases, PhaseCodesOfAShiftedCentre) {
  const SymopList ops = {kIdentity, Symop{-1, 0, 0, 3, 0, -1, 0, 0, 0, 0, -1, 6}};
  const std::pair<Hkl, int> cases[] = {{{1, 0, 0}, 45}, {{-1, 0, 0}, 135}, {{0, 0, -1}, 90}, {{4, 1, 0}, 180}, {{1, 0, 1}, 135}};
  for (const auto& [h, code] : cases) EXPECT_EQ(hkltyp(ops, h[0], h[1], h[2]), code) << text(h);
}

TEST(AsymShellCount, ObliqueSphereAndUnusableArguments) {
  const Cell oblique{7, 9, 13, 62, 118, 105};
  for (int sg : {1, 2}) {
    const SymopList ops = xsymy(1, oblique, sg).ops;
    expect_shell_count(ops, reciprocal_basis(oblique), reduce_box(ops, 14), 0.05f, 0.42f);
  }
  const Cell cell{10, 10, 10, 90, 90, 90};
  const SymopList ops = xsymy(1, cell, 195).ops;
  Mat3 b = reciprocal_basis(cell);
  const float s100 = one_over_d_squared(b, 1, 0, 0), s110 = one_over_d_squared(b, 1, 1, 0);
  const std::tuple<float, float, int> shells[] = {  // the outer bound counts, the inner does not
      {-0.1f, 0.2f, -1}, {0.3f, 0.2f, 0}, {0.2f, 0.2f, 0}, {0.0f, 0.005f, 0}, {0.0f, s100, 1}, {s100, s110, 1}, {s100, 0.0101f, 0}};
  for (const auto& [s1, s2, n] : shells) EXPECT_EQ(nuhkl(s1, s2, ops, b).n, n) << s1 << " " << s2;
  b[6] = b[0], b[7] = b[1], b[8] = b[2];  // c* = a*: no metric
  const ShellCount none = nuhkl(0.0f, 0.2f, ops, b);
  EXPECT_EQ(std::make_pair(none.n, none.centric), std::make_pair(int64_t{-1}, int64_t{0}));
}

TEST(AsymAnomalousSplit, ThreeKindsOfMergedRecord) {
  struct Case { int cls; float d, v; std::array<float, 4> split; };  // I+, sigma+, I-, sigma-
  for (const Case& c : {Case{0, 10, 8, {45, 5, 35, 5}}, {90, 0, 0, {40, 3, 0, 0}}, {0, -1, -1, {0, -1, 40, 3}},
                        {0, 1, -1, {40, 3, 0, -1}}, {0, 0, -1, {0, -1, 0, -1}}, {0, 0, 0, {0, -1, 0, -1}}}) {
    const AnomalousPair p = u2ano(c.cls, 40.0f, 3.0f, c.d, c.v);  // both, centric, I(-), I(+), none, none
    EXPECT_EQ((std::array{p.i_plus, p.sigma_plus, p.i_minus, p.sigma_minus}), c.split) << c.d << " " << c.v;
  }
}

}  // namespace
}  // namespace velmar::symtest
