// Reading VELMAR.LP back: reports of real runs (the demo, a single generated data set, a
// failed run) and zero-dose sections written here in their fixed layouts.
#include "report/run_report.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "report/report_support.hpp"

namespace velmar::report {
namespace {

using testing::TempDir;

std::string error_of(const std::string& text) {
  try {
    read_run_report(text, "VELMAR.LP");
  } catch (const VelmarError& e) {
    return e.what();
  }
  return {};
}

// --- report text written here in the layouts of its sections ------------------------------

std::string banner() { return "\n***** VELMAR ***** (VERSION 1.0.0  BUILT=20260101)   1-Jan-2026\n"; }
std::string timing() { return "\n cpu time used by VELMAR        1.5 sec\n elapsed wall-clock time        2.5 sec\n"; }
std::string stars(int n) { return " " + std::string(static_cast<size_t>(n), '*'); }

// The demo report, read once for the tests that look at it.
const RunReport& demo() {
  static const RunReport r = read_run_report(testing::demo_dir().read("VELMAR.LP"), "VELMAR.LP");
  return r;
}

TEST(DemoReport, RunInputsScalingAndCorrections) {
  const RunReport& r = demo();
  EXPECT_TRUE(r.banner.starts_with("***** VELMAR ***** (VERSION ") && r.messages.empty() && !r.zero_dose.present);
  EXPECT_EQ(std::make_pair(r.space_group, r.cell), std::make_pair(96, std::array<float, 6>{50, 50, 30, 90, 90, 90}));
  ASSERT_EQ(r.data_sets.size(), 3u);
  for (size_t k = 0; k < 3; ++k)
    EXPECT_EQ(std::make_tuple(r.data_sets[k].number, r.data_sets[k].accepted, r.data_sets[k].rejected),
              std::make_tuple(int(k + 1), 10000L, 0L));
  EXPECT_EQ(r.data_sets[2].name, "demo_2.hkl");
  ASSERT_EQ(r.scaling.size(), 1u);
  const OverallScaling& s = r.scaling[0];
  ASSERT_EQ(s.pairs.size(), 3u);
  for (const DataSetPair& p : s.pairs) EXPECT_TRUE(p.common > 100 && p.correlation > 0.9f && std::fabs(p.ratio - 1) < 0.05f);
  ASSERT_EQ(s.factors.size(), 3u);
  EXPECT_EQ(std::make_tuple(s.factors[0].k, s.factors[0].b, s.factors[1].name), std::make_tuple(1.0f, 0.0f, std::string("demo_2.hkl")));
  EXPECT_FLOAT_EQ(s.factors[1].k, s.factors[2].k);  // the same file twice
  ASSERT_EQ(r.error_model.size(), 3u);
  for (const ErrorModelRow& e : r.error_model) EXPECT_NEAR(e.isa, 1.0f / std::sqrt(e.a * e.b), 0.01f * e.isa) << e.name;

  // Three kinds, each for the two output files: the merged one has two data sets.
  ASSERT_EQ(r.corrections.size(), 6u);
  for (size_t k = 0; k < 6; ++k) {  // the image files' names: CbfImageReading.ImagesOfTheDemoRun
    const CorrectionGroup& g = r.corrections[k];
    EXPECT_EQ(std::make_tuple(g.kind, g.output_file, g.images.size()),
              std::make_tuple(CorrectionKind(k / 2 + 1), std::string(k % 2 ? "demo_unmerged.hkl" : "demo_merged.hkl"), k % 2 ? 1u : 2u));
    for (const CorrectionImage& im : g.images)  // the absorption surface; the decay's x in SS, not pixels
      EXPECT_TRUE(im.xmin < im.xmax && im.reflections > 1000 && (g.kind != CorrectionKind::kAbsorption || im.surface.size() == 13u) &&
                  (g.kind != CorrectionKind::kDecay || im.ymax < 1.0f)) << im.file;
  }
}

// Every column read from its own place: the shells add up to the totals, the printed
// completeness is UNIQUE/POSSIBLE, the Wilson log column is the log of the mean.
TEST(DemoReport, StatisticsAndWilsonTablesAddUp) {
  const RunReport& r = demo();
  ASSERT_EQ(r.statistics.size(), 2u);
  for (const OutputStatistics& o : r.statistics) {
    SCOPED_TRACE(o.file);
    ASSERT_EQ(o.shells.size(), 20u);
    long observed = 0, unique = 0, compared = 0;
    for (const ShellStatistics& s : o.shells) {
      observed += s.observed, unique += s.unique, compared += s.compared;
      EXPECT_NEAR(s.completeness, 100.0f * static_cast<float>(s.unique) / static_cast<float>(s.possible), 0.051f);
      EXPECT_TRUE(s.i_sigma > 1 && s.r_meas > s.r_observed && s.cc_half > 90 && s.cc_half_significant) << s.limit;
    }
    EXPECT_EQ(std::make_tuple(o.total.observed, o.total.unique, o.total.compared), std::make_tuple(observed, unique, compared));
    EXPECT_EQ(std::make_pair(o.written, o.considered - o.rejected), std::make_pair(o.merged ? unique : observed, observed));
    EXPECT_TRUE(!o.friedel && o.total.nano > 0 && o.total.sig_ano > 0.5f && o.shells.back().limit == 2.0f);
  }
  long compared = 0;
  for (const InputRFactors& in : r.statistics[0].inputs) {
    long sum = 0;
    for (long c : in.compared) sum += c;
    EXPECT_EQ(sum, in.total_compared) << in.name;
    compared += sum;
  }
  EXPECT_EQ(std::make_pair(r.statistics[0].inputs.size(), compared), std::make_pair(size_t{2}, r.statistics[0].total.compared));
  ASSERT_EQ(r.wilson.size(), 2u);
  for (const WilsonSection& w : r.wilson) {
    SCOPED_TRACE(w.file);
    EXPECT_TRUE(w.b > 5 && w.correlation > 0.9f && w.shells.size() == 19u);
    for (const WilsonShell& s : w.shells) {
      EXPECT_NEAR(s.log_mean, std::log(s.mean_intensity), 0.002f);
      EXPECT_NEAR(s.resolution, 1.0f / std::sqrt(4.0f * s.ss), 0.05f * s.resolution);
    }
    for (const std::vector<MomentRow>* m : {&w.centric_moments, &w.acentric_moments}) {
      ASSERT_EQ(m->size(), 20u);
      long count = 0;
      for (size_t k = 0; k + 1 < m->size(); ++k) count += (*m)[k].count;
      EXPECT_EQ(count, m->back().count);  // the overall row
    }
    ASSERT_EQ(w.acentric_cumulative.size(), 20u);
    for (float ratio : w.acentric_cumulative.back().ratio) EXPECT_NEAR(ratio, 1.0f, 0.2f);
    EXPECT_EQ(w.centric_cumulative.back().count, w.centric_moments.back().count);
  }
}

// A report cut anywhere before its timing lines is refused as unfinished; other texts are no
// report at all. (The report of a failed run is refused through velmar-report.)
TEST(DemoReport, CutReportsAndOtherFilesAreRefused) {
  const std::string text = testing::demo_dir().read("VELMAR.LP");
  for (const char* cut : {"READING INPUT REFLECTION DATA FILES", " elapsed wall-clock time"}) {
    const size_t p = text.find(cut);
    ASSERT_NE(p, std::string::npos) << cut;
    EXPECT_EQ(error_of(text.substr(0, p)),
              " !!! ERROR !!! THE RUN THAT WROTE VELMAR.LP HAS NOT FINISHED (NO TIMING LINES AT ITS END)")
        << cut;
  }
  for (const std::string other : {"", "some text\n cpu time used by VELMAR        0.1 sec\n"})
    EXPECT_EQ(error_of(other), " !!! ERROR !!! VELMAR.LP IS NOT A VELMAR REPORT FILE");
}

// A cell 15 % off the files' headers: every row of the loading table is followed by its
// warning, and the table is read to its end.
TEST(RunReport, WarningsBetweenRowsOfTheLoadingTable) {
  TempDir d;
  const testing::RunResult run = testing::run_demo(d, "SPACE_GROUP_NUMBER=96\nUNIT_CELL_CONSTANTS= 50 50 34.5 90 90 90\n");
  ASSERT_EQ(run.status, 0) << run.terminal;
  const RunReport r = read_run_report(run.report, "VELMAR.LP");
  ASSERT_EQ(r.data_sets.size(), 3u);
  EXPECT_EQ(r.data_sets[2].number, 3);
  EXPECT_FLOAT_EQ(r.cell[2], 34.5f);
  ASSERT_EQ(r.messages.size(), 3u);
  for (const RunMessage& m : r.messages) EXPECT_EQ(m.text, "!!! WARNING !!! INCONSISTENT SPACE GROUP OR CELL CONSTANTS");
  EXPECT_EQ(r.statistics.size(), 2u);
}

// The overall scaling in its layout with a small correlation: the warning between the pairs
// and the factors is a message of the run, and the factors are still read.
TEST(RunReport, ScalingWarningBeforeTheFactorTable) {
  std::string t = banner() + "\n\n" + stars(78) + "\n                OVERALL SCALING AND CRYSTAL DISORDER CORRECTION\n" +
                  stars(78) + "\n\n      CORRELATIONS BETWEEN INPUT DATA SETS AFTER CORRECTIONS\n\n" +
                  " DATA SETS  NUMBER OF COMMON  CORRELATION   RATIO OF COMMON   B-FACTOR\n" +
                  "  #i   #j     REFLECTIONS     BETWEEN i,j  INTENSITIES (i/j)  BETWEEN i,j\n\n";
  t += fmt_i(1, 5) + fmt_i(2, 5) + fmt_i(40, 12) + fmt_f(0.45, 16, 3) + fmt_f(1.02, 18, 4) + fmt_f(-0.5, 15, 4) + "\n";
  t += "\n\n !!! WARNING !!! SOME CORRELATION FACTORS ARE DANGEROUSLY SMALL.\n *** DATA SETS MAY BE INCOMPATIBLE.***\n";
  t += "\n\n K*EXP(B*SS) = Factor applied to intensities\n    SS       = (2sin(theta)/lambda)^2\n\n"
       "     K        B           DATA SET NAME\n";
  t += fmt_f(1.0, 10, 4) + fmt_f(0.0, 8, 3) + "    " + fmt_char("one.hkl", 50) + "\n";
  t += fmt_f(0.5, 10, 4) + fmt_f(-3.25, 8, 3) + "    " + fmt_char("two.hkl", 50) + "\n";
  const RunReport r = read_run_report(t + timing(), "VELMAR.LP");
  ASSERT_TRUE(r.scaling.size() == 1 && r.scaling[0].pairs.size() == 1 && r.scaling[0].factors.size() == 2);
  EXPECT_EQ(std::make_tuple(r.scaling[0].pairs[0].correlation, r.scaling[0].factors[1].b, r.scaling[0].factors[1].name),
            std::make_tuple(0.45f, -3.25f, std::string("two.hkl")));
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text,
            "!!! WARNING !!! SOME CORRELATION FACTORS ARE DANGEROUSLY SMALL.\n*** DATA SETS MAY BE INCOMPATIBLE.***");
}

std::string decay_pair(const std::string& a, const std::string& ca, const std::string& b, const std::string& cb,
                       const std::vector<std::pair<float, long>>& shells, long total, float r) {
  std::string s = "\n\n First  INPUT_FILE= " + a + "\n      CRYSTAL_NAME= " + ca + "\n Second INPUT_FILE= " + b +
                  "\n      CRYSTAL_NAME= " + cb + "\n\n RESOLUTION    NUMBER    CORRELATION\n   LIMIT      OF PAIRS      FACTOR\n";
  for (const auto& [limit, n] : shells) s += fmt_f(limit, 9, 2) + fmt_i(n, 12) + fmt_f(0.5, 13, 3) + "\n";
  return s + "    total" + fmt_i(total, 12) + fmt_f(r, 13, 3) + "\n";
}

std::string dose_row(float s0, bool s0held, float s1, float r0, bool r0held, float r1, const std::string& name) {
  return "  " + fmt_f(s0, 10, 3) + (s0held ? "*" : " ") + " " + fmt_f(s1, 10, 3) + "  " + fmt_f(r0, 10, 3) +
         (r0held ? "*" : " ") + " " + fmt_f(r1, 10, 3) + "  " + name + "\n";
}

std::string zero_dose_row(const std::string& limit, long nunique, long n0, float ratio, float s, long nfree) {
  return limit + fmt_i(nunique, 10) + fmt_i(n0, 8) + fmt_f(ratio, 10, 1) + fmt_f(s, 12, 3) + fmt_i(nfree, 9) + "\n";
}

std::string zero_dose_text() {
  std::string t = "\n\n" + stars(78) + "\n          RESULTS FROM ZERO-DOSE EXTRAPOLATION OF REFLECTION INTENSITIES\n" +
                  stars(78) + "\n Radiation damage can lead to localized modifications of the structure.\n" +
                  "\n To avoid overfitting the data, VELMAR starts with the hypothesis that\n" +
                  " b(h)=0 and rejects this assumption if its probability is below" + fmt_f(5.0, 5, 1) + "%.\n" +
                  "CORRELATION OF COMMON DECAY-FACTORS BETWEEN INPUT DATA SETS\n" + std::string(59, '-') + "\n";
  t += decay_pair("a.hkl", "XTAL1", "b.hkl", "XTAL1", {{4.0f, 120}, {3.0f, 200}, {2.5f, 80}}, 400, 0.812f);
  t += decay_pair("b.hkl", "XTAL1", "c.hkl", "XTAL1", {{4.0f, 30}, {3.0f, 40}}, 70, -0.4f);
  t += " !!! WARNING !!! DECAY FACTORS OF THE TWO DATA SETS TAKEN\n                 FROM THE SAME CRYSTAL ANTI-CORRELATE.\n";
  t += "\n !!! ERROR !!! UNABLE TO REFINE \"DOSE_RATE=\" PARAMETERS FOR\n"
       "               CRYSTAL_NAME= XTAL2\n               RETURN CODE IS  IER= -3\n"
       "               THE UNREFINED PARAMETERS WILL BE USED INSTEAD.\n";
  t += "\n\n           X-RAY DOSE PARAMETERS USED FOR EACH INPUT DATA SET\n           " + std::string(50, '-') + "\n";
  t += "\n\n CRYSTAL_NAME= XTAL1\n        STARTING_DOSE             DOSE_RATE       NAME OF INPUT FILE\n"
       "     initial    refined      initial    refined\n\n";
  t += dose_row(0.0f, true, 0.0f, 1.0f, true, 1.0f, "a.hkl");
  t += dose_row(0.0f, false, 95.25f, 1.0f, false, 1.125f, "b.hkl");
  t += "\n\n CRYSTAL_NAME= XTAL2\n        STARTING_DOSE             DOSE_RATE       NAME OF INPUT FILE\n"
       "     initial    refined      initial    refined\n\n";
  t += dose_row(10.0f, false, 10.0f, 2.0f, false, 2.0f, "c.hkl");
  t += "\n\n           STATISTICS OF 0-DOSE CORRECTED DATA FROM EACH CRYSTAL\n           " + std::string(53, '-') +
       "\n\n NUNIQUE = Number of unique reflections with enough symmetry-\n";
  t += "\n\n CRYSTAL_NAME= XTAL1\n\n RESOLUTION  NUNIQUE  N0-DOSE  N0-DOSE/   S_corr/    NFREE\n"
       "   LIMIT                        NERROR    S_norm\n";
  t += zero_dose_row(fmt_f(4.0, 9, 2), 500, 120, 24.5f, 0.912f, 3000);
  t += zero_dose_row(fmt_f(2.5, 9, 2), 800, 0, 123456789.0f, 1.0f, 0);  // an overflowed field
  t += zero_dose_row("    total", 1300, 120, 24.5f, 0.95f, 3000);
  // Sigma scaling with 25 bins: the values continue on a second line under the same head.
  t += std::string(" ") + std::string(78, '*') + "\n              SCALING FACTORS FOR Sigma(I) AS FUNCTION OF RESOLUTION\n" +
       stars(78) + "\n SCALING FACTORS FOR Sigma(I) FOR DATA SET " + fmt_char("a.hkl", 50) + "\n" +
       std::string(34, ' ') + " RESOLUTION (ANGSTROM)  \n";
  std::string res = "        ", fac = " FACTOR ";
  for (int k = 0; k < 25; ++k) {
    if (k == 20) res += "\n        ", fac += "\n FACTOR ";
    put_f(res, 10.0 - 0.3 * k, 6, 2);
    put_f(fac, 1.0 + 0.01 * k, 6, 2);
  }
  return t + res + "\n" + fac + "\n";
}

TEST(RunReport, ZeroDoseSectionsInTheirLayouts) {
  const RunReport r = read_run_report(banner() + zero_dose_text() + timing(), "VELMAR.LP");
  const ZeroDose& z = r.zero_dose;
  ASSERT_TRUE(z.present);
  EXPECT_FLOAT_EQ(z.level_percent, 5.0f);
  ASSERT_EQ(z.correlations.size(), 2u);
  const DecayCorrelation& c = z.correlations[0];
  EXPECT_EQ((std::vector<std::string>{c.first, c.first_crystal, c.second, c.second_crystal, c.warning}),
            (std::vector<std::string>{"a.hkl", "XTAL1", "b.hkl", "XTAL1", ""}));
  EXPECT_EQ(std::make_tuple(c.limit, c.pairs, c.total_pairs, c.total_correlation),
            std::make_tuple(std::vector<float>{4.0f, 3.0f, 2.5f}, std::vector<long>{120, 200, 80}, 400L, 0.812f));
  EXPECT_EQ(z.correlations[1].warning,
            "!!! WARNING !!! DECAY FACTORS OF THE TWO DATA SETS TAKEN FROM THE SAME CRYSTAL ANTI-CORRELATE.");

  ASSERT_EQ(z.doses.size(), 2u);
  EXPECT_EQ(z.doses[0].crystal, "XTAL1");
  ASSERT_TRUE(z.doses[0].rows.size() == 2 && z.doses[1].rows.size() == 1);
  const DoseRow &held = z.doses[0].rows[0], &b = z.doses[0].rows[1];
  EXPECT_EQ((std::vector<bool>{held.start_held, held.rate_held, b.start_held}), (std::vector<bool>{true, true, false}));
  EXPECT_EQ(std::make_tuple(b.start_refined, b.rate_refined, b.name), std::make_tuple(95.25f, 1.125f, std::string("b.hkl")));
  EXPECT_FLOAT_EQ(z.doses[1].rows[0].rate_initial, 2.0f);

  ASSERT_TRUE(z.statistics.size() == 1 && z.statistics[0].shells.size() == 2);
  const ZeroDoseShell& s = z.statistics[0].shells[0];
  EXPECT_EQ(std::make_tuple(s.limit, s.nunique, s.corrected, s.corrected_per_error, s.sigma_ratio, s.nfree),
            std::make_tuple(4.0f, 500L, 120L, 24.5f, 0.912f, 3000L));
  // A field too narrow for its value prints as asterisks: missing, not zero, the row still read.
  EXPECT_TRUE(std::isnan(z.statistics[0].shells[1].corrected_per_error));
  EXPECT_FLOAT_EQ(z.statistics[0].shells[1].sigma_ratio, 1.0f);
  EXPECT_EQ(std::make_pair(z.statistics[0].total.nunique, z.statistics[0].total.sigma_ratio), std::make_pair(1300L, 0.95f));

  ASSERT_TRUE(z.sigma_scaling.size() == 1 && z.sigma_scaling[0].resolution.size() == 25 && z.sigma_scaling[0].factor.size() == 25);
  EXPECT_EQ(z.sigma_scaling[0].name, "a.hkl");
  EXPECT_EQ(std::make_pair(z.sigma_scaling[0].resolution[24], z.sigma_scaling[0].factor[24]), std::make_pair(2.8f, 1.24f));

  // The warnings and the refinement failure are the run's messages, in order; the run went on.
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ((std::vector<bool>{r.messages[0].error, r.messages[1].error}), (std::vector<bool>{false, true}));
  EXPECT_EQ(r.messages[0].text,
            "!!! WARNING !!! DECAY FACTORS OF THE TWO DATA SETS TAKEN\nFROM THE SAME CRYSTAL ANTI-CORRELATE.");
  EXPECT_EQ(r.messages[1].text,
            "!!! ERROR !!! UNABLE TO REFINE \"DOSE_RATE=\" PARAMETERS FOR\nCRYSTAL_NAME= XTAL2\n"
            "RETURN CODE IS  IER= -3\nTHE UNREFINED PARAMETERS WILL BE USED INSTEAD.");
  EXPECT_FLOAT_EQ(r.wall_seconds, 2.5f);
}

}  // namespace
}  // namespace velmar::report
