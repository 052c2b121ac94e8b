// The record fields of the output file (ES11.3, F8.1, F8.2) checked against the C
// library's correctly rounded conversions over many values, ties and decade limits included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/fortran_format.hpp"

namespace velmar {
namespace {

// "%.dE" or "%.df" of v, right-justified in w columns (stars when too wide).
std::string c_library(bool scientific, int d, int w, double v) {
  char buf[400];
  if (scientific)
    std::snprintf(buf, sizeof buf, "%.*E", d, v);
  else
    std::snprintf(buf, sizeof buf, "%.*f", d, v);
  std::string s(buf);
  if (s.size() > static_cast<size_t>(w)) return std::string(static_cast<size_t>(w), '*');
  return std::string(static_cast<size_t>(w) - s.size(), ' ') + s;
}

// F fields of values with |v| >= 1 (no optional leading zero) print as "%w.df" does.
std::string c_fixed(double v, int w, int d) { return c_library(false, d, w, v); }

struct Values {
  uint64_t s = 42;
  float next() {  // random sign, mantissa and decimal exponent -6..8
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    const double u = static_cast<double>(s >> 11) / static_cast<double>(uint64_t{1} << 53);
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    const int e = static_cast<int>((s >> 33) % 15) - 6;
    const double sign = (s >> 20) & 1 ? -1.0 : 1.0;
    return static_cast<float>(sign * (1.0 + 9.0 * u) * std::pow(10.0, e));
  }
};

TEST(OutputFileFields, ScientificFieldsMatchCorrectRounding) {
  Values gen;
  int mismatches = 0;
  for (int i = 0; i < 200000; ++i) {
    const float v = gen.next();
    if (fmt_es(v, 11, 3) != c_library(true, 3, 11, v) && ++mismatches < 10)
      ADD_FAILURE() << "ES11.3 of " << v << ": " << fmt_es(v, 11, 3);
  }
  // Exact ties and decade limits: 1.2345 is not a tie in binary, 1.5 x 2^-k values are.
  for (const double v : {1234.5, 0.0009765625, 9999.5, 999.95, 99995.0, 1.0e-5, 1.0e8, 0.00123449999,
                         -2.5e-3, 1.0e22, 9.9995e-21})
    EXPECT_EQ(fmt_es(v, 11, 3), c_library(true, 3, 11, v)) << v;
  EXPECT_EQ(mismatches, 0);
}

TEST(OutputFileFields, FixedFieldsMatchCorrectRounding) {
  Values gen;
  int mismatches = 0;
  for (int i = 0; i < 200000; ++i) {
    const float v = gen.next();
    if (std::fabs(v) < 1.0f) continue;
    for (const int d : {1, 2})
      if (fmt_f(v, 8, d) != c_fixed(v, 8, d) && ++mismatches < 10)
        ADD_FAILURE() << "F8." << d << " of " << v << ": " << fmt_f(v, 8, d);
  }
  for (const double v : {2.25, 2.35, 1234.45, -1.05, 99999.95, 9999.995, 100.125, 1.0e9 + 0.5})
    EXPECT_EQ(fmt_f(v, 12, 2), c_fixed(v, 12, 2)) << v;
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(fmt_f(0.25, 8, 1), "     0.2");
  EXPECT_EQ(fmt_f(-0.04, 3, 1), "-.0");
  EXPECT_EQ(fmt_f(-7.5, 5, 0), "  -8.");
}

}  // namespace
}  // namespace velmar
