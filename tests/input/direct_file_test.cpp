// Binary DIRECT reflection files read through the reflection reader.
#include "input/direct_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "input_files.hpp"

namespace velmar {
namespace {

using testing::read_all;
using testing::ReadAll;
using testing::TempDir;

struct Record {
  std::array<int16_t, 16> s{};  // S1..S16
  std::array<float, 9> r{};     // R1..R9
};

template <class T>
void put(std::string& out, T v, bool swap) {
  char b[sizeof v];
  std::memcpy(b, &v, sizeof v);
  if (swap) std::reverse(b, b + sizeof v);
  out.append(b, sizeof v);
}

std::string pack(const Record& rec, bool swap) {
  std::string out;
  for (int i = 0; i < 9; ++i) put(out, rec.s[size_t(i)], swap);
  for (int i = 0; i < 3; ++i) put(out, rec.r[size_t(i)], swap);
  for (int i = 9; i < 16; ++i) put(out, rec.s[size_t(i)], swap);
  for (int i = 3; i < 9; ++i) put(out, rec.r[size_t(i)], swap);
  return out;
}

Record observation(int n) {
  Record rec;
  rec.s = {1, 0, 0, int16_t(n % 50 - 25), -7, 12, 1, 0, 0, 0, 4500, -9000, int16_t(n % 900),
           1234, 15012, -3};
  rec.r = {float(n) * 1.5f, 2.5f, 0, 0.01f, -0.02f, 0.9997f, 0, 0, 0};
  return rec;
}

Record end_marker() {
  Record rec = observation(0);
  rec.s[0] = 10000;
  return rec;
}

ReadAll read_direct(const std::string& bytes) {
  TempDir dir;
  return read_all(dir.write("d.dir", bytes), FileKind::kDirect, HeaderValues{});
}

TEST(DirectFile, FieldsInEitherByteOrder) {
  for (bool swap : {false, true}) {
    std::string bytes;
    for (int n = 1; n <= 3; ++n) bytes += pack(observation(n), swap);
    const ReadAll r = read_direct(bytes + pack(end_marker(), swap) + pack(observation(9), swap));
    ASSERT_EQ(r.end, ReadResult::kEnd);
    ASSERT_EQ(r.lines.size(), 3u);
    const DataLine& d = r.lines[1];
    EXPECT_EQ((std::vector<int>{d.h, d.k, d.l, d.axis_angle1, d.axis_angle2, d.axis_rotation}),
              (std::vector<int>{-23, -7, 12, 4500, -9000, 1234}));
    EXPECT_EQ((std::vector<float>{d.intensity, d.sigma, d.sigma2, d.z, d.x, d.y, d.psi}),
              (std::vector<float>{3.0f, 2.5f, kSigmaAbsent, 2.0f, 1501.2f, -0.3f, kPsiNotGiven}));
    EXPECT_EQ(d.beam, (std::array<float, 3>{0.01f, -0.02f, 0.9997f}));
  }
}

TEST(DirectFile, ManyRecordsAcrossReadBuffers) {
  std::string bytes;
  const int n = 40000;
  for (int i = 1; i <= n; ++i) bytes += pack(observation(i), true);
  const ReadAll r = read_direct(bytes);  // the end of the file ends the data too
  ASSERT_EQ(r.end, ReadResult::kEnd);
  ASSERT_EQ(r.lines.size(), size_t(n));
  EXPECT_EQ(r.lines.back().intensity, float(n) * 1.5f);
  EXPECT_EQ(r.lines.back().z, float(n % 900));
}

TEST(DirectFile, DamagedFilesAreUnreadable) {
  const std::string good = pack(observation(1), false);
  EXPECT_EQ(read_direct("").end, ReadResult::kUnreadable);
  EXPECT_EQ(read_direct(good.substr(0, 40)).end, ReadResult::kUnreadable);
  const ReadAll truncated = read_direct(good + good + good.substr(0, 67));
  EXPECT_EQ(truncated.end, ReadResult::kUnreadable);
  EXPECT_EQ(truncated.lines.size(), 2u);
  Record nan = observation(2);
  nan.r[1] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(read_direct(good + pack(nan, false)).end, ReadResult::kUnreadable);
  EXPECT_EQ(readhdr(4, "/nonexistent/d.dir", "DIRECT").status, -2);
  EXPECT_FALSE(read_all("/nonexistent/d.dir", FileKind::kDirect, HeaderValues{}).end ==
               ReadResult::kEnd);
}

}  // namespace
}  // namespace velmar
