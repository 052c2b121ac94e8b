// Data lines of the text reflection-file kinds, read through the reflection reader.
#include "input/reflection_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/free_format.hpp"
#include "input/line_values.hpp"
#include "input_files.hpp"

namespace velmar {
namespace {

using testing::read_all;
using testing::ReadAll;
using testing::TempDir;

std::string kvd_header(int items, const std::string& extra = "") {
  return "!FORMAT=KVD_ASCII MERGE=FALSE\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=" +
         std::to_string(items) +
         "\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n" + extra +
         "!END_OF_HEADER\n";
}

const std::string kGeometry = "!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n!ITEM_PSI=12\n";
const std::string kLine12 = "  -2   1   3  6.952E+02  4.673E+01  1236.1  1252.2  47.7  0.036 100  61  39.67\n";

ReadAll read_kvd(const std::string& text) {
  TempDir dir;
  const std::string file = dir.write("d.hkl", text);
  return read_all(file, FileKind::kKvdAscii, readhdr(1, file, "KVD_ASCII"));
}

ReadAll read_kind(FileKind kind, const std::string& text, bool friedel) {
  TempDir dir;
  return read_all(dir.write("d.hkl", text), kind, HeaderValues{}, friedel);
}

TEST(DataLinesKvd, ItemsCommentsBlankLinesAndEndOfData) {
  const ReadAll r = read_kvd(kvd_header(12, kGeometry) + kLine12 + "\n   \t \r\n" +
                             "  1 1 1 5 6 7 8 9 0 0 0 0 ! rejected\n" +
                             "  4 5 6 -1.0D+01 2.0 0 0 0 0 0 0 -180.5\r\n!END_OF_DATA\n" + kLine12);
  ASSERT_EQ(r.end, ReadResult::kEnd);
  ASSERT_EQ(r.lines.size(), 2u);
  const DataLine& a = r.lines[0];
  EXPECT_EQ((std::vector<int>{a.h, a.k, a.l}), (std::vector<int>{-2, 1, 3}));
  EXPECT_EQ((std::vector<float>{a.intensity, a.sigma, a.x, a.y, a.z, a.psi, a.sigma2}),
            (std::vector<float>{695.2f, 46.73f, 1236.1f, 1252.2f, 47.7f, 39.67f, kSigmaAbsent}));
  EXPECT_EQ(r.lines[1].intensity, -10.0f);
  EXPECT_EQ(r.lines[1].psi, -180.5f);
}

TEST(DataLinesKvd, ItemsNotGivenOrBeyondTheLine) {
  const ReadAll r = read_kvd(kvd_header(5, "!ITEM_ZD=3\n!ITEM_XD=6\n!ITEM_PSI=-1\n") +
                             "+1 2 3 400 20");  // no final newline, no end-of-data line
  ASSERT_EQ(r.end, ReadResult::kEnd);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0].h, 1);
  EXPECT_EQ(r.lines[0].z, 3.0f);
  EXPECT_EQ(r.lines[0].x + r.lines[0].y, 0.0f);
  EXPECT_EQ(r.lines[0].psi, kPsiNotGiven);
}

TEST(DataLinesKvd, AtMostTwentyValuesAreTaken) {
  const std::string values22 = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22\n";
  EXPECT_EQ(read_kvd(kvd_header(20) + values22).lines.size(), 1u);
  EXPECT_EQ(read_kvd(kvd_header(21) + values22).end, ReadResult::kUnreadable);
}

TEST(DataLinesKvd, LongLinesAreCutAt132Characters) {
  const std::string tail(200, ' ');
  const std::string huge(3 << 20, '7');  // longer than the read buffer
  const ReadAll r = read_kvd(kvd_header(5) + "1 2 3 4 5" + tail + "6 7\n" + "1 2 3 4 5" +
                             std::string(123, ' ') + huge + "\n2 2 2 8 9\n");
  ASSERT_EQ(r.end, ReadResult::kEnd);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[2].intensity, 8.0f);
}

TEST(DataLinesKvd, UnreadableLinesRejectTheFile) {
  const std::string hdr = kvd_header(5);
  for (const char* bad : {"1 2 3 4\n", "1 2 3 4 5 6\n", "1 2 3 4 x\n", "1 2 3 4 1E40\n",
                          "1 2 3 nan 5\n", "1 2 3 inf 5\n", "1.5 2 3 4 5\n",
                          "99999999999 2 3 4 5\n", "1,2,3 4 5\n"}) {
    const ReadAll r = read_kvd(hdr + "0 0 1 2 3\n" + bad + "0 0 1 2 3\n");
    EXPECT_EQ(r.end, ReadResult::kUnreadable) << bad;
    EXPECT_EQ(r.lines.size(), 1u) << bad;
  }
  const char binary[] = "1 2 3 \x80\xff\0\x01 5\n";
  EXPECT_EQ(read_kvd(hdr + std::string(binary, sizeof binary - 1)).end, ReadResult::kUnreadable);
  EXPECT_EQ(read_kvd(hdr + "1 2 3 4 5\n1 2 3 4").end, ReadResult::kUnreadable);  // truncated
  TempDir dir;  // a header without item layout, and a data file without a header
  EXPECT_EQ(read_all(dir.write("x", hdr + "1 2 3 4 5\n"), FileKind::kKvdAscii, {}).end,
            ReadResult::kUnreadable);
  EXPECT_EQ(read_all(dir.write("y", "1 2 3 4 5\n"), FileKind::kKvdAscii,
                     readhdr(1, dir.write("z", hdr), "KVD_ASCII")).end, ReadResult::kUnreadable);
}

