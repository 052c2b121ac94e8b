// Plots drawn as inline SVG.
#include "report/svg_plot.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace velmar::report {
namespace {

constexpr double kWidth = 480, kHeight = 300;
constexpr double kLeft = 66, kRight = 16, kTop = 34, kBottom = 50;
constexpr std::array<const char*, 8> kPalette = {"#1f6fb4", "#d6402b", "#2a9d3f", "#e88a17",
                                                 "#8a5cc2", "#8c564b", "#d35fb7", "#6b6b6b"};

const char* colour(int k) { return kPalette[static_cast<size_t>(k) % kPalette.size()]; }

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

struct Range {
  double lo = 0, hi = 1;
};

// The pixel mapping of the plot area.
struct Frame {
  Range x, y;
  double px(double v) const { return kLeft + (v - x.lo) / (x.hi - x.lo) * (kWidth - kLeft - kRight); }
  double py(double v) const { return kHeight - kBottom - (v - y.lo) / (y.hi - y.lo) * (kHeight - kTop - kBottom); }
};

Range data_range(const PlotAxis& a, const std::vector<double>& values) {
  double lo = INFINITY, hi = -INFINITY;
  for (double v : values)
    if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
  if (!std::isfinite(lo)) lo = 0, hi = 1;
  if (a.include_zero) lo = std::min(lo, 0.0), hi = std::max(hi, 0.0);
  if (a.scale == AxisScale::kCategory) return {0.5, std::max(hi, 1.0) + 0.5};
  double pad = (hi - lo) * 0.06;
  if (pad <= 0) pad = std::max(std::fabs(hi) * 0.1, 0.5);
  Range r{lo - pad, hi + pad};
  if (a.include_zero && lo >= 0) r.lo = a.scale == AxisScale::kResolution ? 0 : std::max(r.lo, 0.0);
  if (a.has_min) r.lo = a.min;
  if (a.has_max) r.hi = a.max;
  if (r.hi <= r.lo) r.hi = r.lo + 1;
  return r;
}

std::string tick_label(const PlotAxis& a, double v) {
  if (a.scale == AxisScale::kResolution) return v > 0 ? short_number(1.0 / std::sqrt(v), 3) : "\xE2\x88\x9E";
  if (a.scale == AxisScale::kCategory) {
    const long k = std::lround(v);
    return k >= 1 && static_cast<size_t>(k) <= a.categories.size() ? a.categories[static_cast<size_t>(k - 1)]
                                                                     : std::string();
  }
  return short_number(v, 4);
}

std::vector<double> axis_ticks(const PlotAxis& a, Range r, int target) {
  if (a.scale == AxisScale::kResolution) return resolution_ticks(r.lo, r.hi, (r.hi - r.lo) / (target + 1.5));
  if (a.scale == AxisScale::kCategory) {
    std::vector<double> t;
    for (size_t k = 1; k <= a.categories.size(); ++k) t.push_back(static_cast<double>(k));
    return t;
  }
  return linear_ticks(r.lo, r.hi, target);
}

void draw_axes(std::string& s, const Frame& f, const PlotAxis& ax, const PlotAxis& ay, bool y_down = false) {
  const double left = kLeft, right = kWidth - kRight, top = kTop, bottom = kHeight - kBottom;
  s += "<rect class=\"area\" x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" + num(right - left) +
       "\" height=\"" + num(bottom - top) + "\"/>";
  for (double t : axis_ticks(ax, f.x, 6)) {
    const double x = f.px(t);
    if (x < left - 0.5 || x > right + 0.5) continue;
    s += "<line class=\"grid\" x1=\"" + num(x) + "\" y1=\"" + num(top) + "\" x2=\"" + num(x) + "\" y2=\"" +
         num(bottom) + "\"/>";
    s += "<text class=\"tick\" x=\"" + num(x) + "\" y=\"" + num(bottom + 16) + "\" text-anchor=\"middle\">" +
         escape_html(tick_label(ax, t)) + "</text>";
  }
  for (double t : axis_ticks(ay, f.y, 5)) {
    const double y = f.py(y_down ? f.y.hi + f.y.lo - t : t);
    if (y < top - 0.5 || y > bottom + 0.5) continue;
    s += "<line class=\"grid\" x1=\"" + num(left) + "\" y1=\"" + num(y) + "\" x2=\"" + num(right) + "\" y2=\"" +
         num(y) + "\"/>";
    s += "<text class=\"tick\" x=\"" + num(left - 6) + "\" y=\"" + num(y + 4) + "\" text-anchor=\"end\">" +
         escape_html(tick_label(ay, t)) + "</text>";
  }
  s += "<text class=\"axis-label\" x=\"" + num((left + right) / 2) + "\" y=\"" + num(kHeight - 10) +
       "\" text-anchor=\"middle\">" + escape_html(ax.label) + "</text>";
  s += "<text class=\"axis-label\" transform=\"translate(16," + num((top + bottom) / 2) +
       ") rotate(-90)\" text-anchor=\"middle\">" + escape_html(ay.label) + "</text>";
}

// Legend entries in a row above the plot area, wrapping once to a second row.
void draw_legend(std::string& s, const std::vector<PlotSeries>& series) {
  double x = kLeft, y = 11;
  for (const PlotSeries& p : series) {
    if (p.name.empty()) continue;
    const double width = 34 + 6.6 * static_cast<double>(p.name.size());
    if (x + width > kWidth - kRight + 20 && x > kLeft) x = kLeft, y += 14;
    const std::string c = colour(p.colour), ys = num(y);
    if (p.line)
      s += "<line x1=\"" + num(x) + "\" y1=\"" + ys + "\" x2=\"" + num(x + 18) + "\" y2=\"" + ys + "\" stroke=\"" + c +
           "\" stroke-width=\"2\"" + (p.dashed ? " stroke-dasharray=\"5 3\"" : "") + "/>";
    if (p.points) s += "<circle cx=\"" + num(x + 9) + "\" cy=\"" + ys + "\" r=\"3.5\" fill=\"" + c + "\"/>";
    s += "<text class=\"legend\" x=\"" + num(x + 23) + "\" y=\"" + num(y + 4) + "\">" + escape_html(p.name) + "</text>";
    x += width;
  }
}

std::string default_tip(const PlotAxis& ax, double x, double y) {
  std::string xs = ax.scale == AxisScale::kResolution && x > 0 ? short_number(1.0 / std::sqrt(x), 3) + " \xC3\x85"
                                                                : tick_label(ax, x);
  return xs + ": " + short_number(y, 4);
}

void draw_series(std::string& s, const Frame& f, const PlotAxis& ax, const PlotSeries& p) {
  const std::string c = colour(p.colour);
  if (p.line) {
    std::string path;
    bool pen = false;
    for (size_t k = 0; k < p.x.size() && k < p.y.size(); ++k) {
      if (!std::isfinite(p.x[k]) || !std::isfinite(p.y[k])) {
        pen = false;
        continue;
      }
      path += (pen ? " L" : " M") + num(f.px(p.x[k])) + " " + num(f.py(p.y[k]));
      pen = true;
    }
    if (!path.empty())
      s += "<path class=\"series\" d=\"" + path.substr(1) + "\" stroke=\"" + c + "\"" +
           (p.dashed ? " stroke-dasharray=\"6 4\"" : "") + "/>";
  }
  if (!p.points) return;
  for (size_t k = 0; k < p.x.size() && k < p.y.size(); ++k) {
    if (!std::isfinite(p.x[k]) || !std::isfinite(p.y[k])) continue;
    const bool hollow = k < p.hollow.size() && p.hollow[k];
    const std::string tip = k < p.tips.size() ? p.tips[k] : default_tip(ax, p.x[k], p.y[k]);
    s += "<circle class=\"pt\" cx=\"" + num(f.px(p.x[k])) + "\" cy=\"" + num(f.py(p.y[k])) + "\" r=\"3.6\" fill=\"" +
         (hollow ? std::string("#fff") : c) + "\" stroke=\"" + c + "\"><title>" + escape_html(tip) +
         "</title></circle>";
  }
}

std::string svg_open(const std::string& id, const char* kind, size_t points) {
  return "<svg class=\"plot " + std::string(kind) + "\" id=\"" + escape_html(id) + "\" data-points=\"" +
         std::to_string(points) + "\" viewBox=\"0 0 " + num(kWidth) + " " + num(kHeight) +
         "\" width=\"" + num(kWidth) + "\" height=\"" + num(kHeight) +
         "\" role=\"img\">";
}

// Diverging colour of a factor around 1: blue below, white at 1, red above; `scale` is the
// |ln factor| that gets the full colour.
std::string factor_colour(double v, double scale) {
  if (!std::isfinite(v) || v <= 0) return "#999999";
  const double t = std::clamp(std::log(v) / scale, -1.0, 1.0);
  const std::array<double, 3> white{247, 247, 247}, blue{33, 102, 172}, red{178, 24, 43};
  const std::array<double, 3>& end = t < 0 ? blue : red;
  const double u = std::fabs(t);
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", static_cast<int>(std::lround(white[0] + u * (end[0] - white[0]))),
                static_cast<int>(std::lround(white[1] + u * (end[1] - white[1]))),
                static_cast<int>(std::lround(white[2] + u * (end[2] - white[2]))));
  return buf;
}

}  // namespace

