// Plot geometry that the page relies on: ticks, the count of drawn points, escaping.
#include "report/svg_plot.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace velmar::report {
namespace {

TEST(SvgPlot, LinearTicksAreRoundAndInside) {
  const struct {
    double lo, hi;
    std::vector<double> ticks;
  } cases[] = {
      {0, 100, {0, 20, 40, 60, 80, 100}},
      {-0.3, 1.02, {0, 0.5, 1.0}},
      {8.8, 11.4, {9, 10, 11}},
      {8.8, 10.9, {9, 9.5, 10, 10.5}},
      {-99, -1, {-80, -60, -40, -20}},
  };
  for (const auto& c : cases) {
    const std::vector<double> t = linear_ticks(c.lo, c.hi, 5);
    ASSERT_EQ(t.size(), c.ticks.size()) << c.lo << " " << c.hi;
    for (size_t k = 0; k < t.size(); ++k) EXPECT_NEAR(t[k], c.ticks[k], 1e-12);
  }
  EXPECT_TRUE(linear_ticks(1, 1, 5).empty());
}

TEST(SvgPlot, ResolutionTicksAreRoundSpacingsInOneOverDSquared) {
  const std::vector<double> t = resolution_ticks(0, 0.25, 0.25 / 7);  // to 2 Angstrom
  ASSERT_GE(t.size(), 4u);
  EXPECT_NEAR(t.back(), 0.25, 1e-12);  // 2 Angstrom kept at the crowded end
  for (size_t k = 0; k < t.size(); ++k) {
    const double d = 1 / std::sqrt(t[k]);
    EXPECT_NEAR(d * 10, std::round(d * 10), 1e-9) << d;
    if (k > 0) { EXPECT_GE(t[k] - t[k - 1], 0.25 / 7); }
  }
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SvgPlot, OnlyFinitePointsAreDrawnAndCounted) {
  LinePlot p;
  p.id = "p";
  p.series.resize(2);
  p.series[0].x = {1, 2, 3, 4}, p.series[0].y = {1, NAN, 3, 4};
  p.series[1].x = {0, 5}, p.series[1].y = {0, 5}, p.series[1].points = false;  // a theory line
  EXPECT_EQ(point_count(p), 3u);
  const std::string svg = render_line_plot(p);
  EXPECT_EQ(occurrences(svg, "class=\"pt\""), 3u);
  EXPECT_NE(svg.find("data-points=\"3\""), std::string::npos);

  HeatMap h;
  h.id = "h<1>";
  h.nx = 2, h.ny = 3;
  h.values = {1, 1.1f, 0.9f, 1, 1, 1};
  const std::string map = render_heat_map(h);
  EXPECT_EQ(occurrences(map, "class=\"cell\""), 6u);
  EXPECT_NE(map.find("id=\"h&lt;1&gt;\""), std::string::npos);
}

TEST(SvgPlot, Escaping) { EXPECT_EQ(escape_html("a<b & \"c\" 'd'>"), "a&lt;b &amp; &quot;c&quot; &#39;d&#39;&gt;"); }

}  // namespace
}  // namespace velmar::report