TEST(DataLinesNormal, SigmaDefaultsAndEndMarker) {
  const ReadAll r = read_kind(FileKind::kNormal,
                              "1 2 3 500.0\n1 2 3 5.0\n! note\n\n1 2 3 5.0 0.5 9 9\n"
                              "10000\n7 7 7 1 1\n",
                              true);
  ASSERT_EQ(r.end, ReadResult::kEnd);
  ASSERT_EQ(r.lines.size(), 3u);
  const DataLine& c = r.lines[2];
  EXPECT_EQ((std::vector<float>{r.lines[0].sigma, r.lines[1].sigma, c.sigma, c.psi, c.sigma2, c.z}),
            (std::vector<float>{50.0f, 1.0f, 0.5f, kPsiNotGiven, kSigmaAbsent, 0.0f}));
  EXPECT_EQ(read_kind(FileKind::kNormal, "10000 0 0 x\n", true).end, ReadResult::kEnd);
  EXPECT_EQ(read_kind(FileKind::kNormal, "1 2 3\n", true).end, ReadResult::kUnreadable);
  EXPECT_EQ(read_kind(FileKind::kNormal, "", true).end, ReadResult::kEnd);
}

TEST(DataLinesAnomal, MatesApartOrCombined) {
  const std::string text = "1 2 3 100 10 200 20 0 0 0 0\n1 2 3 100 -1 200 20 0 0 0 0\n"
                           "1 2 3 100 0 200 -2 0 0 0 0\n";
  const ReadAll apart = read_kind(FileKind::kAnomal, text, false);
  ASSERT_EQ(apart.lines.size(), 3u);
  EXPECT_EQ(apart.lines[0].intensity2, 200.0f);
  EXPECT_EQ(apart.lines[0].sigma2, 20.0f);
  const ReadAll one = read_kind(FileKind::kAnomal, text, true);
  ASSERT_EQ(one.lines.size(), 3u);
  EXPECT_FLOAT_EQ(one.lines[0].intensity, 120.0f);  // weights 1/100 and 1/400
  EXPECT_FLOAT_EQ(one.lines[0].sigma, 1.0f / std::sqrt(0.0125f));
  EXPECT_EQ(one.lines[0].sigma2, kSigmaAbsent);
  EXPECT_FLOAT_EQ(one.lines[1].intensity, 200.0f);
  EXPECT_FLOAT_EQ(one.lines[1].sigma, 20.0f);
  EXPECT_LE(one.lines[2].sigma, 0.0f);
  EXPECT_EQ(read_kind(FileKind::kAnomal, "1 2 3 100 10 200 20 0 0 0\n", false).end,
            ReadResult::kUnreadable);
}

TEST(DataLinesUnique, AnomalousDifferenceSplitsTheMates) {
  struct Case { const char* line; bool friedel; float i1, s1, i2, s2; };
  const Case cases[] = {
      {"1 2 3 100 4 40 6\n", true, 100, 4, 0, -1},
      {"1 2 3 100 4 40 6\n", false, 120, 5, 80, 5},
      {"1 2 3 100 4 40 0\n", false, 100, 4, 0, -1},
      {"1 2 3 100 4 -40 -1\n", false, 0, -1, 100, 4},
      {"1 2 3 100 4 40 -1\n", false, 100, 4, 0, -1},
  };
  for (const Case& c : cases) {
    const ReadAll r = read_kind(FileKind::kUnique, c.line, c.friedel);
    ASSERT_EQ(r.lines.size(), 1u) << c.line;
    const DataLine& d = r.lines[0];
    EXPECT_FLOAT_EQ(d.sigma, c.s1) << c.line;
    EXPECT_FLOAT_EQ(d.sigma2, c.s2) << c.line;
    if (c.s1 > 0) {
      EXPECT_FLOAT_EQ(d.intensity, c.i1) << c.line;
    }
    if (c.s2 > 0) {
      EXPECT_FLOAT_EQ(d.intensity2, c.i2) << c.line;
    }
  }
  EXPECT_EQ(read_kind(FileKind::kUnique, "1 2 3 100 4 40\n", false).end, ReadResult::kUnreadable);
  EXPECT_EQ(read_kind(FileKind::kUnique, "1 2 3 3E38 4 3E38 6\n", false).end,
            ReadResult::kUnreadable);
}

TEST(DataLinesOldhkl, NeverReadable) {
  EXPECT_EQ(read_kind(FileKind::kOldHkl, "1 2 3 100 10\n", true).end, ReadResult::kUnreadable);
  EXPECT_EQ(read_kind(FileKind::kOldHkl, "", true).end, ReadResult::kUnreadable);
}

TEST(DataLinesNumbers, ShortDecimalsMatchTheGeneralReader) {
  std::mt19937 rng(20240607);
  std::uniform_real_distribution<double> mant(-9.9999, 9.9999);
  std::uniform_int_distribution<int> expo(-14, 14), digits(0, 8), style(0, 2);
  for (int n = 0; n < 200000; ++n) {
    char text[64];
    const double x = mant(rng) * std::pow(10.0, expo(rng));
    const int s = style(rng);
    std::snprintf(text, sizeof text, s == 0 ? "%.*E" : s == 1 ? "%.*f" : "%.*e", digits(rng), x);
    float fast = 0, general = 0;
    const bool ok_general = parse_real(text, general);
    ASSERT_EQ(read_real_field(text, fast), ok_general) << text;
    if (ok_general) {
      ASSERT_EQ(std::memcmp(&fast, &general, sizeof fast), 0) << text;
    }
  }
}

}  // namespace
}  // namespace velmar
