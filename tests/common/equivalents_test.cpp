// Gathering the equivalent observations of a unique reflection: scaled values, the misfit
// mark of the scaling and the error model.
#include "common/equivalents.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "statistics/scaled_data.hpp"

namespace velmar {
namespace {

using testing::make_run;

TEST(Equivalents, GatherHonoursFactorsMisfitsAndErrorModel) {
  // P1: (1,2,3) twice in data set 1 and once in data set 2, (2,0,0) once in each.
  testing::TestRun r = make_run(1, {10, 10, 10, 90, 90, 90}, {{"o", 1}}, {{"a", 1}, {"b", 1}},
                                {{0, 1, 2, 3, 100, 10, {}, 2.0f}, {0, -1, -2, -3, 90, 10}, {1, 1, 2, 3, 80, 5},
                                 {0, 2, 0, 0, 5, 1}, {1, 2, 0, 0, 6, -2}});
  const std::vector<int> sets{0, 1};
  const auto entry = [&](int h) { size_t u = 0; while (r.unique.uniq[u].h != h) ++u; return u; };
  const size_t u = entry(1);
  Equivalents eq(r.unique.max_observations);
  ASSERT_TRUE(gather_equivalents(r.unique, r.obs, sets, u, eq));
  ASSERT_EQ(eq.n, 3u);
  // Data set order, the "-" observation first within data set 1 (keys sort by isym).
  EXPECT_EQ((std::vector<float>{eq.intensity[0], eq.intensity[1], eq.intensity[2], eq.sigma[0], eq.sigma[1], eq.sigma[2]}),
            (std::vector<float>{90, 200, 80, 10, 20, 5}));
  EXPECT_EQ(eq.set[2], 1);

  const size_t misfit = static_cast<size_t>(eq.index[1]);
  r.obs.misfit[misfit] = 1;
  ASSERT_TRUE(gather_equivalents(r.unique, r.obs, sets, u, eq));
  EXPECT_EQ(eq.sigma[1], -20.0f) << "a misfit counts as rejected, its magnitude kept";
  ASSERT_TRUE(gather_equivalents(r.unique, r.obs, sets, u, eq, {{}, true}));
  EXPECT_EQ(eq.sigma[1], 20.0f) << "unless the caller keeps misfits";

  // Error model a = 2, b = 0.01 for data set 2 only: sqrt(2 (25 + 0.01 80^2)) = sqrt(178).
  const std::vector<ErrorModel> model{{1.0f, 0.0f}, {2.0f, 0.01f}};
  ASSERT_TRUE(gather_equivalents(r.unique, r.obs, sets, u, eq, {model, false}));
  EXPECT_EQ(std::make_pair(eq.sigma[0], eq.sigma[2]), std::make_pair(10.0f, std::sqrt(178.0f)));

  // A negative input sigma stays rejected whatever the model.
  ASSERT_TRUE(gather_equivalents(r.unique, r.obs, sets, entry(2), eq, {model, false}));
  EXPECT_TRUE(eq.sigma[0] > 0.0f && eq.sigma[1] < 0.0f);
}

// The error-model sigma itself is checked through the gathering above; no sigma, or a root
// argument below zero, gives none.
TEST(Equivalents, GetesdWithoutAUsableSigma) {
  EXPECT_EQ(std::make_pair(getesd(100.0f, 0.0f, {1.0f, 0.0f}), getesd(100.0f, 10.0f, {1.0f, -0.02f})), std::make_pair(-1.0f, -1.0f));
}

}  // namespace
}  // namespace velmar
