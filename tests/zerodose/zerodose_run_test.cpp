// Whole runs with crystals named: synthetic sweeps of one crystal whose reflections decay
// each at its own rate, the comparison with the same runs without CRYSTAL_NAME=, the report
// sections, and the decay-factor scratch file on the way out of an error.
#include "zerodose/zerodose.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/spacegroups.hpp"
#include "synth_files.hpp"
#include "test_support.hpp"
#include "zerodose/zero_dose_support.hpp"

namespace velmar {
namespace {

using testing::contains;
using testing::RunResult;
using testing::TempDir;

#ifdef VELMAR_SYNTH_BINARY
bool generate(const TempDir& dir, const std::string& options) {
  return testing::run_in(dir, std::string("'") + VELMAR_SYNTH_BINARY + "' " + options + " 2>/dev/null").status == 0;
}
#endif

RunResult run(const TempDir& dir, const std::string& control) {
  dir.write("VELMAR.INP", control);
  return testing::run_velmar(dir);
}

// Two sweeps of 180 images of one crystal (P4(3)2(1)2, 2.5 A), dose 1 per image, the second
// starting at dose 180. Strong low-resolution intensities; by the end of the second sweep
// the reflections have lost about a quarter of their intensity at low and two thirds at
// high resolution, each at its own rate.
const char kStrong[] =
    "--dmin 2.5 --mean-intensity 100000 --seed 3 --damage 8e-4 0.014 0.007 --truth truth.txt "
    "-o s1.hkl --images 180 --multiplicity 8 --dose-rate 1 --starting-dose 0 "
    "-o s2.hkl --images 180 --multiplicity 8 --dose-rate 1 --starting-dose 180";

// One record of an unmerged output file with the decay constant.
struct OutRecord {
  int h, k, l, set;
  float i, sigma, dcy;
};

std::vector<OutRecord> read_output(const std::string& path) {
  std::vector<OutRecord> r;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("!")) continue;
    const std::vector<double> v = testing::numbers_in(line);
    if (v.size() < 10) continue;
    r.push_back({int(v[0]), int(v[1]), int(v[2]), int(v[9]), float(v[3]), float(v[4]), v.size() > 10 ? float(v[10]) : 0.0f});
  }
  return r;
}

// R = sum |I - k I_true| / sum k I_true of the weighted means of the output records per
// unique reflection against the undamaged true intensities, k the least-squares scale.
double r_against_truth(const std::vector<OutRecord>& out, const testing::TruthTable& truth, const SymopList& ops) {
  std::map<testing::HalfKey, std::pair<double, double>> sums;
  for (const OutRecord& o : out) {
    if (o.sigma <= 0) continue;
    auto& s = sums[testing::half_of(o.h, o.k, o.l, ops, true)];
    const double w = 1.0 / (double(o.sigma) * o.sigma);
    s.first += w, s.second += w * o.i;
  }
  double mt = 0, tt = 0;
  std::vector<std::pair<double, double>> pairs;
  for (const auto& [key, s] : sums) {
    const double t = testing::true_intensity(truth, key), m = s.second / s.first;
    pairs.emplace_back(m, t);
    mt += m * t, tt += t * t;
  }
  const double k = mt / tt;
  double dev = 0, sum = 0;
  for (const auto& [m, t] : pairs) dev += std::fabs(m - k * t), sum += k * t;
  return dev / sum;
}

double correlation(const std::vector<std::pair<double, double>>& xy) {
  double sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
  const double n = double(xy.size());
  for (const auto& [x, y] : xy) sx += x, sy += y, sxx += x * x, sxy += x * y, syy += y * y;
  return (sxy - sx * sy / n) / std::sqrt((sxx - sx * sx / n) * (syy - sy * sy / n));
}

// The numbers of the dose-table line of `file` ("*" marks removed).
std::vector<double> dose_line(const std::string& report, const std::string& file) {
  const size_t table = report.find("X-RAY DOSE PARAMETERS USED FOR EACH INPUT DATA SET");
  const size_t end = report.find("  " + file + "\n", table);
  if (table == std::string::npos || end == std::string::npos) return {};
  std::string line = report.substr(report.rfind('\n', end) + 1, end - report.rfind('\n', end) - 1);
  std::replace(line.begin(), line.end(), '*', ' ');
  return testing::numbers_in(line);
}

