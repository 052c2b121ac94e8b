// The zero-dose correction of single reflections: which observations form decay lines, the
// test, the damping, the Friedel mates, and the statistics table.
#include "zerodose/dose_apply.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/fortran_format.hpp"
#include "zerodose/zero_dose_support.hpp"

namespace velmar {
namespace {

using testing::CapturedReport;
using testing::decaying;
using testing::DoseSet;
using testing::images;
using testing::Measured;
using testing::TestRun;

const std::vector<float> kShells = {10.0f, 2.0f};  // (1,2,3) of the 50 A cell lies in the first

struct Applied {
  std::vector<ZeroDoseShell> stats;
  TestRun run;
};

Applied apply(int mode, const std::vector<DoseSet>& sets, const std::vector<Measured>& measured, float level = 0.1f) {
  Applied a{{}, testing::dose_run(mode, sets, measured)};
  const ZeroDoseData d = testing::zero_dose_data(a.run, kShells);
  a.stats = doseapply(d, dose_parameters(a.run.tables), log_moment_table(), level);
  return a;
}

const ZeroDoseShell& total(const Applied& a, size_t crystal = 0) { return a.stats[crystal * 3 + 2]; }

TEST(Doseapply, WhichReflectionsGetADecayLine) {
  struct Case {
    const char* what;
    std::vector<Measured> measured;
    int64_t counted, corrected;
  };
  const std::vector<Case> cases = {
      {"two observations in one data set: NFREE = 0", decaying(0, 1, 2, 3, 1000, -0.05f, 0, 1, {1, 20}), 0, 0},
      {"three observations within three images", decaying(0, 1, 2, 3, 1000, -0.05f, 0, 1, {10, 11, 13}), 0, 0},
      {"three observations over four images", decaying(0, 1, 2, 3, 1000, -0.05f, 0, 1, {10, 12, 14}, 0.001f), 1, 1},
      {"two data sets of two observations each: NFREE = 1",
       [] {
         std::vector<Measured> m = decaying(0, 1, 2, 3, 1000, -0.02f, 0, 1, {1, 30}, 0.001f);
         testing::append(m, decaying(1, 1, 2, 3, 1000, -0.02f, 0, 1, {5, 40}, 0.001f));
         return m;
       }(),
       1, 1},
      {"no decay: not significant", decaying(0, 1, 2, 3, 1000, 0.0f, 0, 1, images(1, 10, 8), 0.02f), 1, 0},
  };
  for (const Case& c : cases) {
    const Applied a = apply(-1, {{"A"}, {"A"}}, c.measured);
    EXPECT_EQ(total(a).nunique, c.counted) << c.what;
    EXPECT_EQ(total(a).corrected, c.corrected) << c.what;
    for (size_t i = 0; i < a.run.obs.size(); ++i)
      if (!a.run.obs.key[i].is_end_marker()) { EXPECT_EQ(a.run.obs.decay[i] != 0.0f, c.corrected > 0) << c.what; }
  }
}

TEST(Doseapply, CorrectsEveryPointToZeroDose) {
  // Starting dose 20 and rate 0.5: the correction extrapolates to dose 0, not to the first
  // image. The fifth observation appears twice; the copy marked a misfit of the scaling is
  // no point of the line and is left as it is.
  std::vector<Measured> m = decaying(0, 1, 2, 3, 1000, -0.01f, 20, 0.5f, images(1, 6, 9), 0.002f);
  m.push_back(m[4]);
  for (const bool misfit : {false, true}) {
    TestRun r = testing::dose_run(-1, {{"A", 20, 0.5f}}, m);
    const size_t copy = size_t(r.unique.first(0, 0)) + 4;
    r.obs.misfit[copy] = misfit;
    const std::vector<ZeroDoseShell> stats =
        doseapply(testing::zero_dose_data(r, kShells), dose_parameters(r.tables), log_moment_table(), 0.1f);
    ASSERT_EQ(stats[2].corrected, 1);
    int corrected = 0;
    for (size_t i = 0; i < r.obs.size(); ++i) {
      if (r.obs.key[i].is_end_marker() || r.obs.decay[i] == 0.0f) continue;
      ++corrected;
      EXPECT_NEAR(r.obs.decay[i], -0.01f, 5e-4);
      EXPECT_NEAR(r.obs.corr[i], std::exp(-r.obs.decay[i] * (20.0f + 0.5f * (r.obs.pos[i].z - 1.0f))), 1e-5);
      EXPECT_NEAR(r.obs.intensity[i] * r.obs.corr[i], 1000.0f, 1000.0f * 0.01f);  // back to the zero-dose value
    }
    EXPECT_EQ(corrected, misfit ? 9 : 10);
    if (misfit) { EXPECT_EQ(std::pair(r.obs.decay[copy], r.obs.corr[copy]), std::pair(0.0f, 1.0f)); }
  }
}

TEST(Doseapply, DampingKeepsTheExponentWithinOne) {
  // ln I falls by 5 over the doses 0..99: the applied exponent is damped to 1 at the last dose.
  const Applied a = apply(-1, {{"A"}}, decaying(0, 1, 2, 3, 5000, -0.05f, 0, 1, images(1, 11, 10), 0.002f));
  ASSERT_EQ(total(a).corrected, 1);
  float largest = 0.0f;
  for (size_t i = 0; i < a.run.obs.size(); ++i)
    if (!a.run.obs.key[i].is_end_marker()) largest = std::max(largest, std::fabs(std::log(a.run.obs.corr[i])));
  EXPECT_NEAR(largest, 1.0f, 1e-4);
  EXPECT_NEAR(a.run.obs.decay[0] * 99.0f, -1.0f, 1e-4);
}

TEST(Doseapply, FriedelMatesKeepTheirOwnIntercepts) {
  // The mates differ by a factor 1.5 (anomalous signal) and decay alike.
  std::vector<Measured> m = decaying(0, 1, 2, 3, 1000, -0.01f, 0, 1, {1, 21, 41, 61}, 0.002f);
  testing::append(m, decaying(0, -1, -2, -3, 1500, -0.01f, 0, 1, {11, 31, 51, 71}, 0.002f));
  const Applied apart = apply(-2, {{"A"}}, m);
  ASSERT_EQ(total(apart).corrected, 1);
  EXPECT_EQ(total(apart).nfree, 8 - 2 - 1);  // one group per mate
  EXPECT_NEAR(apart.run.obs.decay[0], -0.01f, 2e-4);
  const Applied together = apply(-1, {{"A"}}, m);  // Friedel's law: one group, the step between mates blurs b
  EXPECT_GT(std::fabs(together.run.obs.decay[0] + 0.01f), 10 * std::fabs(apart.run.obs.decay[0] + 0.01f));
}

TEST(Doseapply, StatisticsTable) {
  // Shell 1 holds a decaying reflection, shell 2 (d = 50/sqrt(75) = 5.8 A) one without decay.
  std::vector<Measured> m = decaying(0, 1, 2, 3, 1000, -0.01f, 0, 1, images(1, 10, 8), 0.002f);
  testing::append(m, decaying(0, 5, 5, 5, 1000, 0.0f, 0, 1, images(1, 10, 8), 0.02f));
  TestRun r = testing::dose_run(-1, {{"XTAL"}}, m);
  const ZeroDoseData d = testing::zero_dose_data(r, kShells);
  const DoseParameters dose = dose_parameters(r.tables);
  const std::vector<ZeroDoseShell> stats = doseapply(d, dose, log_moment_table(), 0.1f);
  CapturedReport cap;
  print_zero_dose_statistics(cap.rep, d, dose, stats);
  const ZeroDoseShell& s1 = stats[0];
  ASSERT_EQ(s1.corrected, 1);
  std::string first = "    10.00         1       1";
  put_f(first, 1.0 / s1.p, 10, 1);
  put_f(first, std::sqrt((s1.s1 / 6.0) / (s1.s0 / 7.0)), 12, 3);
  first += "        6";
  // The explanation of the columns is fixed text: its first and last lines; the table exactly.
  const std::string head = "\n\n           STATISTICS OF 0-DOSE CORRECTED DATA FROM EACH CRYSTAL\n"
                           "           -----------------------------------------------------\n\n"
                           " NUNIQUE = Number of unique reflections with enough symmetry-\n";
  const std::string table = " NFREE   = degrees of freedom for calculating S_corr\n\n\n CRYSTAL_NAME= XTAL\n\n"
                            " RESOLUTION  NUNIQUE  N0-DOSE  N0-DOSE/   S_corr/    NFREE\n"
                            "   LIMIT                        NERROR    S_norm\n" + first + "\n" +
                            "     2.00         1       0       0.0       1.000        0\n"
                            "    total         2" + first.substr(19) + "\n";
  const std::string file = cap.file();
  EXPECT_TRUE(file.starts_with(head) && file.ends_with(table)) << file;
  EXPECT_EQ(cap.terminal(), "");
}

}  // namespace
}  // namespace velmar
