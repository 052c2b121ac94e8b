// Plots drawn as inline SVG: line and point charts and heat maps.
//
// Every data point is an element of class "pt" (a heat-map cell one of class "cell") with a
// <title> that the browser shows on hover; the root <svg> has class "plot" and the plot's id,
// so that a page can be checked for plots without data.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmar::report {

// How an axis maps its values. kResolution: the values are 1/d^2 (Angstrom^-2) and the
// ticks are labelled with d in Angstrom; kCategory: the values are 1..n, labelled by
// `categories`.
enum class AxisScale { kLinear, kResolution, kCategory };

struct PlotAxis {
  std::string label;
  AxisScale scale = AxisScale::kLinear;
  bool include_zero = false;       // the range always reaches 0
  bool has_min = false, has_max = false;
  double min = 0, max = 0;         // fixed limits where has_min / has_max
  std::vector<std::string> categories;
};

struct PlotSeries {
  std::string name;                // legend text; no legend entry when empty
  std::vector<double> x, y;        // NaN values are left out (and break the line)
  std::vector<bool> hollow;        // per point: drawn as an open marker (e.g. not significant)
  std::vector<std::string> tips;   // per point: hover text; generated from x and y when empty
  int colour = 0;                  // palette index
  bool points = true;              // data points as markers; false for theory curves and fits
  bool line = true;
  bool dashed = false;
};

struct LinePlot {
  std::string id;
  PlotAxis x, y;
  std::vector<PlotSeries> series;
  std::vector<double> guides;      // horizontal reference lines (e.g. the expected value)
};

struct HeatMap {
  std::string id;
  int nx = 0, ny = 0;
  std::vector<float> values;       // nx * ny, the x index varying fastest
  double x0 = 0, x1 = 1, y0 = 0, y1 = 1;   // the axis ranges the cells cover
  PlotAxis x, y;
  std::vector<std::string> row_labels;     // labels of the rows instead of a y scale
  std::vector<std::string> row_tips;       // per row: added to the hover text of its cells
  bool y_down = false;             // row 0 at the top (detector images)
  std::string value_name = "factor";
};

// Number of drawn data points (markers or cells) of a plot.
size_t point_count(const LinePlot& p);

std::string render_line_plot(const LinePlot& p);
std::string render_heat_map(const HeatMap& h);

// Text with the characters that have a meaning in HTML and XML escaped.
std::string escape_html(std::string_view text);

// A short form of a number for labels: up to `significant` digits, no trailing zeros.
std::string short_number(double v, int significant = 4);

// Ticks for the range lo..hi: about `target` round values inside it.
std::vector<double> linear_ticks(double lo, double hi, int target);
// Ticks for a resolution axis in 1/d^2 between lo and hi: round values of d, returned as
// 1/d^2, at least `min_gap` of the range apart.
std::vector<double> resolution_ticks(double lo, double hi, double min_gap);

}  // namespace velmar::report
