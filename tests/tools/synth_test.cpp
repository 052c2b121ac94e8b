// The synthetic-data generator: the truth it writes beside the data agrees with the data
// and with the model it documents, and the program reads what it writes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

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

// The error model and the outliers as documented, about each record's true factor times its
// true intensity.
TEST(Synth, MeasurementsScatterAsTheErrorModelSays) {
  TempDir dir;
  ASSERT_EQ(synth(dir, "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.5 --seed 7 --images 100 --obs 20000 --k 1.4 --b 4 "
                       "--decay 0.3 0.5 --modulation 0.2 --absorption 0.15 --damage 0.002 0.01 0.003 --dose-rate 0.5 "
                       "--error-model 1.8 0.003 --outliers 0.04 -o s.hkl")
                .status,
            0);
  const testing::SynthSweep s = testing::read_sweep(dir.file("s.hkl"));
  ASSERT_EQ(s.records.size(), 20000u);
  Moments clean, gross;  // normalised deviations of the clean observations, sizes of the outliers
  for (const SynthRecord& r : s.records) {
    const double e = double(r.factor) * r.true_i;
    ASSERT_NEAR(r.sigma, std::sqrt(std::max(e, 0.0) + 50.0), 1e-3 * r.sigma);  // counting sigma
    const double d = (r.i - e) / std::sqrt(1.8 * (double(r.sigma) * r.sigma + 0.003 * e * e));
    (r.outlier ? gross : clean).add(r.outlier ? std::fabs(d) : d);
  }
  EXPECT_NEAR(gross.mean(), 19.0, 1.0);  // 8 to 30 sd on top of the noise
  EXPECT_NEAR(gross.n / 20000.0, 0.04, 4 * std::sqrt(0.04 / 20000.0));
  EXPECT_NEAR(clean.mean(), 0.0, 0.02);
  EXPECT_NEAR(clean.sd(), 1.0, 0.02);
}

// The crystal's effects in the truth file: Wilson intensities (second moment 2 when acentric,
// 1.5 under perfect twinning, the twin mates equal), decay constants b(h) = C0 + C1 SS + CR SS g,
// the aliens and the ice ring.
TEST(Synth, TruthFileCarriesTheCrystalsEffects) {
  for (const bool twinned : {false, true}) {
    TempDir dir;
    ASSERT_EQ(synth(dir, "--sg 75 --cell 60 60 40 90 90 90 --dmin 1.8 --wilson-b 15 --seed 5 --damage 0.02 0.05 0.01 "
                         "--truth t.txt -o s.hkl --obs 0" +
                             std::string(twinned ? " --twin 0 1 0 1 0 0 0 0 -1" : " --aliens 12 --ice-ring 3.669"))
                  .status,
              0);
    const testing::TruthTable truth = testing::read_truth(dir.file("t.txt"));
    const SymopList ops = xsymy(1, {60, 60, 40, 90, 90, 90}, 75).ops;
    Moments z, residual;  // normalised intensities, decay-constant deviations in units of CR SS
    int aliens = 0, ice = 0;
    for (const auto& [hkl, t] : truth) {
      const double mean = 1000 * std::exp(-15 * t.ss / 2), off = std::fabs(1 / std::sqrt(t.ss) - 3.669) / 3.669;
      residual.add((t.b - 0.02 - 0.05 * t.ss) / (0.01 * t.ss));
      aliens += t.alien, ice += t.ice;
      if (t.alien) { EXPECT_TRUE(t.i_plus >= 30 * mean && t.i_plus == t.i_minus) << t.i_plus << " " << t.i_minus; }
      if (t.ice) { EXPECT_GE(t.i_plus, 15 * mean); }
      if (!twinned && std::fabs(off - 0.003) > 1e-5) { EXPECT_EQ(t.ice, off < 0.003) << off; }
      if (twinned) {
        const float mate = testing::true_intensity(truth, testing::half_of(hkl[1], hkl[0], -hkl[2], ops, false));
        ASSERT_NEAR(mate, t.i_plus, 1e-5 * t.i_plus + 1e-3) << "the mate (k, h, -l), same half";
      }
      if (t.centric || t.alien || t.ice || (hkl[0] == 0 && hkl[1] == 0)) continue;
      z.add(t.i_plus / mean);
    }
    ASSERT_GT(z.n, 5000);
    EXPECT_NEAR(z.sum2 / z.n / (z.mean() * z.mean()), twinned ? 1.5 : 2.0, 0.1) << twinned;
    EXPECT_NEAR(residual.mean(), 0.0, 0.05);
    EXPECT_NEAR(residual.sd(), 1.0, 0.05);
    EXPECT_EQ(std::pair(aliens, ice > 10), std::pair(twinned ? 0 : 12, !twinned));
  }
}

// Several sweeps of one crystal, without Friedel's law: every record carries its half's true
// intensity and b(h); sweep options after an -o apply to that sweep only; merged files hold
// one record per unique reflection.
TEST(Synth, SeveralSweepsOfOneCrystal) {
  TempDir dir;
  ASSERT_EQ(synth(dir, "--sg 96 --cell 50 50 30 90 90 90 --dmin 2.2 --friedel FALSE --anomalous 0.1 "
                       "--damage 0.01 0.02 0.005 --truth t.txt --images 60 --obs 6000 --k 1.3 -o a.hkl "
                       "-o b.hkl --k 0.8 --b 3 --first-image 61 --short -o c.hkl --merged")
                .status,
            0);
  const testing::TruthTable truth = testing::read_truth(dir.file("t.txt"));
  const SymopList ops = xsymy(1, {50, 50, 30, 90, 90, 90}, 96).ops;
  for (const auto& [file, k, b, first, count] :
       {std::tuple{"a.hkl", 1.3, 0.0, 1, 6000ul}, {"b.hkl", 0.8, 3.0, 61, 6000ul}, {"c.hkl", 1.3, 0.0, 0, truth.size()}}) {
    SCOPED_TRACE(file);
    const testing::SynthSweep s = testing::read_sweep(dir.file(file));
    EXPECT_EQ(std::tuple(s.value("K_AND_B", 0), s.value("K_AND_B", 1), s.records.size()), std::tuple(k, b, count));
    for (const SynthRecord& r : s.records) {
      const testing::HalfKey key = testing::half_of(r.h, r.k, r.l, ops, false);
      ASSERT_NEAR(r.true_i, testing::true_intensity(truth, key), 1e-5 * r.true_i + 1e-4);
      ASSERT_NEAR(r.b, truth.at({key[0], key[1], key[2]}).b, 1e-4 * std::fabs(r.b));
      if (first > 0) { ASSERT_TRUE(r.z >= first && r.z <= first + 60) << r.z; }
    }
  }
}

}  // namespace
}  // namespace velmar

#endif  // VELMAR_SYNTH_BINARY
