// Classification, cell tolerance and entry choice of xsymy; the operator listing; mlinv stops.
#include "symmetry/spacegroups.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/error.hpp"

namespace velmar {
namespace {

TEST(SpaceGroupTablesLookup, MonoclinicUniqueAxisFollowsTheCell) {
  const SpaceGroupLookup b = xsymy(1, {40, 50, 60, 90, 105, 90}, 5);
  EXPECT_EQ(b.system, 3);
  EXPECT_EQ(b.centring, 1);  // C-centred
  ASSERT_EQ(b.ops.size(), 4u);
  EXPECT_EQ(b.ops[1], (Symop{-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0}));
  EXPECT_EQ(b.ops[2], (Symop{1, 0, 0, 6, 0, 1, 0, 6, 0, 0, 1, 0}));

  const SpaceGroupLookup c = xsymy(1, {40, 50, 60, 90, 90, 105}, 5);
  EXPECT_EQ(c.system, 2);
  EXPECT_EQ(c.centring, 2);  // B-centred
  ASSERT_EQ(c.ops.size(), 4u);
  EXPECT_EQ(c.ops[1], (Symop{-1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0}));

  EXPECT_EQ(crysys(4, {40, 50, 60, 90, 90, 90}), 3);  // rectangular counts as unique axis b
  EXPECT_EQ(xsymy(1, {40, 50, 60, 90, 90, 90}, 4).ops[1],
            (Symop{-1, 0, 0, 0, 0, 1, 0, 6, 0, 0, -1, 0}));
  EXPECT_EQ(xsymy(1, {40, 50, 60, 90, 105, 100}, 4).system, 0);  // alpha/gamma must be 90
}

TEST(SpaceGroupTablesLookup, RhombohedralGroupsFollowTheAngles) {
  const SpaceGroupLookup rh = xsymy(1, {60, 60, 60, 80, 80, 80}, 155);
  EXPECT_EQ(rh.system, 6);
  EXPECT_EQ(rh.centring, 0);
  EXPECT_EQ(rh.ops.size(), 6u);
  EXPECT_EQ(rh.ops[1], (Symop{0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0}));  // z,x,y

  const SpaceGroupLookup hex = xsymy(1, {60, 60, 90, 90, 90, 120}, 155);
  EXPECT_EQ(hex.system, 7);
  EXPECT_EQ(hex.centring, 5);
  EXPECT_EQ(hex.ops.size(), 18u);

  EXPECT_EQ(crysys(155, {60, 60, 60, 80, 80, 81.9f}), 6);
  EXPECT_EQ(crysys(155, {60, 60, 60, 80, 80, 82.1f}), 7);
  EXPECT_EQ(crysys(143, {60, 60, 60, 80, 80, 80}), 7);  // P3 has no rhombohedral setting
  const SpaceGroupLookup p3 = xsymy(1, {60, 60, 90, 90, 90, 120}, 143);
  EXPECT_EQ(p3.system, 7);
  EXPECT_EQ(p3.centring, 0);
  EXPECT_EQ(p3.ops.size(), 3u);
}

TEST(SpaceGroupTablesLookup, CellMustLieWithinOnePercentOfTheIdealCell) {
  EXPECT_EQ(xsymy(1, {50, 51, 70, 90, 90, 90}, 75).system, 5);
  EXPECT_EQ(xsymy(1, {50, 52, 70, 90, 90, 90}, 75).system, 0);
  EXPECT_TRUE(xsymy(1, {50, 52, 70, 90, 90, 90}, 75).ops.empty());
  EXPECT_EQ(xsymy(1, {50, 50, 50, 90, 90, 90.8f}, 195).system, 8);
  EXPECT_EQ(xsymy(1, {50, 50, 50, 90, 90, 91.0f}, 195).system, 0);
  EXPECT_EQ(xsymy(1, {50, 50, 50, 80, 80, 80}, 195).system, 0);
  EXPECT_EQ(xsymy(1, {60, 60, 90, 90, 90, 121.5f}, 168).system, 0);
  EXPECT_EQ(xsymy(1, {50, 60, 70, 80, 85, 95}, 1).system, 1);
}

TEST(SpaceGroupTablesLookup, IllegalNumbersAndModesFail) {
  const Cell cubic = {50, 50, 50, 90, 90, 90};
  for (int sg : {-5, 0, 231, 243, 250, 1000}) {
    EXPECT_EQ(crysys(sg, cubic), 0) << sg;
    const SpaceGroupLookup r = xsymy(1, cubic, sg);
    EXPECT_EQ(r.system, 0) << sg;
    EXPECT_EQ(r.centring, 0) << sg;
    EXPECT_TRUE(r.ops.empty()) << sg;
  }
  EXPECT_EQ(xsymy(0, cubic, 195).system, 0);
  EXPECT_EQ(xsymy(1, cubic, 230).ops.size(), 96u);
  EXPECT_EQ(xsymy(1, cubic, 230).centring, 4);
}

TEST(SpaceGroupTablesLookup, NormcellImposesTheIdealCell) {
  const Cell c = {50, 52, 57, 88, 91, 117};
  EXPECT_EQ(normcell(1, c), c);
  EXPECT_EQ(normcell(0, c), c);
  EXPECT_EQ(normcell(2, c), (Cell{50, 52, 57, 90, 90, 117}));
  EXPECT_EQ(normcell(3, c), (Cell{50, 52, 57, 90, 91, 90}));
  EXPECT_EQ(normcell(3, {50, 52, 57, 88, 90, 117}), (Cell{50, 52, 57, 90, 90.001f, 90}));
  EXPECT_EQ(normcell(4, c), (Cell{50, 52, 57, 90, 90, 90}));
  EXPECT_EQ(normcell(5, c), (Cell{51, 51, 57, 90, 90, 90}));
  EXPECT_EQ(normcell(6, c), (Cell{53, 53, 53, 98.666664f, 98.666664f, 98.666664f}));
  EXPECT_EQ(normcell(7, c), (Cell{51, 51, 57, 90, 90, 120}));
  EXPECT_EQ(normcell(8, c), (Cell{53, 53, 53, 90, 90, 90}));
}

std::string read_all(std::FILE* f) {
  std::rewind(f);
  std::string s;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) s += static_cast<char>(c);
  return s;
}

const char kListingHead[] =
    "\n\n"
    "    If x',y',z' is an equivalent position to x,y,z, then\n"
    "        x'=x*ML(1)+y*ML( 2)+z*ML( 3)+ML( 4)/12.0\n"
    "        y'=x*ML(5)+y*ML( 6)+z*ML( 7)+ML( 8)/12.0\n"
    "        z'=x*ML(9)+y*ML(10)+z*ML(11)+ML(12)/12.0\n"
    "\n"
    "    #    1  2  3  4    5  6  7  8    9 10 11 12\n";

TEST(SpaceGroupTablesListing, SympriWritesTheOperatorTableToTheFileOnly) {
  std::FILE* file = std::tmpfile();
  std::FILE* term = std::tmpfile();
  ASSERT_TRUE(file && term);
  const Report rep{file, term};
  sympri(rep, 5, xsymy(1, {40, 50, 60, 90, 105, 90}, 5).ops);
  sympri(rep, 231, xsymy(1, {40, 50, 60, 90, 105, 90}, 3).ops);  // no operator lines
  sympri(rep, 1, {});
  EXPECT_EQ(read_all(file),
            std::string(" *****  4 EQUIVALENT POSITIONS IN SPACE GROUP #  5 *****\n") + kListingHead +
                "    1    1  0  0  0    0  1  0  0    0  0  1  0\n"
                "    2   -1  0  0  0    0  1  0  0    0  0 -1  0\n"
                "    3    1  0  0  6    0  1  0  6    0  0  1  0\n"
                "    4   -1  0  0  6    0  1  0  6    0  0 -1  0\n"
                " *****  2 EQUIVALENT POSITIONS IN SPACE GROUP #231 *****\n" +
                kListingHead + " *****  0 EQUIVALENT POSITIONS IN SPACE GROUP #  1 *****\n" +
                kListingHead);
  EXPECT_EQ(read_all(term), "");
  std::fclose(file);
  std::fclose(term);
}

std::string stop_text(const SymopList& ops) {
  try {
    mlinv(ops);
  } catch (const VelmarError& e) {
    return e.what();
  }
  return "no stop";
}

TEST(SpaceGroupTablesInverse, MlinvPairsOperatorsAndStopsOnBrokenLists) {
  const SymopList p41 = xsymy(1, {50, 50, 70, 90, 90, 90}, 76).ops;  // x,y,z; -y,x,z+1/4; ...
  ASSERT_EQ(p41.size(), 4u);
  EXPECT_EQ(mlinv(p41), (std::vector<int>{0, 3, 2, 1}));

  const std::string msg = " !!! ERROR !!! ASSERT VIOLATION IN \"MLINV\"";
  EXPECT_EQ(stop_text({}), msg);
  EXPECT_EQ(stop_text(SymopList(193, Symop{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0})), msg);
  EXPECT_EQ(stop_text({p41[0], p41[1]}), msg);              // 4-fold without its inverse
  SymopList shifted = {p41[0], p41[2]};
  shifted[1][11] = 3;                                        // 2-fold screw with a 1/4 shift
  EXPECT_EQ(stop_text(shifted), msg);
  EXPECT_EQ(stop_text(SymopList(192, p41[0])), "no stop");
}

}  // namespace
}  // namespace velmar
