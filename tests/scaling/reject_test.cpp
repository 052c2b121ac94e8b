// The outlier test: acceptance, removal order, failures and the half selection.
#include "scaling/reject.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velmar {
namespace {

struct Obs {
  std::vector<int16_t> isym;
  std::vector<float> y, s;
};

Obs all_plus(std::vector<float> y, std::vector<float> s) {
  return {std::vector<int16_t>(y.size(), 1), std::move(y), std::move(s)};
}

TEST(Reject, SingleObservationIsItsOwnMean) {
  for (float wc : {0.0f, 1.0f, 1.5f}) {
    Obs o = all_plus({100.0f}, {7.0f});
    RejectResult r = reject(0, o.isym, o.y, o.s, wc, 1);
    EXPECT_FLOAT_EQ(r.mean, 100.0f);
    EXPECT_FLOAT_EQ(r.sigma, 7.0f);
    EXPECT_EQ(r.m, 1);
  }
}

TEST(Reject, NoRejectionWithZeroCriterion) {
  Obs o = all_plus({10.0f, 1000.0f, 30.0f, -5.0f}, {1.0f, 2.0f, 1.0f, -1.0f});
  RejectResult r = reject(0, o.isym, o.y, o.s, 0.0f, 1);
  const double w = 1 + 0.25 + 1;
  EXPECT_NEAR(r.mean, (10 + 1000 * 0.25 + 30) / w, 1e-3);
  EXPECT_NEAR(r.sigma, 1 / std::sqrt(w), 1e-6);
  EXPECT_EQ(r.m, 3);
  EXPECT_EQ(o.s, (std::vector<float>{1.0f, 2.0f, 1.0f, -1.0f}));
}

TEST(Reject, TwoDisagreeingObservationsFailTogether) {
  Obs o = all_plus({100.0f, 500.0f}, {10.0f, 10.0f});
  RejectResult r = reject(0, o.isym, o.y, o.s, 1.5f, 1);
  EXPECT_EQ(r.m, 0);
  EXPECT_EQ(r.mean, -1.0f);
  EXPECT_EQ(r.sigma, -1.0f);
  EXPECT_EQ(o.s, (std::vector<float>{-10.0f, -10.0f}));
}

TEST(Reject, RemovesTheOutlierAndKeepsTheRest) {
  Obs o = all_plus({100.0f, 102.0f, 98.0f, 101.0f, 400.0f}, {5.0f, 5.0f, 5.0f, 5.0f, 5.0f});
  RejectResult r = reject(0, o.isym, o.y, o.s, 1.5f, 1);
  EXPECT_EQ(r.m, 4);
  EXPECT_NEAR(r.mean, 100.25f, 1e-4);
  EXPECT_NEAR(r.sigma, 2.5f, 1e-6);
  EXPECT_EQ(o.s[4], -5.0f);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(o.s[static_cast<size_t>(i)], 5.0f);
}

TEST(Reject, ScatterWithinTheQuantileIsAccepted) {
  // chi2 = 2 with nu = 1: below 1.5^2 * 6.63 (the 1 % point), nothing goes.
  Obs o = all_plus({0.0f, 2.0f}, {1.0f, 1.0f});
  RejectResult r = reject(0, o.isym, o.y, o.s, 1.5f, 1);
  EXPECT_EQ(r.m, 2);
  EXPECT_FLOAT_EQ(r.mean, 1.0f);
  // With wc = 0.5 the same scatter exceeds the limit (0.25 * 6.63 = 1.66) and both fail.
  r = reject(0, o.isym, o.y, o.s, 0.5f, 1);
  EXPECT_EQ(r.m, 0);
}

TEST(Reject, OnlyTheSelectedHalfIsUsedAndChanged) {
  Obs o{{-1, -2, 3, 4}, {100.0f, 900.0f, 50.0f, 52.0f}, {5.0f, 5.0f, 5.0f, 5.0f}};
  RejectResult plus = reject(+1, o.isym, o.y, o.s, 1.5f, 1);
  EXPECT_EQ(plus.m, 2);
  EXPECT_FLOAT_EQ(plus.mean, 51.0f);
  RejectResult minus = reject(-1, o.isym, o.y, o.s, 1.5f, 1);
  EXPECT_EQ(minus.m, 0);
  EXPECT_EQ(o.s, (std::vector<float>{-5.0f, -5.0f, 5.0f, 5.0f}));
}

TEST(Reject, AllSigmasUnusableFails) {
  Obs o = all_plus({1.0f, 2.0f}, {0.0f, -3.0f});
  RejectResult r = reject(0, o.isym, o.y, o.s, 1.5f, 1);
  EXPECT_EQ(r.m, 0);
  EXPECT_EQ(o.s[1], -3.0f);
  EXPECT_LE(o.s[0], 0.0f);
  Obs none;
  EXPECT_EQ(reject(0, none.isym, none.y, none.s, 1.5f, 1).m, 0);
}

TEST(Reject, EqualScoresRemoveTheLaterObservation) {
  // Symmetric outliers around a tight core: the later of the two equal scores goes first.
  Obs o = all_plus({-300.0f, 100.0f, 100.0f, 100.0f, 100.0f, 500.0f}, {5.0f, 5.0f, 5.0f, 5.0f, 5.0f, 5.0f});
  reject(0, o.isym, o.y, o.s, 1.5f, 1);
  EXPECT_LT(o.s[5], 0.0f);
  EXPECT_LT(o.s[0], 0.0f);  // then the other one, no longer tied
}

}  // namespace
}  // namespace velmar
