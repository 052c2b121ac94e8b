// Header reading of input reflection files.
#include "input/readhdr.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input_files.hpp"

namespace velmar {
namespace {

using testing::TempDir;

const std::string kItems =
    "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n"
    "!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n";

HeaderValues header_of(const std::string& text, std::string_view kind = "KVD_ASCII") {
  TempDir dir;
  return readhdr(1, dir.write("h.hkl", text), kind);
}

TEST(ReadHdr, EveryKeywordIncludingSeveralPerLine) {
  const HeaderValues v = header_of(
      "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=TRUE\n"
      "!NX=  2463  NY=  2527    QX=  0.172000  QY=  0.172000\n"
      "!ORGX=   245.05  ORGY=   246.10  DETECTOR_DISTANCE=   686.227\n"
      "!DIRECTION_OF_DETECTOR_X-AXIS= 1 0 0  DIRECTION_OF_DETECTOR_Y-AXIS= 0 1 0\n"
      "!ROTATION_AXIS= -0.988016  0.154341 -0.001619\n"
      "!OSCILLATION_RANGE=  0.12 STARTING_ANGLE= -45.0 STARTING_FRAME= 7\n"
      "!INCIDENT_BEAM_DIRECTION= -0.000006 -0.000057  1.000000\n"
      "!SPACE_GROUP_NUMBER=  179 UNIT_CELL_CONSTANTS= 2*11.912 29.939 2*90 120\n"
      "!X-RAY_WAVELENGTH=  1.5D-2\n!INCLUDE_RESOLUTION_RANGE= 50.0 1.507\n"
      "!VARIANCE_MODEL=  4.931E-01  9.102E-03\n" +
      kItems + "!ITEM_XD=6 ITEM_YD=0 !ITEM_YD=7 !ITEM_ZD=8 !ITEM_PSI=12\n!END_OF_HEADER\n");
  ASSERT_EQ(v.status, 0);
  EXPECT_TRUE(!v.merge && v.friedel);
  EXPECT_EQ((std::vector<int>{v.nx, v.ny, v.starting_frame, v.space_group, v.items, v.item_iobs,
                              v.item_sigma, v.item_xd, v.item_yd, v.item_zd, v.item_psi}),
            (std::vector<int>{2463, 2527, 7, 179, 5, 4, 5, 6, 7, 8, 12}));
  EXPECT_EQ((std::vector<float>{v.qx, v.qy, v.orgx, v.orgy, v.detector_distance,
                                v.oscillation_range, v.starting_angle, v.wavelength, v.res_low,
                                v.res_high, v.variance_a0, v.variance_b0}),
            (std::vector<float>{0.172f, 0.172f, 245.05f, 246.10f, 686.227f, 0.12f, -45.0f,
                                0.015f, 50.0f, 1.507f, 0.4931f, 0.009102f}));
  EXPECT_EQ(v.detector_x_axis, (std::array<float, 3>{1, 0, 0}));
  EXPECT_EQ(v.detector_y_axis, (std::array<float, 3>{0, 1, 0}));
  EXPECT_EQ(v.rotation_axis, (std::array<float, 3>{-0.988016f, 0.154341f, -0.001619f}));
  EXPECT_EQ(v.incident_beam, (std::array<float, 3>{-0.000006f, -0.000057f, 1.0f}));
  EXPECT_EQ(v.cell, (Cell{11.912f, 11.912f, 29.939f, 90.0f, 90.0f, 120.0f}));
}

TEST(ReadHdr, DefaultsDependOnKind) {
  const HeaderValues v = header_of(kItems + "!END_OF_HEADER\n");
  ASSERT_EQ(v.status, 0);
  EXPECT_TRUE(v.merge && v.friedel);
  EXPECT_EQ((std::vector<int>{v.nx, v.ny, v.starting_frame, v.space_group, v.item_xd, v.item_psi}),
            (std::vector<int>{-1, -1, -1, -1, 0, 0}));
  EXPECT_EQ((std::vector<float>{v.qx, v.orgy, v.detector_distance, v.oscillation_range,
                                v.starting_angle, v.wavelength, v.res_low, v.res_high,
                                v.variance_a0, v.variance_b0, v.cell[0], v.rotation_axis[2]}),
            (std::vector<float>{-1, -1, 0, -1, 0, -1, 1000000.0f, 1.0e-6f, -1, 0, -1, 0}));
  // Kinds without a header: status 0 once the file opens, whatever it holds.
  for (const char* kind : {"DIRECT", "UNIQUE", "OLDHKL", "NORMAL", "ANOMAL"}) {
    const HeaderValues k = header_of("\x01garbage", kind);
    EXPECT_EQ(k.status, 0) << kind;
    EXPECT_EQ(k.merge, std::string_view(kind) != "DIRECT") << kind;
    EXPECT_EQ(k.friedel, std::string_view(kind) != "ANOMAL") << kind;
    EXPECT_EQ(readhdr(1, "/nonexistent/x.hkl", kind).status, -2) << kind;
  }
  EXPECT_EQ(header_of(kItems + "!END_OF_HEADER\n", "SCA").status, -2);
}

TEST(ReadHdr, LogicalValuesNeedTheExactWord) {
  const std::string end = kItems + "!END_OF_HEADER\n";
  EXPECT_FALSE(header_of("!MERGE= FALSE\n" + end).merge);
  EXPECT_TRUE(header_of("!MERGE=FALSEX\n" + end).merge);
  EXPECT_TRUE(header_of("!MERGE=false\n" + end).merge);
  EXPECT_TRUE(header_of("!FRIEDEL'S_LAW=TRUE\n" + end, "KVD_ASCII").friedel);
  EXPECT_FALSE(header_of("!FRIEDEL'S_LAW=FALSE\n!FRIEDEL'S_LAW=NO\n" + end).friedel);
}

TEST(ReadHdr, ItemLayoutIsValidated) {
  const std::string n5 = "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n";
  const std::string kl = "!ITEM_K=2\n!ITEM_L=3\n";
  const std::string is = "!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n";
  const std::string end = "!END_OF_HEADER\n";
  EXPECT_EQ(header_of(n5 + "!ITEM_H=1\n" + kl + is + end).status, 0);
  EXPECT_EQ(header_of(n5 + kl + is + end).status, -2);                    // no !ITEM_H=
  EXPECT_EQ(header_of(n5 + "!ITEM_H=2\n" + kl + is + end).status, -2);    // h not column 1
  EXPECT_EQ(header_of(n5 + "!ITEM_H=1\n!ITEM_K=3\n!ITEM_L=2\n" + is + end).status, -2);
  EXPECT_EQ(header_of(n5 + "!ITEM_H=1\n" + kl + "!ITEM_IOBS=6\n!ITEM_SIGMA(IOBS)=5\n" + end).status, -2);
  EXPECT_EQ(header_of(n5 + "!ITEM_H=1\n" + kl + "!ITEM_IOBS=4\n" + end).status, -2);
  EXPECT_EQ(header_of("!ITEM_H=1\n" + kl + is + end).status, -2);         // no item count
}

TEST(ReadHdr, UnusableHeaders) {
  const std::string end = kItems + "!END_OF_HEADER\n";
  EXPECT_EQ(header_of("").status, -2);
  EXPECT_EQ(header_of(kItems).status, -2);                                // no end of header
  EXPECT_EQ(header_of("!FORMAT=KVD_ASCII\n\n" + end).status, -2);          // line without "!"
  EXPECT_EQ(header_of("!SPACE_GROUP_NUMBER= P1\n" + end).status, -2);
  EXPECT_EQ(header_of("!SPACE_GROUP_NUMBER= 1.5\n" + end).status, -2);
  EXPECT_EQ(header_of("!NX= 99999999999\n" + end).status, -2);
  EXPECT_EQ(header_of("!UNIT_CELL_CONSTANTS= 10 10 10 90 90\n" + end).status, -2);
  EXPECT_EQ(header_of("!X-RAY_WAVELENGTH= 1E99\n" + end).status, -2);
  EXPECT_EQ(header_of(std::string("!\0\xff\x80\n", 4) + end).status, 0);  // no keyword in it
  EXPECT_EQ(header_of(std::string("\0\xff\x80\x01\x02\n", 6) + end).status, -2);
  EXPECT_EQ(readhdr(1, "/nonexistent/x.hkl", "KVD_ASCII").status, -2);
  EXPECT_EQ(readhdr(1, "/tmp", "KVD_ASCII").status, -2);                  // a directory
}

TEST(ReadHdr, OnlyTheFirst132CharactersOfALineCount) {
  const std::string end = kItems + "!END_OF_HEADER\n";
  const std::string pad(127, ' ');
  EXPECT_EQ(header_of("!" + pad + "NX=5\n" + end).nx, 5);         // value ends at column 132
  EXPECT_EQ(header_of("!" + pad + " NX=5\n" + end).nx, -1);       // keyword cut off
  EXPECT_EQ(header_of("!" + pad + "NX=  5\n" + end).status, -2);  // value cut off
  EXPECT_EQ(header_of("!" + std::string(5000000, ' ') + "\n" + end).status, 0);
}

}  // namespace
}  // namespace velmar
