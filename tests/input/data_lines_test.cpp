// The reflection reader: data lines of the text kinds, binary DIRECT records and the direct
// conversion of short decimals.
#include "input/reflection_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/free_format.hpp"
#include "input/line_values.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

// All data lines of a file and the result that ended the reading.
struct ReadAll {
  std::vector<DataLine> lines;
  ReadResult end = ReadResult::kUnreadable;
};

ReadAll read_all(const std::string& file, FileKind kind, const HeaderValues& hdr, bool friedel = false) {
  ReadAll out;
  ReflectionReader reader;
  if (!open_reflection_reader(reader, file, kind, hdr, friedel)) return out;
  DataLine line;
  while ((out.end = read_data_line(reader, line)) == ReadResult::kData) out.lines.push_back(line);
  return out;
}

// `bytes` as a file of the given kind; a KVD_ASCII file gets its own header read first.
ReadAll read_bytes(FileKind kind, const std::string& bytes, bool friedel = false) {
  testing::TempDir dir;
  const std::string file = dir.write("d.hkl", bytes);
  return read_all(file, kind, kind == FileKind::kKvdAscii ? readhdr(file, "KVD_ASCII") : HeaderValues{}, friedel);
}

std::string kvd_header(int items, const std::string& extra = "") {
  return "!FORMAT=KVD_ASCII MERGE=FALSE\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=" + std::to_string(items) +
         "\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n" + extra + "!END_OF_HEADER\n";
}

ReadAll kvd(const std::string& text) { return read_bytes(FileKind::kKvdAscii, text); }

std::vector<float> fields(const DataLine& d) {
  return {float(d.h), float(d.k), float(d.l), d.intensity, d.sigma, d.intensity2, d.sigma2, d.x, d.y, d.z, d.psi};
}

TEST(DataLinesKvd, ItemsCommentsBlankLinesAndEndOfData) {
  const std::string line = "  -2   1   3  6.952E+02  4.673E+01  1236.1  1252.2  47.7  0.036 100  61  39.67\n";
  const ReadAll r = kvd(kvd_header(12, "!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n!ITEM_PSI=12\n") + line +
                        "\n   \t \r\n  1 1 1 5 6 7 8 9 0 0 0 0 ! rejected\n" +
                        "  4 5 6 -1.0D+01 2.0 0 0 0 0 0 0 -180.5\r\n!END_OF_DATA\n" + line);
  ASSERT_EQ(r.end, ReadResult::kEnd);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(fields(r.lines[0]), (std::vector<float>{-2, 1, 3, 695.2f, 46.73f, 0, -1, 1236.1f, 1252.2f, 47.7f, 39.67f}));
  EXPECT_EQ(fields(r.lines[1]), (std::vector<float>{4, 5, 6, -10, 2, 0, -1, 0, 0, 0, -180.5f}));
  // Items not given or beyond the values of the line; no final newline, no end-of-data line.
  const ReadAll s = kvd(kvd_header(5, "!ITEM_ZD=3\n!ITEM_XD=6\n!ITEM_PSI=-1\n") + "+1 2 3 400 20");
  EXPECT_EQ(s.end, ReadResult::kEnd);
  ASSERT_EQ(s.lines.size(), 1u);
  EXPECT_EQ(fields(s.lines[0]), (std::vector<float>{1, 2, 3, 400, 20, 0, -1, 0, 0, 3, kPsiUnknown}));
}

TEST(DataLinesKvd, LongLinesAndGarbage) {
  const std::string values22 = "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22\n";
  EXPECT_EQ(kvd(kvd_header(20) + values22).lines.size(), 1u);  // 20 values of a line at most
  EXPECT_EQ(kvd(kvd_header(21) + values22).end, ReadResult::kUnreadable);
  const ReadAll r = kvd(kvd_header(5) + "1 2 3 4 5" + std::string(200, ' ') + "6 7\n1 2 3 4 5" +
                        std::string(123, ' ') + std::string(3 << 20, '7') + "\n2 2 2 8 9\n");  // cut at 132
  ASSERT_EQ(r.end, ReadResult::kEnd);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[2].intensity, 8.0f);
  const std::string hdr = kvd_header(5);
  const std::string bad_lines[] = {"1 2 3 4\n", "1 2 3 4 5 6\n", "1 2 3 4 x\n", "1 2 3 4 1E40\n", "1 2 3 nan 5\n",
                                   "1.5 2 3 4 5\n", "99999999999 2 3 4 5\n", std::string("1 2 3 \x80\xff\0\x01 5\n", 13),
                                   "1 2 3 4"};  // the last truncated
  for (const std::string& bad : bad_lines) {
    const ReadAll b = kvd(hdr + "0 0 1 2 3\n" + bad);
    EXPECT_EQ(b.end, ReadResult::kUnreadable) << bad;
    EXPECT_EQ(b.lines.size(), 1u) << bad;
  }
  testing::TempDir dir;  // a header without item layout, and a data file without a header
  EXPECT_EQ(read_all(dir.write("x", hdr + "1 2 3 4 5\n"), FileKind::kKvdAscii, {}).end, ReadResult::kUnreadable);
  const HeaderValues other = readhdr(dir.write("z", hdr), "KVD_ASCII");
  EXPECT_EQ(read_all(dir.write("y", "1 2 3 4 5\n"), FileKind::kKvdAscii, other).end, ReadResult::kUnreadable);
}

