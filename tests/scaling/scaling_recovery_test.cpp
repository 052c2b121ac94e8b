// Scaling recovers what the generator put in: K and B per data set, the correction factors
// over images, resolution and the detector, the error model, the outliers, and it keeps an
// anomalous signal. Every check compares with the truth written beside the generated data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "symmetry/spacegroups.hpp"
#include "synth_files.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::HalfKey;
using testing::Pairs;
using testing::RunResult;
using testing::SynthSweep;
using testing::TempDir;
using testing::TruthTable;

// The rows of the report table under `head`: data set name -> the numbers before it.
std::map<std::string, std::vector<double>> table_rows(const std::string& report, const std::string& head) {
  std::map<std::string, std::vector<double>> t;
  const size_t at = report.find(head + "\n");
  std::istringstream in(at == std::string::npos ? "" : report.substr(at + head.size() + 1));
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::vector<double> v;
    std::string word;
    while (f >> word && (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-')) v.push_back(std::stod(word));
    if (v.empty() || word.empty()) break;
    t[word] = v;
  }
  return t;
}

// The numbers of every record (line without "!") of an output file.
std::vector<std::vector<double>> records_of(const std::string& text) {
  std::vector<std::vector<double>> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.find('!') == std::string::npos) out.push_back(testing::numbers_in(line));
  return out;
}

// The intensities of a merged output file by unique reflection and half. A record carries
// its representative's indices, negated for the "-" half (the representatives written are
// the greatest of their mates, h first).
std::map<HalfKey, double> merged_output(const std::string& text, bool friedel) {
  std::map<HalfKey, double> m;
  for (const std::vector<double>& v : records_of(text)) {
    if (v.size() < 4) continue;
    const int h = int(v[0]), k = int(v[1]), l = int(v[2]);
    const bool minus = !friedel && std::tuple(h, k, l) < std::tuple(-h, -k, -l);
    m[minus ? HalfKey{-h, -k, -l, -1} : HalfKey{h, k, l, 1}] = v[3];
  }
  return m;
}

// Correlation of merged intensities (Friedel mates merged) with the true ones after removing
// one overall B factor (the slope of ln(sum I / sum I_true) over ten shells of SS): scaling
// cannot tell a common B drift of all sweeps from the crystal's own B.
double correlation_after_b(const std::map<HalfKey, double>& merged, const TruthTable& truth) {
  struct Point {
    double i, t, ss;
  };
  std::vector<Point> p;
  for (const auto& [key, i] : merged)
    if (const auto t = truth.find({key[0], key[1], key[2]}); t != truth.end())
      p.push_back({i, 0.5 * (t->second.i_plus + t->second.i_minus), t->second.ss});
  if (p.size() < 20) return std::nan("");
  std::sort(p.begin(), p.end(), [](const Point& a, const Point& b) { return a.ss < b.ss; });
  Pairs shells, all;
  for (size_t s = 0; s < 10; ++s) {
    double si = 0, st = 0, ss = 0;
    const size_t lo = s * p.size() / 10, hi = (s + 1) * p.size() / 10;
    for (size_t k = lo; k < hi; ++k) si += p[k].i, st += p[k].t, ss += p[k].ss;
    if (si > 0 && st > 0) shells.add(ss / double(hi - lo), std::log(si / st));
  }
  for (const Point& q : p) all.add(q.i * std::exp(-shells.slope() * q.ss), q.t);
  return all.r();
}

// Correlation of the anomalous differences I(+) - I(-) of merged halves with the true ones.
double anomalous_correlation(const std::map<HalfKey, double>& merged, const TruthTable& truth) {
  Pairs d;
  for (const auto& [key, plus] : merged) {
    const auto minus = merged.find({key[0], key[1], key[2], -1});
    const auto t = truth.find({key[0], key[1], key[2]});
    if (key[3] > 0 && minus != merged.end() && t != truth.end())
      d.add(plus - minus->second, t->second.i_plus - t->second.i_minus);
  }
  return d.r();
}

