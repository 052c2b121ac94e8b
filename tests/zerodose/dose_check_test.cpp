// Decay factors per data set, the correlation of common factors between data sets and the
// decay-factor scratch file.
#include "zerodose/dose_check.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "zerodose/decay_records.hpp"
#include "zerodose/zero_dose_support.hpp"

namespace velmar {
namespace {

using testing::CapturedReport;
using testing::decaying;
using testing::images;
using testing::Measured;
using testing::stop_text;
using testing::TempDir;
using testing::TestRun;

TEST(PairFlag, StudentUpToTenPairsFisherFromEleven) {
  // r = 0.55: with 10 pairs t = 1.976 on 9 degrees of freedom, p = 0.040; with 11 pairs
  // 0.5 sqrt(9) ln(1.55/0.45) = 1.855 < 2. r = 0.6 with 11 pairs: 2.079 > 2, whatever the level.
  const struct {
    double r;
    int64_t n;
    float level;
    int flag;
  } cases[] = {{0.9999, 2, 0.1f, 0}, {0.55, 10, 0.1f, 1}, {0.55, 10, 0.01f, 0}, {-0.55, 10, 0.1f, -1},
               {0.55, 11, 0.1f, 0},  {0.6, 11, 1e-6f, 1}, {-0.2, 200, 0.1f, -1}, {0.3, 3, 0.1f, 0}};
  for (const auto& c : cases) EXPECT_EQ(pair_flag(c.r, c.n, c.level), c.flag) << c.r << " " << c.n << " " << c.level;
}

TEST(PairFlag, CorrelationOfCommonFactors) {
  PairSums same, opposite, some;
  for (double b : {0.001, 0.003, 0.002}) same.add(b, 2 * b), opposite.add(b, -b);
  some.add(1, 0), some.add(0, 1), some.add(1, 1);  // not mean-centred: 1/sqrt(2 * 2)
  EXPECT_EQ(pair_correlation(PairSums{}), 0.0);
  EXPECT_EQ(pair_correlation(same), 0.9999);
  EXPECT_EQ(pair_correlation(opposite), -0.9999);
  EXPECT_DOUBLE_EQ(pair_correlation(some), 0.5);
}

// Reflections (h, 0, 0), h = 1..12 (d = 50/h), in data sets 0 and 1 of crystal A, 2 and 3 of
// crystal C and 5 of crystal B, decaying, except in data set 3, where they grow; data set 4
// (crystal A) holds h = 1 and 2 only.
std::vector<Measured> six_sets() {
  std::vector<Measured> m;
  for (int h = 1; h <= 12; ++h)
    for (int set = 0; set < 6; ++set)
      if (const float slope = -0.004f - 0.001f * float(h); set != 4 || h <= 2)
        testing::append(m, decaying(set, h, 0, 0, 2000.0f, set == 3 ? -slope : slope, 0, 1, images(1.0f + float(set), 9, 6), 0.002f));
  return m;
}

TEST(Dosecheck, FactorsCorrelationsAndRecords) {
  TestRun r = testing::dose_run(-1, {{"A"}, {"A"}, {"C"}, {"C"}, {"A"}, {"B"}}, six_sets());
  const std::vector<float> shells = {10.0f, 5.0f, 2.0f};
  const ZeroDoseData d = testing::zero_dose_data(r, shells);
  TempDir dir;
  const std::string scratch = dir.file("VMDECAY.tmp");
  CapturedReport cap;
  const DoseCheck check = dosecheck(cap.rep, d, dose_parameters(r.tables), log_moment_table(), 0.1f, scratch);

  // One record per reflection with the factors of crystals A and C; B has one data set only.
  // (The factors' values: the rates refined from them in the zero-dose run test.)
  ASSERT_EQ(check.records, 12);
  const DecayRecords records = read_decay_records(scratch, check.records, 6);
  ASSERT_EQ(records.size(), 12u);
  EXPECT_EQ(records.set.size(), 12u * 4 + 2);

  // Pairs (1,2), (1,3), (2,3), (1,4), (2,4), (3,4), (1,5), ...: same crystal A agrees, C
  // anti-correlates, A with the fifth data set has too few common factors.
  EXPECT_EQ(check.flag[pair_index(0, 1)], 1);
  EXPECT_EQ(check.flag[pair_index(2, 3)], -1);
  EXPECT_EQ(check.flag[pair_index(0, 4)], 0);
  const std::string report = cap.file();
  auto block = [&](int u, int v) {
    const std::string start = " First  INPUT_FILE= set" + std::to_string(u + 1) + ".hkl\n      CRYSTAL_NAME= ";
    const size_t b = report.find(start + r.tables.sets[static_cast<size_t>(u)].crystal_name + "\n Second INPUT_FILE= set" +
                                 std::to_string(v + 1) + ".hkl\n");
    return b == std::string::npos ? std::string() : report.substr(b, report.find("\n\n\n", b) - b);
  };
  // Shells d >= 10: h = 1..5; 10 > d >= 5: h = 6..10; 5 > d >= 2: h = 11, 12.
  const std::string rows = "    10.00           5        1.000\n     5.00           5        1.000\n"
                           "     2.00           2        1.000\n    total          12        1.000\n";
  EXPECT_TRUE(report.starts_with("\n\n           CORRELATION OF COMMON DECAY-FACTORS BETWEEN INPUT DATA SETS\n"
                                 "           -----------------------------------------------------------\n\n\n"));
  EXPECT_EQ(block(0, 1) + "\n",
            " First  INPUT_FILE= set1.hkl\n      CRYSTAL_NAME= A\n Second INPUT_FILE= set2.hkl\n"
            "      CRYSTAL_NAME= A\n\n RESOLUTION    NUMBER    CORRELATION\n   LIMIT      OF PAIRS      FACTOR\n" +
                rows);
  EXPECT_TRUE(block(2, 3).ends_with("\n !!! WARNING !!! DECAY FACTORS OF THE TWO DATA SETS TAKEN\n"
                                    "                 FROM THE SAME CRYSTAL ANTI-CORRELATE."));
  EXPECT_TRUE(block(0, 4).ends_with("\n    total           2        1.000\n !!! WARNING !!! INSIGNIFICANT CORRELATION"));
  EXPECT_TRUE(block(0, 3).ends_with("\n    total          12       -1.000"));  // other crystal: no warning
  EXPECT_TRUE(block(0, 5).ends_with("\n    total          12        1.000"));  // every pair is correlated
  EXPECT_EQ(cap.terminal(), "");
}

TEST(DecayRecordFile, ErrorsStopWithTheFileName) {
  TempDir dir;
  const std::string name = dir.file("d.tmp"), missing = dir.file("no/d.tmp");
  {
    DecayRecordWriter w(name);
    const int32_t set[] = {0, 2};
    const float b[] = {0.1f, 0.2f}, sd[] = {0.01f, 0.02f};
    write_decay_record(w, set, b, sd, 2);
    close_decay_records(w);
  }
  EXPECT_EQ(read_decay_records(name, 1, 3).b, (std::vector<float>{0.1f, 0.2f}));
  const std::string unreadable = " !!! ERROR !!! CANNOT OPEN OR READ " + name;
  EXPECT_EQ(stop_text([&] { read_decay_records(name, 2, 3); }), unreadable);  // a record missing
  EXPECT_EQ(stop_text([&] { read_decay_records(name, 1, 2); }), unreadable);  // a data set beyond the table
  EXPECT_EQ(stop_text([&] { DecayRecordWriter w(missing); }), " !!! ERROR !!! CANNOT OPEN OR WRITE " + missing);
}

}  // namespace
}  // namespace velmar