std::string escape_html(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': s += "&amp;"; break;
      case '<': s += "&lt;"; break;
      case '>': s += "&gt;"; break;
      case '"': s += "&quot;"; break;
      case '\'': s += "&#39;"; break;
      default: s += c;
    }
  }
  return s;
}

std::string short_number(double v, int significant) {
  if (!std::isfinite(v)) return "-";
  if (std::fabs(v) < 1e-12) return "0";
  char buf[40];
  const double mag = std::fabs(v);
  if (mag >= 1e6 || mag < 1e-3) {
    std::snprintf(buf, sizeof buf, "%.*g", significant, v);
    return buf;
  }
  const int digits = std::max(0, significant - 1 - static_cast<int>(std::floor(std::log10(mag))));
  std::snprintf(buf, sizeof buf, "%.*f", std::min(digits, 6), v);
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

std::vector<double> linear_ticks(double lo, double hi, int target) {
  std::vector<double> t;
  if (!(hi > lo) || target < 1) return t;
  const double raw = (hi - lo) / target;
  const double base = std::pow(10.0, std::floor(std::log10(raw)));
  double step = base;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * base >= raw) {
      step = m * base;
      break;
    }
  for (double v = std::ceil(lo / step - 1e-9) * step; v <= hi + step * 1e-9; v += step)
    t.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  return t;
}