// An observation as both the input and the unmerged output identify it: data set, indices
// as measured, position to the output's 0.1 pixel.
using ObservationKey = std::array<int, 7>;
ObservationKey observation_key(int iset, int h, int k, int l, double x, double y, double z) {
  auto tenth = [](double v) { return int(std::lround(v * 10)); };
  return {iset, h, k, l, tenth(x), tenth(y), tenth(z)};
}

// Merges the sweeps' records (those in `kept` only, when given) with factor 1 or the true
// factor of every record.
std::map<HalfKey, double> merge_sweeps(const std::vector<SynthSweep>& sweeps, std::span<const Symop> ops,
                                       bool friedel, bool true_factors, const std::set<ObservationKey>* kept = nullptr) {
  std::vector<testing::SynthRecord> records;
  std::vector<float> factors;
  for (size_t s = 0; s < sweeps.size(); ++s)
    for (const testing::SynthRecord& r : sweeps[s].records) {
      if (kept && !kept->count(observation_key(int(s) + 1, r.h, r.k, r.l, r.x, r.y, r.z))) continue;
      records.push_back(r);
      factors.push_back(true_factors ? r.factor : 1.0f);
    }
  std::map<HalfKey, double> out;
  for (const auto& [key, m] : testing::merge(records, factors, ops, friedel)) out[key] = m.i;
  return out;
}

TEST(ScalingRecovery, OverallScaleAndBOfFourDataSets) {
  TempDir dir;
  // Strong data (mean intensity 1E5 at SS = 0): the strong-reflection selection of the
  // comparison is then unbiased at all resolutions.
  ASSERT_TRUE(testing::synthesize(dir, "s1.hkl",
                                  "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.0 --seed 7 --images 180 "
                                  "--multiplicity 2 --mean-intensity 100000 --wilson-b 10 "
                                  "-o s2.hkl --k 0.5 --b -5 -o s3.hkl --k 3 --b 10 -o s4.hkl --k 1.7 --b 4"));
  const RunResult r = testing::run_velmar(
      dir, "OUTPUT_FILE=o.hkl\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\nINPUT_FILE=s3.hkl\nINPUT_FILE=s4.hkl\n");
  ASSERT_EQ(r.status, 0) << r.report;
  const auto kb = table_rows(r.report, "     K        B           DATA SET NAME");
  const std::map<std::string, std::pair<double, double>> truth = {
      {"s1.hkl", {1, 0}}, {"s2.hkl", {0.5, -5}}, {"s3.hkl", {3, 10}}, {"s4.hkl", {1.7, 4}}};
  for (const auto& [name, kb_true] : truth) {
    ASSERT_EQ(kb.count(name), 1u) << name << "\n" << r.report;
    EXPECT_NEAR(kb.at(name)[0] / kb_true.first, 1.0, 0.02) << name;
    EXPECT_NEAR(kb.at(name)[1], kb_true.second, 0.5) << name;
  }
}

// One record of an unmerged output file.
struct OutputRecord {
  int h, k, l, iset;
  double i, sigma, x, y, z;
};

std::vector<OutputRecord> unmerged_output(const std::string& text) {
  std::vector<OutputRecord> out;
  for (const std::vector<double>& v : records_of(text))
    if (v.size() >= 10) out.push_back({int(v[0]), int(v[1]), int(v[2]), int(v[9]), v[3], v[4], v[5], v[6], v[7]});
  return out;
}

std::set<ObservationKey> kept_observations(const std::vector<OutputRecord>& written) {
  std::set<ObservationKey> kept;
  for (const OutputRecord& r : written) kept.insert(observation_key(r.iset, r.h, r.k, r.l, r.x, r.y, r.z));
  return kept;
}