std::string total_line(const std::string& report) {
  const size_t table = report.find("STATISTICS OF 0-DOSE CORRECTED DATA FROM EACH CRYSTAL");
  const size_t total = report.find("\n    total", table);
  if (table == std::string::npos || total == std::string::npos) return {};
  return report.substr(total + 1, report.find('\n', total + 1) - total - 1);
}

const char kExplanation[] =
    "\n\n ******************************************************************************\n"
    "          RESULTS FROM ZERO-DOSE EXTRAPOLATION OF REFLECTION INTENSITIES\n"
    " ******************************************************************************\n"
    " Radiation damage can lead to localized modifications of the structure.\n"
    " To correct for this effect, VELMAR modifies the intensity measurements\n"
    " I(h,i) by individual correction factors,\n\n"
    "                      exp{-b(h)*dose(h,i)}\n\n"
    " where h,i denotes the i-th observation with unique reflection indices\n"
    " h, and dose(h,i) the X-ray dose accumulated by the crystal when the\n"
    " reflection was recorded. Assuming a constant dose for each image\n"
    " (dose_rate), the accumulated dose when recording image_number(i), on\n"
    " which I(h,i) was observed, is then\n\n"
    " dose(h,i) = starting_dose + dose_rate * (image_number(i)-first_image)\n\n"
    " The decay factor b(h) is determined from the assumption that symmetry\n"
    " related reflections in a data set taken from the same crystal should\n"
    " have the same intensity after correction. Moreover, b(h) is assumed to\n"
    " be the same for Friedel-pairs and independent of the X-ray wavelength.\n\n"
    " To avoid overfitting the data, VELMAR starts with the hypothesis that\n"
    " b(h)=0 and rejects this assumption if its probability is below 10.0%.\n";