std::vector<double> resolution_ticks(double lo, double hi, double min_gap) {
  static const double kRound[] = {100, 50, 30, 20, 15, 10, 8, 6, 5, 4, 3.5, 3, 2.7, 2.5, 2.3, 2.2, 2.1, 2,
                                  1.9, 1.8, 1.7, 1.6, 1.5, 1.4, 1.3, 1.2, 1.1, 1.0, 0.9, 0.8, 0.7, 0.6, 0.5};
  std::vector<double> t;
  // From high resolution down, so that the crowded end keeps the round values that fit.
  for (auto it = std::rbegin(kRound); it != std::rend(kRound); ++it) {
    const double s = 1.0 / (*it * *it);
    if (s < lo || s > hi) continue;
    if (!t.empty() && t.back() - s < min_gap) continue;
    t.push_back(s);
  }
  std::reverse(t.begin(), t.end());
  return t;
}

size_t point_count(const LinePlot& p) {
  size_t n = 0;
  for (const PlotSeries& s : p.series) {
    if (!s.points) continue;
    for (size_t k = 0; k < s.x.size() && k < s.y.size(); ++k) n += std::isfinite(s.x[k]) && std::isfinite(s.y[k]);
  }
  return n;
}

std::string render_line_plot(const LinePlot& p) {
  std::vector<double> xs, ys(p.guides);
  for (const PlotSeries& s : p.series) {
    xs.insert(xs.end(), s.x.begin(), s.x.end());
    ys.insert(ys.end(), s.y.begin(), s.y.end());
  }
  Frame f{data_range(p.x, xs), data_range(p.y, ys)};
  if (p.x.scale == AxisScale::kCategory) f.x = {0.5, static_cast<double>(std::max<size_t>(p.x.categories.size(), 1)) + 0.5};
  std::string s = svg_open(p.id, "line-plot", point_count(p));
  draw_axes(s, f, p.x, p.y);
  for (double g : p.guides)
    if (g >= f.y.lo && g <= f.y.hi)
      s += "<line class=\"guide\" x1=\"" + num(kLeft) + "\" y1=\"" + num(f.py(g)) + "\" x2=\"" +
           num(kWidth - kRight) + "\" y2=\"" + num(f.py(g)) + "\"/>";
  for (const PlotSeries& series : p.series) draw_series(s, f, p.x, series);
  draw_legend(s, p.series);
  return s + "</svg>";
}