// The spread (standard deviation) of the normalised deviations (I - J)/sqrt(sigma^2 -
// sigma_J^2) of the written observations from the weighted mean J of their reflection.
double deviation_spread(const std::vector<OutputRecord>& written, std::span<const Symop> ops) {
  std::map<HalfKey, std::vector<const OutputRecord*>> by_reflection;
  for (const OutputRecord& r : written) by_reflection[testing::half_of(r.h, r.k, r.l, ops, true)].push_back(&r);
  double sum = 0, sum2 = 0;
  int n = 0;
  for (const auto& [key, obs] : by_reflection) {
    if (obs.size() < 2) continue;
    double w = 0, wi = 0;
    for (const OutputRecord* r : obs) w += 1 / (r->sigma * r->sigma), wi += r->i / (r->sigma * r->sigma);
    for (const OutputRecord* r : obs) {
      const double d = (r->i - wi / w) / std::sqrt(r->sigma * r->sigma - 1 / w);
      sum += d, sum2 += d * d, ++n;
    }
  }
  return std::sqrt(sum2 / n - (sum / n) * (sum / n));
}

// Two sweeps of one crystal with different K and B, decay, modulation, absorption and error
// models, generated with their truth, then scaled by the program into a merged file (m.hkl)
// and, in a second run, an unmerged one (u.hkl).
struct Scaled {
  TempDir dir;
  RunResult merged, unmerged;
  TruthTable truth;
  std::vector<SynthSweep> sweeps;
  SymopList ops = xsymy(1, {50, 60, 70, 90, 90, 90}, 19).ops;

  explicit Scaled(const std::string& extra) {
    const std::string options =
        "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.5 --seed 11 --wilson-b 15 --mean-intensity 3000 "
        "--variance 1 0 --truth truth.txt --images 180 --oscillation 0.5 --multiplicity 3 " + extra +
        " --decay 0.2 0.8 --modulation 0.1 --absorption 0.15 --error-model 1.3 0.0004 "
        "-o s2.hkl --k 0.6 --b 3 --decay 0.4 1.2 --absorption 0.1 --error-model 1.1 0.0009";
    if (!testing::synthesize(dir, "s1.hkl", options)) return;
    const std::string inputs = "FRIEDEL'S_LAW=TRUE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n";
    merged = testing::run_velmar(dir, "OUTPUT_FILE=m.hkl\nMERGE=TRUE\n" + inputs);
    unmerged = testing::run_velmar(dir, "OUTPUT_FILE=u.hkl\nMERGE=FALSE\n" + inputs);
    truth = testing::read_truth(dir.file("truth.txt"));
    sweeps = {testing::read_sweep(dir.file("s1.hkl")), testing::read_sweep(dir.file("s2.hkl"))};
  }

  // The share of the gap between merging the raw data and merging with the true factors
  // that the scaled merge closes, in correlation with the true intensities.
  double gap_closed(const std::set<ObservationKey>* kept = nullptr) const {
    const double raw = correlation_after_b(merge_sweeps(sweeps, ops, true, false, kept), truth);
    const double ideal = correlation_after_b(merge_sweeps(sweeps, ops, true, true, kept), truth);
    const double scaled = correlation_after_b(merged_output(dir.read("m.hkl"), true), truth);
    std::printf("CC with the true intensities: raw %.5f, scaled %.5f, true factors %.5f\n", raw, scaled, ideal);
    return (scaled - raw) / (ideal - raw);
  }
};

TEST(ScalingRecovery, CorrectionFactorsAndErrorModelRestoreTheTruth) {
  const Scaled s("");
  ASSERT_EQ(s.merged.status, 0) << s.merged.report;
  ASSERT_EQ(s.unmerged.status, 0) << s.unmerged.report;
  const std::vector<OutputRecord> written = unmerged_output(s.dir.read("u.hkl"));
  const std::set<ObservationKey> kept = kept_observations(written);
  EXPECT_GT(s.gap_closed(), 0.80);
  EXPECT_GT(s.gap_closed(&kept), 0.85) << "the same kept observations merged raw and with the true factors";
  // ISa = 1/sqrt(a b) of the generator's error models (the input sigmas are pure counting
  // statistics, VARIANCE_MODEL= 1 0).
  auto model = table_rows(s.merged.report, "     a        b          ISa    ISa0   INPUT DATA SET");
  ASSERT_EQ(model.size(), 2u) << s.merged.report;
  const double isa1 = model["s1.hkl"][2], isa2 = model["s2.hkl"][2];
  EXPECT_NEAR(isa1 / (1 / std::sqrt(1.3 * 0.0004)), 1.0, 0.25);
  EXPECT_NEAR(isa2 / (1 / std::sqrt(1.1 * 0.0009)), 1.0, 0.25);
  const double spread = deviation_spread(written, s.ops);
  std::printf("ISa %.1f and %.1f; spread of normalised deviations %.3f\n", isa1, isa2, spread);
  EXPECT_GT(spread, 0.9);
  EXPECT_LT(spread, 1.1);
}

