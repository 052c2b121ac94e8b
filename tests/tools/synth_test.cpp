// The synthetic-data generator: the truth it writes beside the data agrees with the data
// and with the model it documents, and the program reads what it writes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "input/readhdr.hpp"
#include "symmetry/spacegroups.hpp"
#include "synth_files.hpp"
#include "test_support.hpp"

#ifdef VELMAR_SYNTH_BINARY

namespace velmar {
namespace {

using testing::SynthRecord;
using testing::TempDir;

testing::CommandResult synth(const TempDir& dir, const std::string& args) {
  return testing::run_in(dir, std::string("'") + VELMAR_SYNTH_BINARY + "' " + args + " 2>&1");
}

struct Moments {
  double n = 0, sum = 0, sum2 = 0;
  void add(double x) { n += 1, sum += x, sum2 += x * x; }
  double mean() const { return sum / n; }
  double sd() const { return std::sqrt(sum2 / n - mean() * mean()); }
};

TEST(Synth, MeasurementsScatterAsTheErrorModelSays) {
  TempDir dir;
  ASSERT_EQ(synth(dir, "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.5 --seed 7 --truth t.txt --images 100 "
                       "--obs 20000 --k 1.4 --b 4 --decay 0.3 0.5 --modulation 0.2 --absorption 0.15 "
                       "--damage 0.002 0.01 0.003 --dose-rate 0.5 -o clean.hkl "
                       "-o noisy.hkl --error-model 1.8 0.003 --outliers 0.04 "
                       "-o high.hkl --error-model 1.8 0.003 --outliers 0.04 --outlier-sign +1")
                .status,
            0);
  for (const auto& [file, a, b, fraction, both_signs] :
       {std::tuple{"clean.hkl", 1.0, 0.0, 0.0, true}, std::tuple{"noisy.hkl", 1.8, 0.003, 0.04, true},
        std::tuple{"high.hkl", 1.8, 0.003, 0.04, false}}) {
    SCOPED_TRACE(file);
    const testing::SynthSweep s = testing::read_sweep(dir.file(file));
    ASSERT_EQ(s.records.size(), 20000u);
    EXPECT_EQ(std::pair(s.value("ERROR_MODEL_A_B", 0), s.value("ERROR_MODEL_A_B", 1)), std::pair(a, b));
    Moments clean, gross;  // normalised deviations of the clean observations, sizes of the outliers
    long low = 0;
    for (const SynthRecord& r : s.records) {
      const double e = double(r.factor) * r.true_i;
      ASSERT_NEAR(r.sigma, std::sqrt(std::max(e, 0.0) + 50.0), 1e-3 * r.sigma);  // counting sigma
      const double d = (r.i - e) / std::sqrt(a * (double(r.sigma) * r.sigma + b * e * e));
      if (!r.outlier) {
        clean.add(d);
        continue;
      }
      gross.add(std::fabs(d));  // 8 to 30 sd on top of the noise
      low += d < 0;
      EXPECT_TRUE(std::fabs(d) > 3.0 && std::fabs(d) < 35.0) << d;
    }
    if (gross.n > 0) { EXPECT_NEAR(gross.mean(), 19.0, 1.0); }
    EXPECT_NEAR(clean.mean(), 0.0, 0.02);
    EXPECT_NEAR(clean.sd(), 1.0, 0.02);
    EXPECT_NEAR(gross.n / 20000.0, fraction, 4 * std::sqrt(fraction / 20000.0) + 1e-9);
    if (both_signs) EXPECT_NEAR(low, gross.n / 2.0, 3 * std::sqrt(gross.n / 4.0) + 1e-9);
    else EXPECT_EQ(low, 0);
  }
  // Merged with the true factors, the clean sweep gives the truth file's intensities with
  // chi-square 1 per reflection.
  const testing::SynthSweep s = testing::read_sweep(dir.file("clean.hkl"));
  const testing::TruthTable truth = testing::read_truth(dir.file("t.txt"));
  std::vector<float> factors;
  for (const SynthRecord& r : s.records) factors.push_back(r.factor);
  Moments chi;
  for (const auto& [key, m] : testing::merge(s.records, factors, xsymy(1, {50, 60, 70, 90, 90, 90}, 19).ops, true))
    chi.add((m.i - testing::true_intensity(truth, key)) / m.sigma);
  EXPECT_GT(chi.n, 5000);
  EXPECT_NEAR(chi.mean(), 0.0, 0.04);
  EXPECT_NEAR(chi.sd(), 1.0, 0.04);
}

TEST(Synth, TwinningMovesTheSecondMomentTowardOneAndAHalf) {
  for (const bool twinned : {false, true}) {
    TempDir dir;
    ASSERT_EQ(synth(dir, "--sg 75 --cell 60 60 40 90 90 90 --dmin 1.8 --wilson-b 0 --seed 5 --truth t.txt -o s.hkl "
                         "--obs 0" + std::string(twinned ? " --twin 0 1 0 1 0 0 0 0 -1" : ""))
                  .status,
              0);
    const testing::TruthTable truth = testing::read_truth(dir.file("t.txt"));
    const SymopList ops = xsymy(1, {60, 60, 40, 90, 90, 90}, 75).ops;
    Moments i;
    double sum_i2 = 0;
    for (const auto& [hkl, t] : truth) {
      if (t.centric || (hkl[0] == 0 && hkl[1] == 0)) continue;
      i.add(t.i_plus), sum_i2 += double(t.i_plus) * t.i_plus;
      const float mate = testing::true_intensity(truth, testing::half_of(hkl[1], hkl[0], -hkl[2], ops, false));
      if (twinned) { ASSERT_NEAR(mate, t.i_plus, 1e-5 * t.i_plus + 1e-3) << "the mate (k, h, -l), same half"; }
    }
    ASSERT_GT(i.n, 5000);
    EXPECT_NEAR(sum_i2 / i.n / (i.mean() * i.mean()), twinned ? 1.5 : 2.0, 0.1) << twinned;
  }
}

TEST(Synth, DecayConstantsAliensAndIceRings) {
  TempDir dir;
  ASSERT_EQ(synth(dir, "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.0 --seed 9 --wilson-b 15 --damage 0.02 0.05 0.01 "
                       "--aliens 12 --ice-ring 3.669 --truth t.txt -o s.hkl --obs 0")
                .status,
            0);
  Moments residual;
  int aliens = 0, ice = 0;
  for (const auto& [hkl, t] : testing::read_truth(dir.file("t.txt"))) {
    residual.add((t.b - 0.02 - 0.05 * t.ss) / (0.01 * t.ss));
    const double mean = 1000 * std::exp(-15 * t.ss / 2), off = std::fabs(1 / std::sqrt(t.ss) - 3.669) / 3.669;
    aliens += t.alien, ice += t.ice;
    if (t.alien) { EXPECT_TRUE(t.i_plus >= 30 * mean && t.i_plus == t.i_minus) << t.i_plus << " " << t.i_minus; }
    if (t.ice) { EXPECT_GE(t.i_plus, 15 * mean); }
    if (std::fabs(off - 0.003) > 1e-5) { EXPECT_EQ(t.ice, off < 0.003) << off; }
  }
  EXPECT_EQ(aliens, 12);
  EXPECT_GT(ice, 10);
  EXPECT_NEAR(residual.mean(), 0.0, 0.05);
  EXPECT_NEAR(residual.sd(), 1.0, 0.05);
}

TEST(Synth, SeveralSweepsOfOneCrystalAreReadByTheProgram) {
  TempDir dir;
  ASSERT_EQ(synth(dir, "--sg 96 --cell 50 50 30 90 90 90 --dmin 2.2 --friedel FALSE --anomalous 0.1 "
                       "--damage 0.01 0.02 0.005 --truth t.txt --images 60 --obs 6000 --k 1.3 -o a.hkl "
                       "-o b.hkl --k 0.8 --b 3 --first-image 61 --starting-dose 60 --dose-rate 1 --short "
                       "--oscillation 0.25 -o c.hkl --merged")
                .status,
            0);
  const testing::TruthTable truth = testing::read_truth(dir.file("t.txt"));
  const SymopList ops = xsymy(1, {50, 50, 30, 90, 90, 90}, 96).ops;
  // Header values as the program reads them, untouched by the truth lines; defaults before
  // the first -o, the sweep's own values after it.
  for (const auto& [file, k, b, oscillation, first, items] :
       {std::tuple{"a.hkl", 1.3, 0.0, 0.1, 1, 16}, std::tuple{"b.hkl", 0.8, 3.0, 0.25, 61, 12},
        std::tuple{"c.hkl", 1.3, 0.0, -1.0, -1, 9}}) {
    SCOPED_TRACE(file);
    const HeaderValues h = readhdr(dir.file(file), "KVD_ASCII");
    EXPECT_EQ(std::tuple(h.status, h.merge, h.friedel, h.items, h.item_zd, h.item_psi, h.starting_frame, h.space_group),
              std::tuple(0, items == 9, false, items, items == 9 ? 0 : 8, items == 16 ? 12 : 0, first, 96));
    EXPECT_EQ(std::tuple(h.oscillation_range, h.wavelength, h.variance_a0, h.variance_b0),
              std::tuple(float(oscillation), 1.0f, 1.0f, 1e-4f));
    const std::string text = dir.read(file);
    for (size_t p = text.find("!TRUTH_"); p != std::string::npos; p = text.find("!TRUTH_", p + 1))
      for (const char* word : {"NX=", "NY=", "QX=", "QY=", "ORGX=", "ORGY=", "DETECTOR_DISTANCE=", "RANGE=", "MERGE=",
                               "FRIEDEL'S_LAW=", "SPACE_GROUP_NUMBER=", "UNIT_CELL_CONSTANTS=", "WAVELENGTH=",
                               "VARIANCE_MODEL=", "STARTING_", "DOSE_RATE=", "CRYSTAL_NAME=", "FIRST_IMAGE=",
                               "NUMBER_OF_ITEMS", "_AXIS=", "DIRECTION="})
        EXPECT_EQ(text.substr(p, text.find('\n', p) - p).find(word), std::string::npos) << word;
    const testing::SynthSweep s = testing::read_sweep(dir.file(file));
    EXPECT_EQ(std::pair(s.value("K_AND_B", 0), s.value("K_AND_B", 1)), std::pair(k, b));
    EXPECT_EQ(s.records.size(), items == 9 ? truth.size() : 6000u);
    // One crystal: every record carries its half's true intensity and its reflection's b(h).
    for (const SynthRecord& r : s.records) {
      const testing::HalfKey key = testing::half_of(r.h, r.k, r.l, ops, false);
      ASSERT_NEAR(r.true_i, testing::true_intensity(truth, key), 1e-5 * r.true_i + 1e-4);
      ASSERT_NEAR(r.b, truth.at({key[0], key[1], key[2]}).b, 1e-4 * std::fabs(r.b));
      if (first > 0) { ASSERT_TRUE(r.z >= first && r.z <= first + 60) << r.z; }
    }
  }
  dir.write("VELMAR.INP", "OUTPUT_FILE=m.hkl\nFRIEDEL'S_LAW=FALSE\nINPUT_FILE=a.hkl\nINPUT_FILE=b.hkl\n"
                          "OUTPUT_FILE=n.hkl\nINPUT_FILE=c.hkl\n");
  const testing::RunResult run = testing::run_velmar(dir);
  ASSERT_EQ(run.status, 0) << run.report;
  for (const std::string name : {"a.hkl", "b.hkl", "c.hkl"}) {  // set, mean intensity, accepted, rejected
    const size_t p = run.report.find("  " + name), line = run.report.rfind('\n', p) + 1;
    ASSERT_NE(p, std::string::npos) << name;
    const std::vector<double> v = testing::numbers_in(run.report.substr(line, p - line));
    ASSERT_EQ(v.size(), 4u) << name;
    EXPECT_EQ(v[2], double(name == "c.hkl" ? truth.size() : 6000)) << name;
  }
}

TEST(Synth, BadOptionsStopWithAMessage) {
  const std::pair<const char*, const char*> cases[] = {
      {"-o a.hkl --twin 1 0 0", "missing value for --twin"},
      {"-o a.hkl --cell 50 50 0 90 90 90", "bad cell constants"},
      {"-o a.hkl --k 1.5x", "bad value for --k: 1.5x"},
      {"--k 2", "no output file (-o)"},
      {"-o a.hkl --frobnicate", "unknown option --frobnicate"},
      {"-o a.hkl --friedel YES", "--friedel takes TRUE or FALSE"},
      {"-o a.hkl --modulation 1.5", "--modulation and --absorption must lie in (-1, 1)"},
      {"-o a.hkl --twin 1 0 0 0 2 0 0 0 1", "twin law must have determinant +1 or -1"},
      {"-o a.hkl --sg 16 --cell 50 60 70 90 90 90 --twin 0 1 0 1 0 0 0 0 -1", "twin law does not map the lattice"},
      {"-o a.hkl --sg 23 --cell 60 60 60 90 90 90 --twin 1 1 0 0 1 0 0 0 1", "twin law does not map the lattice"},
      {"-o a.hkl --dmin 1.5 --wavelength 3", "the wavelength is too long for the resolution"},
      {"-o a.hkl --sg 1 --cell 500 500 500 90 90 90 --dmin 0.5 --wavelength 0.5", "too many reflections"},
      {"-o a.hkl --dmin 3 --aliens 100000", "more aliens than unique reflections"},
      {"-o no/such/dir/a.hkl --dmin 4", "cannot write no/such/dir/a.hkl"},
  };
  TempDir dir;
  for (const auto& [args, message] : cases) {
    const testing::CommandResult r = synth(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(testing::contains(r.output, std::string("velmar_synth: ") + message)) << args << "\n" << r.output;
  }
}

}  // namespace
}  // namespace velmar

#endif  // VELMAR_SYNTH_BINARY