std::string render_heat_map(const HeatMap& h) {
  const size_t cells = static_cast<size_t>(std::max(h.nx, 0)) * static_cast<size_t>(std::max(h.ny, 0));
  double scale = std::log(1.05);
  for (size_t k = 0; k < cells && k < h.values.size(); ++k)
    if (h.values[k] > 0) scale = std::max(scale, std::fabs(std::log(static_cast<double>(h.values[k]))));
  std::string s = svg_open(h.id, "heat-map", std::min(cells, h.values.size()));
  Frame f{{h.x0, h.x1}, {h.y0, h.y1}};
  if (!(f.x.hi > f.x.lo)) f.x.hi = f.x.lo + 1;
  if (!(f.y.hi > f.y.lo)) f.y.hi = f.y.lo + 1;
  PlotAxis ay = h.y;
  if (!h.row_labels.empty()) {
    ay.scale = AxisScale::kCategory;
    ay.categories = h.row_labels;
    f.y = {0.5, static_cast<double>(h.ny) + 0.5};
  }
  // Detector images put the first row at the top: mirror the y mapping.
  const auto row_y = [&](double v) { return h.y_down ? f.y.hi + f.y.lo - v : v; };
  draw_axes(s, f, h.x, ay, h.y_down);
  const double dx = (f.x.hi - f.x.lo) / h.nx;
  const double dy = h.row_labels.empty() ? (f.y.hi - f.y.lo) / h.ny : 1.0;
  for (int j = 0; j < h.ny; ++j)
    for (int i = 0; i < h.nx; ++i) {
      const size_t k = static_cast<size_t>(j) * static_cast<size_t>(h.nx) + static_cast<size_t>(i);
      if (k >= h.values.size()) continue;
      const double v = h.values[k];
      const double ylo = row_y(f.y.lo + j * dy), yhi = row_y(f.y.lo + (j + 1) * dy);
      const double top = std::min(f.py(ylo), f.py(yhi)), bottom = std::max(f.py(ylo), f.py(yhi));
      const double left = f.px(f.x.lo + i * dx), right = f.px(f.x.lo + (i + 1) * dx);
      std::string tip = h.value_name + " " + short_number(v, 4) + " (" + std::to_string(i + 1) + ", " +
                        std::to_string(j + 1) + ")";
      if (static_cast<size_t>(j) < h.row_tips.size()) tip += " " + h.row_tips[static_cast<size_t>(j)];
      s += "<rect class=\"cell\" x=\"" + num(left) + "\" y=\"" + num(top) + "\" width=\"" + num(right - left + 0.3) +
           "\" height=\"" + num(bottom - top + 0.3) + "\" fill=\"" + factor_colour(v, scale) + "\"><title>" +
           escape_html(tip) + "</title></rect>";
    }
  // Colour key across the top: the factors that get the full blue, white and red.
  const double kx = kWidth - kRight - 150;
  s += "<defs><linearGradient id=\"" + escape_html(h.id) + "-key\"><stop offset=\"0\" stop-color=\"" +
       factor_colour(std::exp(-scale), scale) + "\"/><stop offset=\"0.5\" stop-color=\"#f7f7f7\"/><stop offset=\"1\" stop-color=\"" +
       factor_colour(std::exp(scale), scale) + "\"/></linearGradient></defs>";
  s += "<rect x=\"" + num(kx) + "\" y=\"8\" width=\"150\" height=\"10\" fill=\"url(#" + escape_html(h.id) +
       "-key)\" stroke=\"#888\" stroke-width=\"0.5\"/>";
  s += "<text class=\"tick\" x=\"" + num(kx) + "\" y=\"30\" text-anchor=\"start\">" + short_number(std::exp(-scale), 3) +
       "</text><text class=\"tick\" x=\"" + num(kx + 75) + "\" y=\"30\" text-anchor=\"middle\">1</text><text class=\"tick\" x=\"" +
       num(kx + 150) + "\" y=\"30\" text-anchor=\"end\">" + short_number(std::exp(scale), 3) + "</text>";
  s += "<text class=\"legend\" x=\"" + num(kLeft) + "\" y=\"18\">" + escape_html(h.value_name) + "</text>";
  return s + "</svg>";
}

}  // namespace velmar::report