TEST(ZeroDoseRun, StrongDamageIsUndone) {
#ifndef VELMAR_SYNTH_BINARY
  GTEST_SKIP() << "generator not built";
#else
  TempDir dir;
  ASSERT_TRUE(generate(dir, kStrong));
  // The first sweep's values are held; the second is given a dose rate 20 % low and a
  // starting dose 30 too low.
  const RunResult a = run(dir,
                          "OUTPUT_FILE=out.hkl\nMERGE=FALSE\n"
                          "INPUT_FILE=s1.hkl\nCRYSTAL_NAME=xtal\nSTARTING_DOSE=0*\nDOSE_RATE=1 *\n"
                          "INPUT_FILE=s2.hkl\nCRYSTAL_NAME=xtal\nSTARTING_DOSE=150\nDOSE_RATE=0.8\n");
  ASSERT_EQ(a.status, 0) << a.report;
  EXPECT_FALSE(dir.exists("VMDECAY.tmp"));
  const std::vector<OutRecord> corrected = read_output(dir.file("out.hkl"));
  const std::string header = dir.read("out.hkl").substr(0, 2000);

  // The dose parameters: held values kept, the rate found within 5 %, the starting doses apart.
  const std::vector<double> first = dose_line(a.report, "s1.hkl"), second = dose_line(a.report, "s2.hkl");
  ASSERT_EQ(first.size(), 4u) << a.report;
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(first, (std::vector<double>{0, 0, 1, 1}));
  EXPECT_TRUE(contains(a.report, "       0.000*      0.000       1.000*      1.000  s1.hkl\n"));
  EXPECT_NEAR(second[3], 1.0, 0.05);
  EXPECT_GT(second[1], 0.9 * 180.0);
  EXPECT_LT(second[1], 1.1 * 180.0);
  std::printf("refined second sweep: starting dose %.3f (true 180, given 150), dose rate %.3f (true 1, given 0.8)\n",
              second[1], second[3]);

  // The decay constants written follow the true ones (the correction factor exp(-b dose)
  // undoes a loss exp(-b_true dose): b = -b_true).
  Cell cell{78, 78, 37, 90, 90, 90};
  const SymopList ops = xsymy(1, cell, 96).ops;
  const testing::TruthTable truth = testing::read_truth(dir.file("truth.txt"));
  std::map<testing::HalfKey, float> dcy;
  for (const OutRecord& o : corrected)
    if (o.dcy != 0.0f) dcy[testing::half_of(o.h, o.k, o.l, ops, true)] = o.dcy;
  std::vector<std::pair<double, double>> xy;
  for (const auto& [key, b] : dcy) xy.emplace_back(b, -truth.at({key[0], key[1], key[2]}).b);
  ASSERT_GT(xy.size(), truth.size() / 2);
  const double r = correlation(xy);
  EXPECT_GT(r, 0.6);
  std::printf("%zu of %zu reflections corrected; correlation of the decay constants with the true ones %.3f\n",
              xy.size(), truth.size(), r);

  // Merged, the corrected data agree with the undamaged intensities better than the same
  // run without crystals does.
  const RunResult b = run(dir, "OUTPUT_FILE=out.hkl\nMERGE=FALSE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n");
  ASSERT_EQ(b.status, 0);
  const double r_corrected = r_against_truth(corrected, truth, ops);
  const double r_plain = r_against_truth(read_output(dir.file("out.hkl")), truth, ops);
  EXPECT_LT(r_corrected, 0.75 * r_plain);
  std::printf("R against the undamaged intensities: %.4f with zero-dose correction, %.4f without\n", r_corrected,
              r_plain);

  // The report sections in the order of the stage, before the statistics; the output header.
  size_t at = a.report.find(kExplanation);
  for (const char* title : {"CORRELATION OF COMMON DECAY-FACTORS", "X-RAY DOSE PARAMETERS USED",
                            "STATISTICS OF 0-DOSE CORRECTED DATA", "SCALING FACTORS FOR Sigma(I) AS FUNCTION",
                            "STATISTICS OF SCALED OUTPUT DATA SET"}) {
    ASSERT_NE(at, std::string::npos) << title;
    at = a.report.find(title, at);
  }
  EXPECT_NE(at, std::string::npos);
  EXPECT_FALSE(contains(a.terminal, "ZERO-DOSE"));  // the sections are for the report file
  EXPECT_FALSE(contains(a.terminal, "!!! ERROR"));
  EXPECT_TRUE(contains(header, "!\n!Reflections of the following input data sets were corrected\n"
                               "!individually for radiation damage.\n"
                               "! ISET=  1 STARTING_DOSE= 0.000E+00 DOSE_RATE= 1.000E+00 FIRST_IMAGE=    1 CRYSTAL_NAME= xtal\n"
                               "! ISET=  2 STARTING_DOSE="));
  EXPECT_TRUE(contains(header, "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=  11\n"));
  EXPECT_TRUE(contains(header, "!ITEM_DCY=11\n"));
#endif
}

TEST(ZeroDoseRun, NoiseIsNotFitted) {
#ifndef VELMAR_SYNTH_BINARY
  GTEST_SKIP() << "generator not built";
#else
  // Weak intensities, no radiation damage at all: every accepted decay constant fits noise.
  // The test of the slope takes |t| (both signs), so about twice the level passes it.
  TempDir dir;
  ASSERT_TRUE(generate(dir, "--dmin 2.5 --mean-intensity 50 --seed 5 "
                            "-o s1.hkl --images 180 --multiplicity 6 -o s2.hkl --images 180 --multiplicity 6"));
  const RunResult r = run(dir,
                          "0-DOSE_SIGNIFICANCE_LEVEL=0.05\nOUTPUT_FILE=out.hkl\n"
                          "INPUT_FILE=s1.hkl\nCRYSTAL_NAME=x\nINPUT_FILE=s2.hkl\nCRYSTAL_NAME=x\nSTARTING_DOSE=180\n");
  ASSERT_EQ(r.status, 0) << r.report;
  EXPECT_TRUE(contains(r.report, "rejects this assumption if its probability is below  5.0%.\n"));
  const std::vector<double> total = testing::numbers_in(total_line(r.report).substr(9));
  ASSERT_EQ(total.size(), 5u) << r.report;
  const double fraction = total[1] / total[0];
  EXPECT_GT(total[0], 4000);
  EXPECT_GT(fraction, 0.06);
  EXPECT_LT(fraction, 0.12);
  std::printf("without damage %g of %g reflections corrected (fraction %.3f at the level 0.05)\n", total[1], total[0],
              fraction);
#endif
}

