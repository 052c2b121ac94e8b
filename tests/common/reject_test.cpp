// The outlier test: acceptance, removal order, failures and the half selection.
#include "common/reject.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velmar {
namespace {

struct Case {
  const char* what;
  int t;
  std::vector<int16_t> isym;
  std::vector<float> y, s;
  float wc;
  RejectResult expected;
  std::vector<float> s_after;  // sigmas as the caller's list holds them afterwards
};

TEST(Reject, Cases) {
  const float w3 = 1.0f + 0.25f + 1.0f;
  const std::vector<Case> cases = {
      {"single observation", 0, {1}, {100}, {7}, 1.5f, {100, 7, 1}, {7}},
      {"criterion 0 rejects nothing", 0, {1, 1, 1, 1}, {10, 1000, 30, -5}, {1, 2, 1, -1}, 0.0f,
       {(10 + 250 + 30) / w3, 1 / std::sqrt(w3), 3}, {1, 2, 1, -1}},
      {"two disagreeing observations fail together", 0, {1, 1}, {100, 500}, {10, 10}, 1.5f, {-1, -1, 0}, {-10, -10}},
      {"the outlier goes, the rest stays", 0, {1, 1, 1, 1, 1}, {100, 102, 98, 101, 400}, {5, 5, 5, 5, 5}, 1.5f,
       {100.25f, 2.5f, 4}, {5, 5, 5, 5, -5}},
      // chi2 = 2 with nu = 1: below 1.5^2 * 6.63 (the 1 % point), above 0.5^2 * 6.63.
      {"scatter within the quantile", 0, {1, 1}, {0, 2}, {1, 1}, 1.5f, {1, 1 / std::sqrt(2.0f), 2}, {1, 1}},
      {"scatter beyond the quantile", 0, {1, 1}, {0, 2}, {1, 1}, 0.5f, {-1, -1, 0}, {-1, -1}},
      {"only the + half is used and changed", +1, {-1, -2, 3, 4}, {100, 900, 50, 52}, {5, 5, 5, 5}, 1.5f,
       {51, 5 / std::sqrt(2.0f), 2}, {5, 5, 5, 5}},
      {"the - half fails alone", -1, {-1, -2, 3, 4}, {100, 900, 50, 52}, {5, 5, 5, 5}, 1.5f, {-1, -1, 0},
       {-5, -5, 5, 5}},
      {"no usable sigma", 0, {1, 1}, {1, 2}, {0, -3}, 1.5f, {-1, -1, 0}, {-0.0f, -3}},
      {"no observation", 0, {}, {}, {}, 1.5f, {-1, -1, 0}, {}},
      // Symmetric outliers around a tight core: the later of two equal scores goes first, then
      // the other one, no longer tied.
      {"equal scores", 0, {1, 1, 1, 1, 1, 1}, {-300, 100, 100, 100, 100, 500}, {5, 5, 5, 5, 5, 5}, 1.5f,
       {100, 2.5f, 4}, {-5, 5, 5, 5, 5, -5}},
  };
  for (Case c : cases) {
    const RejectResult r = reject(c.t, c.isym, c.y, c.s, c.wc, 1);
    EXPECT_TRUE(std::fabs(r.mean - c.expected.mean) <= 1e-4 && std::fabs(r.sigma - c.expected.sigma) <= 1e-6)
        << c.what << ": " << r.mean << " " << r.sigma;
    EXPECT_EQ(std::make_pair(r.m, c.s), std::make_pair(c.expected.m, c.s_after)) << c.what;
  }
}

}  // namespace
}  // namespace velmar
