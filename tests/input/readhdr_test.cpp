// Header reading of input reflection files.
#include "input/readhdr.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.hpp"

namespace velmar {
namespace {

const std::string kItems = "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n"
                           "!ITEM_SIGMA(IOBS)=5\n";
const std::string kEnd = kItems + "!END_OF_HEADER\n";

HeaderValues header_of(const std::string& text, std::string_view kind = "KVD_ASCII") {
  testing::TempDir dir;
  return readhdr(dir.write("h.hkl", text), kind);
}

TEST(ReadHdr, EveryKeywordIncludingSeveralPerLine) {
  const HeaderValues v = header_of(
      "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=TRUE\n!NX=  2463  NY=  2527    QX=  0.172000  QY=  0.172000\n"
      "!ORGX=   245.05  ORGY=   246.10  DETECTOR_DISTANCE=   686.227\n"
      "!DIRECTION_OF_DETECTOR_X-AXIS= 1 0 0  DIRECTION_OF_DETECTOR_Y-AXIS= 0 1 0\n"
      "!ROTATION_AXIS= -0.988016  0.154341 -0.001619\n"
      "!OSCILLATION_RANGE=  0.12 STARTING_ANGLE= -45.0 STARTING_FRAME= 7\n"
      "!INCIDENT_BEAM_DIRECTION= -0.000006 -0.000057  1.000000\n"
      "!SPACE_GROUP_NUMBER=  179 UNIT_CELL_CONSTANTS= 2*11.912 29.939 2*90 120\n"
      "!X-RAY_WAVELENGTH=  1.5D-2\n!INCLUDE_RESOLUTION_RANGE= 50.0 1.507\n!VARIANCE_MODEL=  4.931E-01  9.102E-03\n" +
      kItems + "!ITEM_XD=6 ITEM_YD=0 !ITEM_YD=7 !ITEM_ZD=8 !ITEM_PSI=12\n!END_OF_HEADER\n");
  ASSERT_EQ(v.status, 0);
  EXPECT_EQ(std::make_pair(v.merge, v.friedel), std::make_pair(false, true));
  EXPECT_EQ((std::vector<int>{v.nx, v.ny, v.starting_frame, v.space_group, v.items, v.item_iobs, v.item_sigma,
                              v.item_xd, v.item_yd, v.item_zd, v.item_psi}),
            (std::vector<int>{2463, 2527, 7, 179, 5, 4, 5, 6, 7, 8, 12}));
  EXPECT_EQ((std::vector<float>{v.qx, v.qy, v.orgx, v.orgy, v.detector_distance, v.oscillation_range,
                                v.starting_angle, v.wavelength, v.res_low, v.res_high, v.variance_a0, v.variance_b0}),
            (std::vector<float>{0.172f, 0.172f, 245.05f, 246.10f, 686.227f, 0.12f, -45.0f, 0.015f, 50.0f, 1.507f,
                                0.4931f, 0.009102f}));
  EXPECT_EQ((std::vector<std::array<float, 3>>{v.detector_x_axis, v.detector_y_axis, v.rotation_axis, v.incident_beam}),
            (std::vector<std::array<float, 3>>{
                {1, 0, 0}, {0, 1, 0}, {-0.988016f, 0.154341f, -0.001619f}, {-0.000006f, -0.000057f, 1.0f}}));
  EXPECT_EQ(v.cell, (Cell{11.912f, 11.912f, 29.939f, 90.0f, 90.0f, 120.0f}));
}

TEST(ReadHdr, DefaultsAndLogicalWords) {
  const HeaderValues v = header_of(kEnd);
  ASSERT_EQ(v.status, 0);
  EXPECT_EQ(std::make_pair(v.merge, v.friedel), std::make_pair(true, true));
  EXPECT_EQ((std::vector<int>{v.nx, v.ny, v.starting_frame, v.space_group, v.item_xd, v.item_psi}),
            (std::vector<int>{-1, -1, -1, -1, 0, 0}));
  EXPECT_EQ((std::vector<float>{v.qx, v.orgy, v.detector_distance, v.oscillation_range, v.starting_angle, v.wavelength,
                                v.res_low, v.res_high, v.variance_a0, v.variance_b0, v.cell[0], v.rotation_axis[2]}),
            (std::vector<float>{-1, -1, 0, -1, 0, -1, 1000000.0f, 1.0e-6f, -1, 0, -1, 0}));
  // Kinds without a header: status 0 once the file opens, whatever it holds.
  for (const std::string kind : {"DIRECT", "UNIQUE", "OLDHKL", "NORMAL", "ANOMAL"}) {
    const HeaderValues k = header_of("\x01garbage", kind);
    EXPECT_EQ(std::make_tuple(k.status, k.merge, k.friedel), std::make_tuple(0, kind != "DIRECT", kind != "ANOMAL"));
    EXPECT_EQ(readhdr("/nonexistent/x.hkl", kind).status, -2) << kind;
  }
  EXPECT_EQ(header_of(kEnd, "SCA").status, -2);
  // MERGE= and FRIEDEL'S_LAW= take exactly TRUE or FALSE; anything else leaves the value.
  const std::tuple<std::string, bool, bool> words[] = {
      {"!FORMAT=KVD_ASCII    MERGE=TRUE     FRIEDEL'S_LAW=FALSE\n", true, false}, {"!MERGE= FALSE\n", false, true},
      {"!MERGE=FALSEX\n", true, true}, {"!MERGE=false\n", true, true},
      {"!FRIEDEL'S_LAW=FALSE\n!FRIEDEL'S_LAW=NO\n", true, false}};
  for (const auto& [text, merge, friedel] : words) {
    const HeaderValues h = header_of(text + kEnd);
    EXPECT_EQ(std::make_pair(h.merge, h.friedel), std::make_pair(merge, friedel)) << text;
  }
}

TEST(ReadHdr, UnusableHeaders) {
  const std::string n5 = "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n", h1 = "!ITEM_H=1\n", kl = "!ITEM_K=2\n!ITEM_L=3\n",
                    is = "!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n", end = "!END_OF_HEADER\n", pad(127, ' ');
  const std::pair<std::string, int> cases[] = {
      {n5 + h1 + kl + is + end, 0},
      {n5 + kl + is + end, -2},                                     // no !ITEM_H=
      {n5 + "!ITEM_H=2\n" + kl + is + end, -2},                     // h not in column 1
      {n5 + h1 + kl + "!ITEM_IOBS=6\n!ITEM_SIGMA(IOBS)=5\n" + end, -2},  // beyond the item count
      {h1 + kl + is + end, -2},                                     // no item count
      {kItems, -2},                                                 // no end of header
      {"!FORMAT=KVD_ASCII\n\n" + kEnd, -2},                         // a line without "!"
      {"!SPACE_GROUP_NUMBER= P1\n" + kEnd, -2},
      {"!NX= 99999999999\n" + kEnd, -2},
      {"!UNIT_CELL_CONSTANTS= 10 10 10 90 90\n" + kEnd, -2},
      {std::string("!\0\xff\x80\n", 4) + kEnd, 0},                 // no keyword in it
      {std::string("\0\xff\x80\x01\x02\n", 6) + kEnd, -2},
      {"!" + std::string(5000000, ' ') + "\n" + kEnd, 0},
      {"!" + pad + "NX=  5\n" + kEnd, -2},                         // value cut off at column 132
  };
  for (const auto& [text, status] : cases) EXPECT_EQ(header_of(text).status, status) << text.substr(0, 200);
  EXPECT_EQ(header_of("!" + pad + "NX=5\n" + kEnd).nx, 5);     // value ends at column 132
  EXPECT_EQ(header_of("!" + pad + " NX=5\n" + kEnd).nx, -1);   // keyword cut off
  EXPECT_EQ(readhdr("/nonexistent/x.hkl", "KVD_ASCII").status, -2);
  EXPECT_EQ(readhdr("/tmp", "KVD_ASCII").status, -2);  // a directory (devices: the whole-run hardening tests)
}

}  // namespace
}  // namespace velmar
