// Fixed-column fields of report lines as the report reader takes them (the columns and
// labels they come from are read through whole reports in the reader's tests).
#include "report/report_fields.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace velmar::report {
namespace {

// A field of asterisks alone is an overflowed value (NaN, or -1 for integers); blanks, labels
// and anything not wholly a number are no value.
TEST(ReportFields, RealsIntegersAndOverflowedFields) {
  const struct { const char* field; bool ok; float value; } reals[] = {
      {"  -99.9", true, -99.9f}, {" 0.2512E+03", true, 251.2f}, {"  96.6%", true, 96.6f}, {"******", true, NAN},
      {" *****", false, 0},      {"      ", false, 0},         {"  total", false, 0},  {"  1.2.3x", false, 0},
      {"  1E+99999", false, 0}};
  for (const auto& c : reals) {
    float v = 0;
    EXPECT_EQ(read_real(c.field, v), c.ok) << c.field;
    EXPECT_TRUE(!c.ok || (std::isnan(c.value) ? std::isnan(v) : v == c.value)) << c.field << ": " << v;
  }
  const struct { const char* field; bool ok; long value; } ints[] = {
      {"  -3", true, -3}, {"****", true, -1}, {" ***", false, 0}, {"  12.5", false, 0}, {"", false, 0}};
  for (const auto& c : ints) {
    long v = 0;
    EXPECT_EQ(read_int(c.field, v), c.ok) << c.field;
    EXPECT_TRUE(!c.ok || v == c.value) << c.field << ": " << v;
  }
}

}  // namespace
}  // namespace velmar::report