TEST(DataLinesOtherKinds, NormalAnomalOldhkl) {
  const ReadAll n =
      read_bytes(FileKind::kNormal, "1 2 3 500.0\n1 2 3 5.0\n! note\n\n1 2 3 5.0 0.5 9 9\n10000\n7 7 7 1 1\n");
  ASSERT_EQ(n.end, ReadResult::kEnd);
  ASSERT_EQ(n.lines.size(), 3u);  // sigma 10% of I, at least 1, when not given
  EXPECT_EQ((std::vector<float>{n.lines[0].sigma, n.lines[1].sigma}), (std::vector<float>{50, 1}));
  EXPECT_EQ(fields(n.lines[2]), (std::vector<float>{1, 2, 3, 5, 0.5f, 0, -1, 0, 0, 0, kPsiUnknown}));
  EXPECT_EQ(read_bytes(FileKind::kNormal, "10000 0 0 x\n").end, ReadResult::kEnd);
  EXPECT_EQ(read_bytes(FileKind::kNormal, "").end, ReadResult::kEnd);
  EXPECT_EQ(read_bytes(FileKind::kNormal, "1 2 3\n").end, ReadResult::kUnreadable);

  const std::string anomal = "1 2 3 100 10 200 20 0 0 0 0\n1 2 3 100 -1 200 20 0 0 0 0\n1 2 3 100 0 200 -2 0 0 0 0\n";
  const ReadAll apart = read_bytes(FileKind::kAnomal, anomal, false), one = read_bytes(FileKind::kAnomal, anomal, true);
  ASSERT_EQ(apart.lines.size() + one.lines.size(), 6u);
  EXPECT_EQ(fields(apart.lines[0]), (std::vector<float>{1, 2, 3, 100, 10, 200, 20, 0, 0, 0, kPsiUnknown}));
  EXPECT_FLOAT_EQ(one.lines[0].intensity, 120.0f);  // weighted with 1/100 and 1/400
  EXPECT_FLOAT_EQ(one.lines[0].sigma, 1.0f / std::sqrt(0.0125f));
  EXPECT_EQ((std::vector<float>{one.lines[0].sigma2, one.lines[1].intensity, one.lines[1].sigma}),
            (std::vector<float>{kSigmaAbsent, 200, 20}));
  EXPECT_LE(one.lines[2].sigma, 0.0f);
  EXPECT_EQ(read_bytes(FileKind::kAnomal, "1 2 3 100 10 200 20 0 0 0\n").end, ReadResult::kUnreadable);
  EXPECT_EQ(read_bytes(FileKind::kOldHkl, "1 2 3 100 10\n").end, ReadResult::kUnreadable);
}

TEST(DataLinesUnique, AnomalousDifferenceSplitsTheMates) {
  const struct { const char* line; bool friedel; float i1, s1, i2, s2; } cases[] = {
      {"1 2 3 100 4 40 6\n", true, 100, 4, 0, -1},  {"1 2 3 100 4 40 6\n", false, 120, 5, 80, 5},
      {"1 2 3 100 4 40 0\n", false, 100, 4, 0, -1}, {"1 2 3 100 4 -40 -1\n", false, 0, -1, 100, 4},
      {"1 2 3 100 4 40 -1\n", false, 100, 4, 0, -1}};
  for (const auto& c : cases) {
    const ReadAll r = read_bytes(FileKind::kUnique, c.line, c.friedel);
    ASSERT_EQ(r.lines.size(), 1u) << c.line;
    const DataLine& d = r.lines[0];  // an intensity whose sigma is not positive is not used
    EXPECT_EQ((std::vector<float>{d.sigma, d.sigma2, c.s1 > 0 ? d.intensity : 0, c.s2 > 0 ? d.intensity2 : 0}),
              (std::vector<float>{c.s1, c.s2, c.s1 > 0 ? c.i1 : 0, c.s2 > 0 ? c.i2 : 0}))
        << c.line;
  }
  EXPECT_EQ(read_bytes(FileKind::kUnique, "1 2 3 100 4 40\n").end, ReadResult::kUnreadable);
  EXPECT_EQ(read_bytes(FileKind::kUnique, "1 2 3 3E38 4 3E38 6\n").end, ReadResult::kUnreadable);
}

