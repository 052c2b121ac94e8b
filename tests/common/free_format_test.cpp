// Free-form number reading: separators, repeat counts, exponents and unreadable values.
#include "common/free_format.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace velmar {
namespace {

TEST(FreeFormat, SeparatorsAndNullValues) {
  std::array<float, 4> v{-1, -1, -1, -1};
  ASSERT_TRUE(read_free_reals(" 1.5, 2 ,,4", v));
  EXPECT_EQ(v, (std::array<float, 4>{1.5f, 2.0f, -1.0f, 4.0f}));
  v = {-1, -1, -1, -1};
  ASSERT_TRUE(read_free_reals("7 8 / 9", v));  // "/" ends the list, the rest stays
  EXPECT_EQ(v, (std::array<float, 4>{7.0f, 8.0f, -1.0f, -1.0f}));
  std::array<int, 3> n{};
  ASSERT_TRUE(read_free_ints("2*5 9 extra words", n));
  EXPECT_EQ(n, (std::array<int, 3>{5, 5, 9}));
}

TEST(FreeFormat, FortranRealForms) {
  std::array<float, 6> v{};
  ASSERT_TRUE(read_free_reals("1.0D+03 2.5q-1 +3 .5 -4. 1.0-2", v));
  EXPECT_EQ(v, (std::array<float, 6>{1000.0f, 0.25f, 3.0f, 0.5f, -4.0f, 0.01f}));
  float tiny = 1;
  EXPECT_TRUE(parse_real("1e-60", tiny) && tiny == 0.0f);
}

TEST(FreeFormat, UnreadableValues) {
  std::array<int, 2> n{};
  EXPECT_FALSE(read_free_ints("1", n));              // line ends too early
  EXPECT_FALSE(read_free_ints("1 2.5", n));          // no integer
  EXPECT_FALSE(read_free_ints("1 99999999999", n));  // does not fit
  std::array<float, 1> v{};
  for (const char* bad : {"abc", "1e40", "nan", "inf", "1.2.3", "--1", "", "   ", "1e", "0x10", "+++5", "++-5"})
    EXPECT_FALSE(read_free_reals(bad, v)) << bad;
  int i = 0;
  EXPECT_FALSE(parse_int("+", i));
  EXPECT_TRUE(parse_int("+12", i) && i == 12);
}

TEST(FreeFormat, SplitRunsStopsAtCapacity) {
  std::array<std::string_view, 3> runs;
  EXPECT_TRUE(split_runs("  a bb  ccc d ", runs) == 3 && runs[2] == "ccc");
  EXPECT_EQ(split_runs("    ", runs), 0);
}

}  // namespace
}  // namespace velmar
