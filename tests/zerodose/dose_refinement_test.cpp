// Refinement of dose rates and starting doses, their failure blocks and the dose table.
#include "zerodose/dose_refinement.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "zerodose/zero_dose_support.hpp"

namespace velmar {
namespace {

using testing::CapturedReport;
using testing::decaying;
using testing::DoseSet;
using testing::images;
using testing::Measured;
using testing::TestRun;

// Records of decay factors b = beta rho_k (beta a different decay per reflection), every
// record holding the data sets listed in its `members` (all of them when empty).
DecayRecords records_for(const std::vector<double>& rho, int count, const std::vector<std::vector<int>>& members = {}) {
  DecayRecords r;
  for (int n = 0; n < count; ++n) {
    const double beta = -0.001 * (1.0 + 0.37 * (n % 7));
    std::vector<int> sets = members.empty() ? std::vector<int>{} : members[static_cast<size_t>(n) % members.size()];
    if (sets.empty())
      for (int k = 0; k < static_cast<int>(rho.size()); ++k) sets.push_back(k);
    for (const int k : sets)
      r.add(k, static_cast<float>(beta * rho[static_cast<size_t>(k)]), static_cast<float>(0.1 * std::fabs(beta)));
    r.close_record();
  }
  return r;
}

TEST(RateFactors, RecoverTheRatesOfTheRecords) {
  struct Case {
    const char* what;
    std::vector<double> truth;
    std::vector<int> hold;
    std::vector<double> rates;
    int records;
    int ier;
    std::vector<double> rho;
  };
  const std::vector<Case> cases = {
      {"no hold: relative to the first", {1, 1.25, 0.8}, {0, 0, 0}, {1, 1, 1}, 12, 0, {1, 1.25, 0.8}},
      {"one held: relative to it", {1, 1.25, 0.8}, {0, 1, 0}, {1, 1, 1}, 12, 0, {0.8, 1, 0.64}},
      {"two held: fixed, the others free", {1, 1.25, 1}, {1, 0, 1}, {1, 1, 1}, 12, 0, {1, 1.25, 1}},
      {"a rate far below the others", {1, 0.02}, {0, 0}, {1, 1}, 5, 0, {1, 0.02}},
      {"every rate held: nothing to refine", {1, 1.25, 0.8}, {1, 1, 1}, {1, 1, 1}, 12, 0, {1, 1, 1}},
      {"a rate not positive", {1, 1.25, 0.8}, {0, 0, 0}, {1, 0, 1}, 12, -2, {1, 1, 1}},
      {"fewer records than data sets", {1, 1.25, 0.8}, {0, 0, 0}, {1, 1, 1}, 2, -3, {1, 1, 1}},
      {"decay factors all zero: rank too low", {0, 0}, {0, 0}, {1, 1}, 4, -1, {1, 1}},
  };
  for (const Case& c : cases) {
    const RateFactors f = refine_rate_factors(records_for(c.truth, c.records), c.hold, c.rates);
    EXPECT_EQ(f.ier, c.ier) << c.what;
    ASSERT_EQ(f.rho.size(), c.rho.size()) << c.what;
    for (size_t k = 0; k < c.rho.size(); ++k) EXPECT_NEAR(f.rho[k], c.rho[k], 1e-4 * c.rho[k]) << c.what << " " << k;
  }
}

TEST(RateFactors, NeverConvergedBeforeTheThirdCycleShiftsShortenedBeforeZero) {
  const RateFactors f = refine_rate_factors(records_for({1, 1, 1}, 6), std::vector<int>{0, 0, 0}, std::vector<double>{1, 1, 1});
  EXPECT_EQ(std::pair(f.ier, f.cycles), std::pair(0, 3));  // the shifts are zero from the first cycle on
  // The largest relative decrease q: at q >= 1 every shift is divided by q + 0.00001.
  for (const auto& [d, rho, scale] : {std::tuple{std::vector<double>{-2.0, 0.5}, std::vector<double>{1, 1}, 1 / 2.00001},
                                      {{-0.3, 0.9}, {0.3, 3.0}, 1 / 1.00001}, {{-0.5, 0.3}, {1.0, 0.5}, 1.0}}) {
    std::vector<double> shifted = d;
    const double largest = limit_rate_shifts(shifted, rho);
    EXPECT_NEAR(shifted[0], d[0] * scale, 1e-12) << d[0];
    EXPECT_NEAR(shifted[1], d[1] * scale, 1e-12) << d[0];
    EXPECT_NEAR(largest, std::max(std::fabs(d[0] / rho[0]), std::fabs(d[1] / rho[1])) * scale, 1e-12) << d[0];
  }
}

TEST(DecayRecords, LinkingOfTheDataSetsOfACrystal) {
  const struct {
    const char* what;
    int n;
    std::vector<std::vector<int>> members;
    bool linked;
  } cases[] = {
      {"two pairs apart", 4, {{0, 1}, {2, 3}}, false},
      {"a chain listed backwards: labels travel over several sweeps", 4, {{2, 3}, {1, 2}, {0, 1}}, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(decay_factors_linked(records_for(std::vector<double>(size_t(c.n), 1.0), int(c.members.size()), c.members), c.n),
              c.linked) << c.what;
}

// Reflections (h, 0, 0), h = 1..30, each decaying at its own rate, observed in every data set
// on images 1 to 50 (rate 1); `truth` are the true starting doses.
std::vector<Measured> decaying_sweeps(const std::vector<float>& truth) {
  std::vector<Measured> m;
  for (int h = 1; h <= 30; ++h)
    for (size_t j = 0; j < truth.size(); ++j)
      testing::append(m, decaying(int(j), h, 0, 0, 1000.0f + 40.0f * float(h), -0.002f - 0.0003f * float(h), truth[j], 1.0f,
                                  images(1.0f + float(j), 7, 7), 0.003f));
  return m;
}

TEST(StartingDoses, ShiftsFromTheInterceptsOfTheDecayLines) {
  struct Case {
    const char* what;
    std::vector<float> truth, given;
    std::vector<int> hold;
    std::vector<double> shift;
  };
  const std::vector<Case> cases = {
      {"no hold: the first keeps its value", {0, 100}, {0, 60}, {0, 0}, {0, 40}},
      {"the one held keeps its value", {0, 100}, {0, 60}, {0, 1}, {-40, 0}},
      {"two held stay fixed", {0, 100, 200}, {0, 60, 200}, {1, 0, 1}, {0, 40, 0}},
  };
  for (const Case& c : cases) {
    std::vector<DoseSet> sets;
    for (size_t j = 0; j < c.given.size(); ++j) sets.push_back({"A", c.given[j], 1.0f, c.hold[j], 0});
    TestRun r = testing::dose_run(-1, sets, decaying_sweeps(c.truth));
    const std::vector<float> shells = {2.0f};
    const ZeroDoseData d = testing::zero_dose_data(r, shells);
    const std::vector<char> refine = {1};
    const std::vector<StartingDoseSums> sums =
        starting_dose_sums(d, dose_parameters(r.tables), log_moment_table(), 0.1f, refine);
    ASSERT_EQ(sums.size(), 1u);
    EXPECT_EQ(sums[0].reflections, 30) << c.what;
    const StartingDoseShifts s = solve_starting_doses(sums[0], c.hold);
    EXPECT_EQ(s.ier, 0) << c.what;
    for (size_t k = 0; k < c.shift.size(); ++k) EXPECT_NEAR(s.shift[k], c.shift[k], 1.0) << c.what << " " << k;
  }
}

TEST(DoseRefinement, FailuresFallBackToTheGivenValues) {
  // Crystal A: three data sets. No reflection decays.
  std::vector<Measured> m = decaying(0, 1, 2, 3, 1000, 0.0f, 0, 1, images(1, 5, 6), 0.01f);
  const std::vector<DoseSet> sets = {{"A", 0, 1}, {"A", 50, 1.5f, 1, 0}, {"A", 100, 2, 0, 1}};
  const std::string head = "\n\n           X-RAY DOSE PARAMETERS USED FOR EACH INPUT DATA SET\n"
                           "           --------------------------------------------------\n\n\n"
                           " CRYSTAL_NAME= A\n"
                           "        STARTING_DOSE             DOSE_RATE       NAME OF INPUT FILE\n"
                           "     initial    refined      initial    refined\n\n"
                           "       0.000       0.000       1.000       1.000  set1.hkl\n"
                           "      50.000*     50.000       1.500       1.500  set2.hkl\n"
                           "     100.000     100.000       2.000*      2.000  set3.hkl\n";
  const std::string rate_failure =
      " !!! ERROR !!! UNABLE TO REFINE \"DOSE_RATE=\" PARAMETERS FOR\n"
      "               CRYSTAL_NAME= A\n"
      "               RETURN CODE IS  IER= -3\n"
      "               -1: rank of normal matrix lower than expected\n"
      "               -2: non-positive starting values \"DOSE_RATE=\"\n"
      "               -3: not enough common decay-factors\n"
      "               -4: refinement did not converge\n"
      "               THE UNREFINED PARAMETERS WILL BE USED INSTEAD.\n";
  const std::string link_failure =
      " !!! ERROR !!! INSUFFICIENT NUMBER OF COMMON DECAY-FACTORS BETWEEN\n"
      "               DATA SETS OF CRYSTAL_NAME= A\n"
      "               UNREFINED \"DOSE_RATE=\" PARAMETERS WILL BE USED INSTEAD.\n";
  const std::string start_failure =
      " !!! ERROR !!! UNABLE TO REFINE \"STARTING_DOSE=\" PARAMETERS FOR\n"
      "               CRYSTAL_NAME= A\n"
      "               THE UNREFINED PARAMETERS WILL BE USED INSTEAD.\n";
  struct Case {
    const char* what;
    std::vector<std::vector<int>> members;
    int count;
    std::string blocks;
  };
  const std::vector<Case> cases = {
      {"linked, but fewer records than data sets", {{0, 1, 2}, {0, 1}}, 2, rate_failure + start_failure},
      {"the third data set is not linked", {{0, 1}}, 5, link_failure + start_failure},
  };
  for (const Case& c : cases) {
    TestRun r = testing::dose_run(-1, sets, m);
    const std::vector<float> shells = {2.0f};
    const ZeroDoseData d = testing::zero_dose_data(r, shells);
    DoseParameters dose = dose_parameters(r.tables);
    CapturedReport cap;
    refine_dose_parameters(cap.rep, d, dose, records_for({1, 1, 1}, c.count, c.members), log_moment_table(), 0.1f);
    EXPECT_EQ(cap.file(), c.blocks + head) << c.what;
    EXPECT_EQ(cap.terminal(), c.blocks) << c.what;
    EXPECT_EQ(dose.dose_rate, (std::vector<double>{1, 1.5, 2})) << c.what;
    EXPECT_EQ(dose.starting_dose, (std::vector<double>{0, 50, 100})) << c.what;
  }
}

}  // namespace
}  // namespace velmar