// Record n of a DIRECT file: S1..S9, R1..R3, S10..S16, R4..R9, each field in the byte order
// asked for; S1 = 10000 marks the end of the data.
std::string record(int n, bool swap, float r2 = 2.5f, int16_t s1 = 1) {
  const int16_t s[16] = {s1,   0,     0, int16_t(n % 50 - 25), -7, 12, 1, 0, 0, 0, 4500, -9000, int16_t(n % 900),
                         1234, 15012, -3};
  const float r[9] = {float(n) * 1.5f, r2, 0, 0.01f, -0.02f, 0.9997f, 0, 0, 0};
  std::string out;
  const auto put = [&](const auto* v, int count) {
    for (int i = 0; i < count; ++i) {
      char b[sizeof *v];
      std::memcpy(b, v + i, sizeof b);
      if (swap) std::reverse(b, b + sizeof b);
      out.append(b, sizeof b);
    }
  };
  put(s, 9), put(r, 3), put(s + 9, 7), put(r + 3, 6);
  return out;
}

ReadAll read_direct(const std::string& bytes) { return read_bytes(FileKind::kDirect, bytes); }

TEST(DirectFile, FieldsInEitherByteOrderAcrossReadBuffers) {
  const int n = 40000;  // more than one read buffer
  for (bool swap : {false, true}) {
    std::string bytes;
    for (int i = 1; i <= n; ++i) bytes += record(i, swap);
    const ReadAll r = read_direct(bytes + record(0, swap, 2.5f, 10000) + record(9, swap));
    ASSERT_EQ(r.end, ReadResult::kEnd);
    ASSERT_EQ(r.lines.size(), size_t(n));
    const DataLine& d = r.lines[1];
    EXPECT_EQ(fields(d), (std::vector<float>{-23, -7, 12, 3, 2.5f, 0, -1, 1501.2f, -0.3f, 2, kPsiUnknown}));
    EXPECT_EQ((std::vector<int>{d.axis_angle1, d.axis_angle2, d.axis_rotation}), (std::vector<int>{4500, -9000, 1234}));
    EXPECT_EQ(d.beam, (std::array<float, 3>{0.01f, -0.02f, 0.9997f}));
    EXPECT_EQ(std::make_pair(r.lines.back().intensity, r.lines.back().z), std::make_pair(n * 1.5f, float(n % 900)));
  }
  EXPECT_EQ(read_direct(record(1, true) + record(2, true)).lines.size(), 2u);  // the end of the file ends the data
}

TEST(DirectFile, DamagedFilesAreUnreadable) {
  const std::string good = record(1, false);
  EXPECT_EQ(read_direct("").end, ReadResult::kUnreadable);
  EXPECT_EQ(read_direct(good.substr(0, 40)).end, ReadResult::kUnreadable);
  const ReadAll truncated = read_direct(good + good + good.substr(0, 67));
  EXPECT_EQ(truncated.end, ReadResult::kUnreadable);
  EXPECT_EQ(truncated.lines.size(), 2u);
  EXPECT_EQ(read_direct(good + record(2, false, std::numeric_limits<float>::quiet_NaN())).end, ReadResult::kUnreadable);
  EXPECT_EQ(readhdr("/nonexistent/d.dir", "DIRECT").status, -2);
  EXPECT_EQ(read_all("/nonexistent/d.dir", FileKind::kDirect, HeaderValues{}).end, ReadResult::kUnreadable);
  EXPECT_EQ(read_all("/dev/zero", FileKind::kDirect, HeaderValues{}).end, ReadResult::kUnreadable);  // endless
}

// The direct conversion agrees bit for bit with the general reader, also at the limits of
// its exact range (mantissa 2^24, powers of ten up to 10). (Every measured file is read
// whole by WilsonRun.EveryMeasuredFilePrintsItsWilsonSection.)
TEST(DataLinesNumbers, ShortDecimalsMatchTheGeneralReader) {
  const std::string texts[] = {"16777216", "16777217", "1677721.7", "16777.219E3", "3E10", "3E11", "7E-10", "7E-11",
                               "-0", "+.5", "5.", ".", "1E", "1E+00005", "0.00000000013", "1234567890123456789",
                               "-3.4028235E38", "1.17549435E-38", "9.9999995e-3", "-1234.567", "0.0012345E-3"};
  for (const std::string& t : texts) {
    float fast = 0, general = 0;
    const bool ok = parse_real(t, general);
    ASSERT_EQ(read_real_field(t, fast), ok) << t;
    ASSERT_TRUE(!ok || std::memcmp(&fast, &general, sizeof fast) == 0) << t << " " << fast << " " << general;
  }
}

}  // namespace
}  // namespace velmar