TEST(ScalingRecovery, GrossOutliersAreRejectedCleanObservationsKept) {
  const Scaled s("--outliers 0.003");
  ASSERT_EQ(s.unmerged.status, 0) << s.unmerged.report;
  const std::set<ObservationKey> kept = kept_observations(unmerged_output(s.dir.read("u.hkl")));
  int outliers = 0, outliers_rejected = 0, clean = 0, clean_rejected = 0;
  for (size_t k = 0; k < s.sweeps.size(); ++k)
    for (const testing::SynthRecord& r : s.sweeps[k].records) {
      const bool rejected = !kept.count(observation_key(int(k) + 1, r.h, r.k, r.l, r.x, r.y, r.z));
      (r.outlier ? outliers : clean) += 1;
      (r.outlier ? outliers_rejected : clean_rejected) += rejected;
    }
  ASSERT_GT(outliers, 50);
  EXPECT_GE(outliers_rejected, 0.9 * outliers) << outliers_rejected << " of " << outliers;
  EXPECT_LE(clean_rejected, 0.03 * clean) << clean_rejected << " of " << clean;
  EXPECT_GT(s.gap_closed(), 0.80);
}

TEST(ScalingRecovery, AnomalousDifferencesSurviveScaling) {
  TempDir dir;
  ASSERT_TRUE(testing::synthesize(dir, "s1.hkl",
                                  "--sg 19 --cell 50 60 70 90 90 90 --dmin 2.5 --seed 21 --mean-intensity 20000 "
                                  "--friedel FALSE --anomalous 0.15 --variance 1 0 --truth truth.txt --images 180 "
                                  "--oscillation 0.5 --multiplicity 4 --decay 0.2 0.8 --absorption 0.15 "
                                  "--error-model 1.2 0.0004 -o s2.hkl --k 0.8 --b 2 --absorption 0.1"));
  const RunResult r = testing::run_velmar(dir, "OUTPUT_FILE=m.hkl\nMERGE=TRUE\nFRIEDEL'S_LAW=FALSE\n"
                                               "STRICT_ABSORPTION_CORRECTION=TRUE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n");
  ASSERT_EQ(r.status, 0) << r.report;
  EXPECT_TRUE(testing::contains(r.report, " THE CALCULATIONS ASSUME         FRIEDEL'S_LAW=FALSE\n"));
  const TruthTable truth = testing::read_truth(dir.file("truth.txt"));
  const std::vector<SynthSweep> sweeps = {testing::read_sweep(dir.file("s1.hkl")), testing::read_sweep(dir.file("s2.hkl"))};
  const SymopList ops = xsymy(1, {50, 60, 70, 90, 90, 90}, 19).ops;
  const double raw = anomalous_correlation(merge_sweeps(sweeps, ops, false, false), truth);
  const double ideal = anomalous_correlation(merge_sweeps(sweeps, ops, false, true), truth);
  const double scaled = anomalous_correlation(merged_output(dir.read("m.hkl"), false), truth);
  std::printf("anomalous differences, correlation with the truth: raw %.4f, scaled %.4f, true factors %.4f\n", raw,
              scaled, ideal);
  EXPECT_GT(scaled, raw);
  EXPECT_GT(scaled, 0.95 * ideal);
}

}  // namespace
}  // namespace velmar
