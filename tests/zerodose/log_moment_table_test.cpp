// The tabulated moments of ln J against trunclg itself.
#include "zerodose/log_moment_table.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

namespace velmar {
namespace {

TEST(LogMomentTable, AgreesWithTrunclgOverTheTabulatedRange) {
  const LogMomentTable table = log_moment_table();
  double worst_mean = 0.0, worst_sd = 0.0;
  for (const float sigma : {0.03f, 1.0f, 37.5f, 2.0e4f}) {
    // Ratios from -20 to 2E6, stepping irregularly so that they fall between nodes.
    for (double ratio = -19.99; ratio < 2.0e6; ratio = ratio < 10.0 ? ratio + 0.0731 : ratio * 1.37) {
      const float intensity = static_cast<float>(ratio) * sigma;
      const LogMoments direct = trunclg(intensity, sigma), looked_up = trunclg_lookup(table, intensity, sigma);
      ASSERT_GT(looked_up.sd, 0.0f) << ratio;
      // Beyond I/Sigma of a few thousand the sd falls below the spacing of single-precision
      // numbers near the mean; the mean can then only agree to its last bits.
      const double ulp = 4.0 * std::fabs(direct.mean) * std::numeric_limits<float>::epsilon();
      worst_mean = std::max(worst_mean, std::max(std::fabs(looked_up.mean - direct.mean) - ulp, 0.0) / direct.sd);
      worst_sd = std::max(worst_sd, std::fabs(looked_up.sd / direct.sd - 1.0));
    }
  }
  // trunclg itself is good to about 1 % of the sd at low I/Sigma (its own test); the table
  // follows it far more closely than that.
  EXPECT_LT(worst_mean, 3e-3);
  EXPECT_LT(worst_sd, 2e-3);
}

TEST(LogMomentTable, OutsideTheTableTrunclgAnswers) {
  // Without a usable sigma or intensity there is no point: mean 0, sd -1.
  const LogMomentTable table = log_moment_table();
  const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
  for (const auto& [i, sigma, usable] : {std::tuple{-500.0f, 10.0f, true}, {-21.0f, 1.0f, true}, {3.0e7f, 10.0f, true},
                                         {5.0f, 0.0f, false}, {0.0f, 0.0f, false}, {5.0f, -2.0f, false},
                                         {5.0f, nan, false}, {inf, 1.0f, false}, {nan, 1.0f, false}}) {
    const LogMoments direct = trunclg(i, sigma), looked_up = trunclg_lookup(table, i, sigma);
    EXPECT_EQ(std::pair(looked_up.mean, looked_up.sd), std::pair(direct.mean, direct.sd)) << i << " " << sigma;
    EXPECT_TRUE(usable ? direct.sd > 0.0f : direct.mean == 0.0f && direct.sd == -1.0f) << i << " " << sigma;
  }
}

}  // namespace
}  // namespace velmar
