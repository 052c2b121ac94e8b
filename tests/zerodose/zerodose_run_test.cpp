// Whole runs with crystals named: synthetic sweeps of one crystal whose reflections decay
// each at its own rate, the comparison with the same runs without CRYSTAL_NAME=, the report
// sections, and the decay-factor scratch file on the way out of an error.
#include "zerodose/zerodose.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "symmetry/spacegroups.hpp"
#include "synth_files.hpp"
#include "test_support.hpp"
#include "zerodose/zero_dose_support.hpp"

namespace velmar {
namespace {

using namespace velmar::testing;

#ifdef VELMAR_SYNTH_BINARY
// R = sum |I - k I_true| / sum k I_true of the weighted means of the records of an output
// file per unique reflection against the undamaged true intensities, k the least-squares scale.
double r_against_truth(const std::string& path, const TruthTable& truth, const SymopList& ops) {
  const std::vector<SynthRecord> records = read_sweep(path).records;
  const auto merged = merge(records, std::vector<float>(records.size(), 1.0f), ops, true);
  double mt = 0, tt = 0, dev = 0, sum = 0;
  for (const auto& [key, m] : merged) mt += m.i * true_intensity(truth, key), tt += std::pow(true_intensity(truth, key), 2);
  for (const auto& [key, m] : merged) {
    const double t = mt / tt * true_intensity(truth, key);
    dev += std::fabs(m.i - t), sum += t;
  }
  return dev / sum;
}
#endif

TEST(ZeroDoseRun, StrongDamageIsUndone) {
#ifndef VELMAR_SYNTH_BINARY
  GTEST_SKIP() << "generator not built";
#else
  // Two sweeps of 180 images of one crystal (P4(3)2(1)2, 2.5 A), dose 1 per image, the second
  // starting at dose 180. By the end of the second sweep the reflections have lost about a
  // quarter of their intensity at low and two thirds at high resolution, each at its own rate.
  TempDir dir;
  ASSERT_TRUE(synthesize(dir, "s1.hkl", "--dmin 2.5 --mean-intensity 100000 --seed 3 --damage 8e-4 0.014 0.007 "
                                       "--truth truth.txt --images 180 --multiplicity 8 --dose-rate 1 --starting-dose 0 "
                                       "-o s2.hkl --images 180 --multiplicity 8 --dose-rate 1 --starting-dose 180"));
  // The first sweep's values are held; the second is given a dose rate 20 % low and a
  // starting dose 30 too low.
  const RunResult a = run_velmar(dir, "OUTPUT_FILE=out.hkl\nMERGE=FALSE\nINPUT_FILE=s1.hkl\nCRYSTAL_NAME=xtal\nSTARTING_DOSE=0*\n"
                                      "DOSE_RATE=1 *\nINPUT_FILE=s2.hkl\nCRYSTAL_NAME=xtal\nSTARTING_DOSE=150\nDOSE_RATE=0.8\n");
  ASSERT_EQ(a.status, 0) << a.report;
  EXPECT_FALSE(dir.exists("VMDECAY.tmp"));

  // The report sections in the order of the stage, before the statistics; report file only.
  // The explanation between the frame and the level is fixed text: its first and last lines.
  size_t at = a.report.find("\n\n " + std::string(78, '*') +
                            "\n          RESULTS FROM ZERO-DOSE EXTRAPOLATION OF REFLECTION INTENSITIES\n " +
                            std::string(78, '*') + "\n Radiation damage can lead to localized modifications of the structure.\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(contains(a.report.substr(at), "\n To avoid overfitting the data, VELMAR starts with the hypothesis that\n"
                                            " b(h)=0 and rejects this assumption if its probability is below 10.0%.\n"));
  for (const char* title : {"CORRELATION OF COMMON DECAY-FACTORS", "X-RAY DOSE PARAMETERS USED", "STATISTICS OF 0-DOSE CORRECTED DATA",
                            "SCALING FACTORS FOR Sigma(I) AS FUNCTION", "STATISTICS OF SCALED OUTPUT DATA SET"})
    ASSERT_NE(at = a.report.find(title, at), std::string::npos) << title;
  EXPECT_FALSE(contains(a.terminal, "ZERO-DOSE") || contains(a.terminal, "!!! ERROR"));

