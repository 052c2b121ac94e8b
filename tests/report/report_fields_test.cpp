// Fixed-column fields of report lines as the report reader takes them.
#include "report/report_fields.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace velmar::report {
namespace {

TEST(ReportFields, RealsIntegersAndOverflowedFields) {
  const struct {
    const char* field;
    bool ok;
    float value;  // NaN: an overflowed field
  } reals[] = {
      {"   97.2", true, 97.2f},     {"  -99.9", true, -99.9f},   {" 0.2512E+03", true, 251.2f},
      {"1.234E-03", true, 1.234e-3f}, {"  96.6%", true, 96.6f},  {"******", true, NAN},
      {" *****", false, 0},        {"      ", false, 0},         {"  total", false, 0},
      {"  1.2.3x", false, 0},      {"", false, 0},               {"  1E+99999", false, 0},
  };
  for (const auto& c : reals) {
    float v = 0;
    EXPECT_EQ(read_real(c.field, v), c.ok) << c.field;
    if (!c.ok) continue;
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(v)) << c.field;
    } else {
      EXPECT_FLOAT_EQ(v, c.value) << c.field;
    }
  }
  const struct {
    const char* field;
    bool ok;
    long value;
  } ints[] = {{"   10000", true, 10000}, {"  -3", true, -3}, {"****", true, -1},
              {" ***", false, 0},        {"  12.5", false, 0}, {"", false, 0}};
  for (const auto& c : ints) {
    long v = 0;
    EXPECT_EQ(read_int(c.field, v), c.ok) << c.field;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.field;
    }
  }
}

TEST(ReportFields, ColumnsAndLabels) {
  const std::string_view line = " XMIN=     1.0 XMAX=    91.0 NXBIN=    8";
  EXPECT_EQ(after_label(line, " XMAX=", 8), "    91.0");
  EXPECT_EQ(after_label(line, " NXBIN=", 5), "    8");
  EXPECT_EQ(after_label(line, " YMIN=", 8), "");
  EXPECT_EQ(column(line, 35, 10), "    8");  // cut at the end of the line
  EXPECT_EQ(column(line, 99, 3), "");
  EXPECT_EQ(trim("  a b  "), "a b");
  EXPECT_EQ(rest(line, 36), "   8");
}

}  // namespace
}  // namespace velmar::report
