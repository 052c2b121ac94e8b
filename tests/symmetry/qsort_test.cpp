// The two quicksorts against std::sort, with every companion value checked to have
// travelled with its record.
#include "symmetry/qsort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "common/error.hpp"

namespace velmar {
namespace {

// Records whose companions encode their original position: a = i, b = -i, x row = i + c/8.
struct KeyList {
  std::vector<ReflKey> rec;
  std::vector<float> a, b, x;
  int ncol;

  KeyList(std::vector<ReflKey> keys, int columns) : rec(std::move(keys)), ncol(columns) {
    for (size_t i = 0; i < rec.size(); ++i) {
      a.push_back(static_cast<float>(i));
      b.push_back(-static_cast<float>(i));
      for (int c = 0; c < ncol; ++c) x.push_back(static_cast<float>(i) + static_cast<float>(c) / 8.0f);
    }
  }
  void sort() { qsorta(rec, a, b, x, ncol); }
};

// The sorted list is the std::sort order of the keys and each record kept its companions.
void expect_sorted_with_companions(const KeyList& sorted, std::vector<ReflKey> original) {
  const size_t n = original.size();
  std::vector<bool> used(n, false);
  for (size_t p = 0; p < n; ++p) {
    const auto o = static_cast<size_t>(sorted.a[p]);
    ASSERT_LT(o, n);
    ASSERT_FALSE(used[o]) << "record " << o << " duplicated";
    used[o] = true;
    ASSERT_EQ(sorted.rec[p], original[o]) << "position " << p;
    ASSERT_EQ(sorted.b[p], -sorted.a[p]);
    for (int c = 0; c < sorted.ncol; ++c) {
      ASSERT_EQ(sorted.x[p * static_cast<size_t>(sorted.ncol) + static_cast<size_t>(c)],
                sorted.a[p] + static_cast<float>(c) / 8.0f);
    }
  }
  std::sort(original.begin(), original.end(), key_less);
  ASSERT_EQ(sorted.rec, original);
}

std::vector<ReflKey> random_keys(size_t n, int range, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> v(-range, range);
  std::vector<ReflKey> keys(n);
  for (auto& k : keys) {
    k = {static_cast<int16_t>(v(rng)), static_cast<int16_t>(v(rng)), static_cast<int16_t>(v(rng)),
         static_cast<int16_t>(v(rng) % 49)};
  }
  return keys;
}

std::string stop_text(auto&& f) {
  try {
    f();
  } catch (const VelmarError& e) {
    return e.what();
  }
  return "no stop";
}

TEST(QsortaOrder, RandomPresortedAndReversedLists) {
  // Sizes, value ranges (0: all keys equal) and column counts; each list is also sorted
  // again when already in order and when in reverse order.
  struct Case { size_t n; int range; int ncol; };
  const Case cases[] = {{1000, 30000, 4}, {5000, 3, 4}, {777, 1, 0}, {2048, 100, 3}, {3, 5, 1}, {64, 0, 2}};
  unsigned seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE("n " + std::to_string(c.n) + " range " + std::to_string(c.range));
    std::vector<ReflKey> keys = random_keys(c.n, c.range, seed++);
    for (int shape = 0; shape < 3; ++shape) {
      if (shape == 1) std::sort(keys.begin(), keys.end(), key_less);
      if (shape == 2) std::reverse(keys.begin(), keys.end());
      KeyList list(keys, c.ncol);
      list.sort();
      expect_sorted_with_companions(list, keys);
    }
  }
}

TEST(QsortaOrder, TwoRecordsSwapAndOneStays) {
  KeyList two({{2, 0, 0, 1}, {1, 0, 0, 1}}, 2);
  two.sort();
  EXPECT_EQ(two.rec, (std::vector<ReflKey>{{1, 0, 0, 1}, {2, 0, 0, 1}}));
  EXPECT_EQ(two.a, (std::vector<float>{1, 0}));
  EXPECT_EQ(two.x, (std::vector<float>{1, 1.125f, 0, 0.125f}));
  KeyList one({{5, 5, 5, -3}}, 1);
  one.sort();
  EXPECT_EQ(one.rec[0], (ReflKey{5, 5, 5, -3}));
  EXPECT_EQ(one.a[0], 0.0f);
  KeyList none({}, 0);
  none.sort();
  EXPECT_TRUE(none.rec.empty());
}

TEST(QsortaOrder, PackedObservationsTakeTheSameOrder) {
  const std::vector<ReflKey> keys = random_keys(4000, 4, 21);  // many equal keys
  KeyList list(keys, 4);
  std::vector<PackedObservation> packed(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) packed[i] = {keys[i], static_cast<float>(i), 0.0f, {}};
  list.sort();
  qsorta(packed);
  for (size_t p = 0; p < keys.size(); ++p) {
    ASSERT_EQ(packed[p].key, list.rec[p]);
    ASSERT_EQ(packed[p].intensity, list.a[p]) << "equal keys in another order at " << p;
  }
}

TEST(QsortaOrder, MismatchedCompanionsStop) {
  std::vector<ReflKey> rec(3);
  std::vector<float> a(3), b(2), x(12);
  EXPECT_EQ(stop_text([&] { qsorta(rec, a, b, x, 4); }), " !!! ERROR !!! ASSERT VIOLATION IN \"QSORTA\"");
  b.resize(3);
  EXPECT_EQ(stop_text([&] { qsorta(rec, a, b, x, 3); }), " !!! ERROR !!! ASSERT VIOLATION IN \"QSORTA\"");
}

TEST(QsortbOrder, AscendingAndDescendingByEachWord) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> v(-100.0f, 100.0f);
  for (int field = 1; field <= 4; ++field) {
    for (int sign : {1, -1}) {
      SCOPED_TRACE("field " + std::to_string(field) + " sign " + std::to_string(sign));
      const size_t n = 2500;
      std::vector<std::array<float, 4>> r4(n);
      std::vector<std::array<int16_t, 3>> r3(n);
      const size_t tag = static_cast<size_t>(field % 4);  // another word holds the position
      for (size_t i = 0; i < n; ++i) {
        for (auto& w : r4[i]) w = std::round(v(rng));  // many equal keys
        r4[i][tag] = static_cast<float>(i);
        r3[i] = {static_cast<int16_t>(i), static_cast<int16_t>(-static_cast<int>(i)), 9};
      }
      const auto original = r4;
      qsortb(sign, r4, field, r3);
      std::vector<float> keys, expected;
      for (size_t p = 0; p < n; ++p) {
        const auto o = static_cast<size_t>(r4[p][tag]);
        ASSERT_EQ(r4[p], original[o]);
        ASSERT_EQ(r3[p], (std::array<int16_t, 3>{static_cast<int16_t>(o), static_cast<int16_t>(-static_cast<int>(o)), 9}));
        keys.push_back(static_cast<float>(sign) * r4[p][static_cast<size_t>(field - 1)]);
        expected.push_back(static_cast<float>(sign) * original[p][static_cast<size_t>(field - 1)]);
      }
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(keys, expected);
    }
  }
}

TEST(QsortbOrder, SmallListsAndBadArguments) {
  std::vector<std::array<float, 4>> r4 = {{0, 0, 1, 0}, {0, 0, 2, 0}};
  std::vector<std::array<int16_t, 3>> r3 = {{1, 1, 1}, {2, 2, 2}};
  qsortb(-1, r4, 3, r3);
  EXPECT_EQ(r4[0][2], 2.0f);
  EXPECT_EQ(r3[0][0], 2);
  qsortb(1, r4, 3, {});
  EXPECT_EQ(r4[0][2], 1.0f);
  EXPECT_EQ(stop_text([&] { qsortb(1, r4, 5, r3); }), " !!! ERROR !!! ASSERT VIOLATION IN \"QSORTB\"");
  r3.pop_back();
  EXPECT_EQ(stop_text([&] { qsortb(1, r4, 1, r3); }), " !!! ERROR !!! ASSERT VIOLATION IN \"QSORTB\"");
}

}  // namespace
}  // namespace velmar