  // The dose parameters: held values kept, the rate found within 5 %, the starting doses apart.
  EXPECT_TRUE(contains(a.report, "       0.000*      0.000       1.000*      1.000  s1.hkl\n"));
  const size_t s2 = a.report.find("  s2.hkl\n", a.report.find("X-RAY DOSE PARAMETERS USED"));
  std::string line = a.report.substr(a.report.rfind('\n', s2) + 1, s2 - a.report.rfind('\n', s2) - 1);
  std::replace(line.begin(), line.end(), '*', ' ');
  const std::vector<double> second = numbers_in(line);  // initial, refined starting dose and dose rate
  ASSERT_EQ(second.size(), 4u) << line;
  EXPECT_NEAR(second[1], 180.0, 18.0);
  EXPECT_NEAR(second[3], 1.0, 0.05);
  std::printf("refined second sweep: starting dose %.3f (true 180, given 150), dose rate %.3f (true 1, given 0.8)\n",
              second[1], second[3]);

  // The output file: the dose parameters used in its header, a decay constant (ITEM_DCY) on
  // every record; those written follow the true ones (the correction factor exp(-b dose)
  // undoes a loss exp(-b_true dose): b = -b_true).
  const std::string corrected = dir.read("out.hkl");
  EXPECT_TRUE(contains(corrected, "! ISET=  1 STARTING_DOSE= 0.000E+00 DOSE_RATE= 1.000E+00 FIRST_IMAGE=    1 CRYSTAL_NAME= xtal\n"));
  const SymopList ops = xsymy(1, Cell{78, 78, 37, 90, 90, 90}, 96).ops;
  const TruthTable truth = read_truth(dir.file("truth.txt"));
  std::map<HalfKey, double> dcy;
  std::istringstream in(corrected);
  for (std::string record; std::getline(in, record);)
    if (const std::vector<double> v = numbers_in(record); record[0] != '!' && v.size() == 11 && v[10] != 0)
      dcy[half_of(int(v[0]), int(v[1]), int(v[2]), ops, true)] = v[10];
  ASSERT_GT(dcy.size(), truth.size() / 2);
  Pairs decay;
  for (const auto& [key, b] : dcy) decay.add(b, -truth.at({key[0], key[1], key[2]}).b);
  const double r = decay.r();
  EXPECT_GT(r, 0.6);
  std::printf("%zu of %zu reflections corrected; correlation of the decay constants with the true ones %.3f\n",
              dcy.size(), truth.size(), r);

