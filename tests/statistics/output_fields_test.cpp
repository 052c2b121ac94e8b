// The record fields ES11.3, F8.1 and F8.2 against the C library's correctly rounded
// conversions over many values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/fortran_format.hpp"

namespace velmar {
namespace {

std::string c_library(bool scientific, int d, double v) {
  char buf[400];
  std::snprintf(buf, sizeof buf, scientific ? "%*.*E" : "%*.*f", scientific ? 11 : 8, d, v);
  const std::string s(buf);
  return s.size() > (scientific ? 11u : 8u) ? std::string(scientific ? 11 : 8, '*') : s;
}

TEST(OutputFileFields, MatchCorrectRounding) {
  uint64_t s = 42;
  auto next = [&s] { return (s = s * 6364136223846793005ULL + 1442695040888963407ULL) >> 11; };
  int mismatches = 0;
  for (int i = 0; i < 200000; ++i) {  // random sign and mantissa, decimal exponents -6..8
    const double u = static_cast<double>(next()) / 9007199254740992.0;
    const auto v = static_cast<float>((next() & 1 ? -1 : 1) * (1 + 9 * u) * std::pow(10.0, int(next() % 15) - 6));
    mismatches += fmt_es(v, 11, 3) != c_library(true, 3, v);
    if (std::fabs(v) >= 1)  // below 1 the optional leading zero differs from C
      mismatches += (fmt_f(v, 8, 1) != c_library(false, 1, v)) + (fmt_f(v, 8, 2) != c_library(false, 2, v));
  }
  EXPECT_EQ(mismatches, 0);
  for (const double v : {1234.5, 0.0009765625, 9999.5, 999.95, 99995.0, -2.5e-3, 1e22, 9.9995e-21, 2.25, -1.05})
    EXPECT_EQ(fmt_es(v, 11, 3) + fmt_f(v, 8, 1), c_library(true, 3, v) + c_library(false, 1, v)) << v;
}

}  // namespace
}  // namespace velmar
