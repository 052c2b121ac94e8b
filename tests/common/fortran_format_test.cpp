// Golden strings printed by a Fortran runtime for the same values and edit descriptors.
#include "common/fortran_format.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace velmar {
namespace {

std::string row(float v) {
  std::string s;
  auto field = [&](auto&& put) { s += '['; put(); s += ']'; };
  field([&] { put_f(s, v, 9, 2); });
  field([&] { put_f(s, v, 5, 2); });
  field([&] { put_f(s, v, 3, 2); });
  field([&] { put_f(s, v, 4, 0); });
  field([&] { put_e(s, v, 12, 4); });
  field([&] { put_es(s, v, 11, 3); });
  field([&] { put_e(s, v, 9, 4); });
  field([&] { put_es(s, v, 10, 3); });
  field([&] { put_f(s, v, 8, 3); });
  return s;
}

TEST(FortranFormat, RealDescriptorsMatchFortranRuntime) {
  struct Case { float v; const char* expected; };
  const std::vector<Case> cases = {
      {0.125f, "[     0.12][ 0.12][.12][  0.][  0.1250E+00][  1.250E-01][.1250E+00][ 1.250E-01][   0.125]"},
      {-0.001f, "[    -0.00][-0.00][***][ -0.][ -0.1000E-02][ -1.000E-03][*********][-1.000E-03][  -0.001]"},
      {0.0f, "[     0.00][ 0.00][.00][  0.][  0.0000E+00][  0.000E+00][.0000E+00][ 0.000E+00][   0.000]"},
      {-0.0f, "[    -0.00][-0.00][***][ -0.][ -0.0000E+00][ -0.000E+00][*********][-0.000E+00][  -0.000]"},
      {999995.0f, "[999995.00][*****][***][****][  0.1000E+07][  1.000E+06][.1000E+07][ 1.000E+06][********]"},
      {-1.5e-7f, "[    -0.00][-0.00][***][ -0.][ -0.1500E-06][ -1.500E-07][*********][-1.500E-07][  -0.000]"},
      {12345.678f, "[ 12345.68][*****][***][****][  0.1235E+05][  1.235E+04][.1235E+05][ 1.235E+04][********]"},
      {1e30f, "[*********][*****][***][****][  0.1000E+31][  1.000E+30][.1000E+31][ 1.000E+30][********]"},
      {99.995f, "[   100.00][*****][***][100.][  0.1000E+03][  1.000E+02][.1000E+03][ 1.000E+02][  99.995]"},
      {2.5f, "[     2.50][ 2.50][***][  2.][  0.2500E+01][  2.500E+00][.2500E+01][ 2.500E+00][   2.500]"},
      {1e-38f, "[     0.00][ 0.00][.00][  0.][  0.1000E-37][  1.000E-38][.1000E-37][ 1.000E-38][   0.000]"},
  };
  for (const auto& c : cases) EXPECT_EQ(row(c.v), c.expected) << "value " << c.v;
}

// Three-digit exponents drop the letter; a negative value printed as zero keeps its sign;
// overflow fills the field with stars; A right-justifies, put_char pads on the right.
TEST(FortranFormat, OtherDescriptors) {
  const double inf = std::numeric_limits<double>::infinity();
  std::string chars;
  put_char(chars, "name", 6);
  put_char(chars, "toolong", 3);
  const std::pair<std::string, const char*> cases[] = {
      {fmt_e(1.0e-100, 15, 7), "  0.1000000E-99"}, {fmt_e(1e200, 13, 4), "   0.1000+201"},
      {fmt_es(-2.5e-120, 12, 4), " -2.5000-120"},  {fmt_f(-3.0, 5, 1), " -3.0"},
      {fmt_f(0.05f, 6, 1), "   0.1"},              {fmt_f(-0.005f, 8, 2), "   -0.00"},
      {fmt_i(-12, 3), "-12"},
      {fmt_i(100, 2), "**"},                       {fmt_i(-32767, 6), "-32767"},
      {fmt_i(-1, 2), "-1"},                        {fmt_a("ab", 5), "   ab"},
      {fmt_a("abcdef", 3), "abc"},                 {chars, "name  too"},
      {fmt_f(inf, 9, 2), " Infinity"},             {fmt_f(-inf, 6, 2), "  -Inf"},
      {fmt_f(inf, 2, 0), "**"},
      {fmt_es(std::numeric_limits<double>::quiet_NaN(), 11, 3), "        NaN"},
  };
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace velmar