  // Merged, the corrected data agree with the undamaged intensities better than the same
  // run without crystals does.
  const double r_corrected = r_against_truth(dir.file("out.hkl"), truth, ops);
  ASSERT_EQ(run_velmar(dir, "OUTPUT_FILE=out.hkl\nMERGE=FALSE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n").status, 0);
  const double r_plain = r_against_truth(dir.file("out.hkl"), truth, ops);
  EXPECT_LT(r_corrected, 0.75 * r_plain);
  std::printf("R against the undamaged intensities: %.4f with zero-dose correction, %.4f without\n", r_corrected, r_plain);
#endif
}

TEST(ZeroDoseRun, NoiseIsNotFitted) {
#ifndef VELMAR_SYNTH_BINARY
  GTEST_SKIP() << "generator not built";
#else
  // Weak intensities, no radiation damage at all: every accepted decay constant fits noise.
  // The test of the slope takes |t| (both signs), so about twice the level passes it.
  TempDir dir;
  ASSERT_TRUE(synthesize(dir, "s1.hkl", "--dmin 2.5 --mean-intensity 50 --seed 5 --images 180 --multiplicity 6 "
                                       "-o s2.hkl --images 180 --multiplicity 6"));
  const RunResult r = run_velmar(dir, "0-DOSE_SIGNIFICANCE_LEVEL=0.05\nOUTPUT_FILE=out.hkl\n"
                                      "INPUT_FILE=s1.hkl\nCRYSTAL_NAME=x\nINPUT_FILE=s2.hkl\nCRYSTAL_NAME=x\nSTARTING_DOSE=180\n");
  ASSERT_EQ(r.status, 0) << r.report;
  EXPECT_TRUE(contains(r.report, "rejects this assumption if its probability is below  5.0%.\n"));
  const size_t total = r.report.find("\n    total", r.report.find("STATISTICS OF 0-DOSE CORRECTED DATA FROM EACH CRYSTAL"));
  ASSERT_NE(total, std::string::npos) << r.report;
  const std::vector<double> counts = numbers_in(r.report.substr(total + 10, 30));  // NUNIQUE, N0-DOSE
  ASSERT_GE(counts.size(), 2u);
  EXPECT_GT(counts[0], 4000);
  EXPECT_GT(counts[1] / counts[0], 0.06);
  EXPECT_LT(counts[1] / counts[0], 0.12);
  std::printf("without damage %g of %g reflections corrected (fraction %.3f at the level 0.05)\n", counts[1], counts[0],
              counts[1] / counts[0]);
#endif
}

TEST(ZeroDoseRun, WithoutCrystalNamesNothingChanges) {
#ifndef VELMAR_SYNTH_BINARY
  GTEST_SKIP() << "generator not built";
#else
  // The dose keywords alone change nothing: the same report (but the echo of the cards and
  // the times) and byte-identical output files.
  TempDir dir;
  ASSERT_TRUE(synthesize(dir, "s1.hkl", "--dmin 3 --seed 9 --damage 1e-3 0.01 0.005 --images 90 --dose-rate 1 "
                                       "-o s2.hkl --images 90 --dose-rate 1 --starting-dose 90"));
  auto run = [&](const std::string& dose1, const std::string& dose2) {
    const RunResult r = run_velmar(dir, "OUTPUT_FILE=merged.hkl\nMERGE=TRUE\nINPUT_FILE=s1.hkl\n" + dose1 +
                                            "OUTPUT_FILE=unmerged.hkl\nMERGE=FALSE\nINPUT_FILE=s2.hkl\n" + dose2);
    std::istringstream in(r.report);
    std::string kept = std::to_string(r.status) + dir.read("merged.hkl") + dir.read("unmerged.hkl");
    for (std::string line; std::getline(in, line);)
      if (!contains(line, "_DOSE=") && !contains(line, "DOSE_RATE=") && !contains(line, " sec")) kept += line + "\n";
    return kept;
  };
  const std::string plain = run("", "");
  EXPECT_TRUE(plain.starts_with("0") && !contains(plain, "ITEM_DCY"));
  EXPECT_EQ(run("STARTING_DOSE=3*\nDOSE_RATE=2\n", "STARTING_DOSE=100\nDOSE_RATE=2*\n"), plain);
#endif
}

TEST(ZeroDoseRun, TheScratchFileGoesWithAnError) {
  // The report file cannot be written (a full disk): the stage stops after writing the
  // decay-factor file, which must not stay behind.
  std::FILE* full = std::fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  std::vector<Measured> m;
  for (int h = 1; h <= 3; ++h)
    for (int set = 0; set < 2; ++set) append(m, decaying(set, h, 0, 0, 1000, -0.01f, 0, 1, images(1, 10, 6), 0.002f));
  TestRun r = dose_run(-1, {{"A"}, {"A"}}, m);
  TempDir dir;
  const std::vector<float> shells = {2.0f};
  const std::string error =
      stop_text([&] { zerodose(Report{full, nullptr}, r.tables, r.unique, r.obs, shells, dir.file("VMDECAY.tmp")); });
  std::fclose(full);
  EXPECT_EQ(error, " !!! ERROR !!! CANNOT WRITE FILE VELMAR.LP");
  EXPECT_FALSE(dir.exists("VMDECAY.tmp"));
}

}  // namespace
}  // namespace velmar