TEST(ZeroDoseRun, WithoutCrystalNamesNothingChanges) {
#ifndef VELMAR_SYNTH_BINARY
  GTEST_SKIP() << "generator not built";
#else
  // The dose keywords alone change nothing: same report (but the echo of the cards and the
  // times) and byte-identical output files.
  TempDir dir;
  ASSERT_TRUE(generate(dir, "--dmin 3 --seed 9 --damage 1e-3 0.01 0.005 -o s1.hkl --images 90 --dose-rate 1 "
                            "-o s2.hkl --images 90 --dose-rate 1 --starting-dose 90"));
  auto control = [](const std::string& dose1, const std::string& dose2) {
    return "OUTPUT_FILE=merged.hkl\nMERGE=TRUE\nINPUT_FILE=s1.hkl\n" + dose1 +
           "OUTPUT_FILE=unmerged.hkl\nMERGE=FALSE\nINPUT_FILE=s2.hkl\n" + dose2;
  };
  const RunResult plain = run(dir, control("", ""));
  ASSERT_EQ(plain.status, 0) << plain.report;
  const std::string merged = dir.read("merged.hkl"), unmerged = dir.read("unmerged.hkl");
  const RunResult dosed = run(dir, control("STARTING_DOSE=3*\nDOSE_RATE=2\n", "STARTING_DOSE=100\nDOSE_RATE=2*\n"));
  ASSERT_EQ(dosed.status, 0);
  EXPECT_EQ(dir.read("merged.hkl"), merged);
  EXPECT_EQ(dir.read("unmerged.hkl"), unmerged);
  auto body = [](const std::string& report) {
    std::istringstream in(report);
    std::string kept;
    for (std::string line; std::getline(in, line);)
      if (!contains(line, "_DOSE=") && !contains(line, "DOSE_RATE=") && !contains(line, " sec")) kept += line + "\n";
    return kept;
  };
  EXPECT_EQ(body(dosed.report), body(plain.report));
  EXPECT_FALSE(contains(dosed.report, "ZERO-DOSE"));
  EXPECT_FALSE(contains(unmerged, "ITEM_DCY"));
#endif
}

TEST(ZeroDoseRun, TheScratchFileGoesWithAnError) {
  // The report file cannot be written (a full disk): the stage stops after writing the
  // decay-factor file, which must not stay behind.
  std::FILE* full = std::fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  std::vector<testing::Measured> m;
  for (int h = 1; h <= 3; ++h)
    for (int set = 0; set < 2; ++set) {
      const std::vector<testing::Measured> o =
          testing::decaying(set, h, 0, 0, 1000, -0.01f, 0, 1, testing::images(1, 10, 6), 0.002f);
      m.insert(m.end(), o.begin(), o.end());
    }
  testing::TestRun r = testing::dose_run(-1, {{"A"}, {"A"}}, m);
  TempDir dir;
  const std::string scratch = dir.file("VMDECAY.tmp");
  const Report rep{full, nullptr};
  const std::vector<float> shells = {2.0f};
  std::string error;
  try {
    zerodose(rep, r.tables, r.unique, r.obs, shells, scratch);
  } catch (const VelmarError& e) {
    error = e.what();
  }
  std::fclose(full);
  EXPECT_EQ(error, " !!! ERROR !!! CANNOT WRITE FILE VELMAR.LP");
  EXPECT_FALSE(dir.exists("VMDECAY.tmp"));
}

}  // namespace
}  // namespace velmar
