// The HTML page of a finished run.
//
// The page is one document with its style and its one small script inline, and every plot
// an inline SVG: it opens without network access. The script only records script errors and
// writes, after the page is laid out, which plots the browser drew with their data points
// (the element #render-status), for the page's own tests.
#include "report/html_page.hpp"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "report/cbf_image.hpp"
#include "report/svg_plot.hpp"

namespace velmar::report {
namespace {

// --- page building blocks -------------------------------------------------------------------

struct Page {
  std::string body;
  std::string contents;  // the list of sections

  void section(const std::string& id, const std::string& title) {
    body += "<section id=\"" + id + "\"><h2>" + escape_html(title) + "</h2>\n";
    contents += "<li><a href=\"#" + id + "\">" + escape_html(title) + "</a></li>";
  }
  void end_section() { body += "</section>\n"; }
  void heading(const std::string& text) { body += "<h3>" + escape_html(text) + "</h3>\n"; }
  void open_grid() { body += "<div class=\"grid\">\n"; }
  void close_grid() { body += "</div>\n"; }
  void figure(const std::string& title, const std::string& svg, const std::string& caption) {
    body += "<figure><h4>" + escape_html(title) + "</h4>" + svg + "<figcaption>" + caption + "</figcaption></figure>\n";
  }
  void note(const std::string& html) { body += "<p class=\"note\">" + html + "</p>\n"; }
};

std::string fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "&ndash;";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string angstrom(double d) { return fixed(d, 2) + "&nbsp;&Aring;"; }

// Cells of a table row; the first is a header cell when `head`.
std::string row(std::initializer_list<std::string> cells, bool head = false) {
  std::string s = "<tr>";
  for (const std::string& c : cells) s += (head ? "<th>" : "<td>") + c + (head ? "</th>" : "</td>");
  return s + "</tr>";
}

// The centre, in 1/d^2, of each resolution shell given by its high-resolution limits.
std::vector<double> shell_centres(const std::vector<float>& limits) {
  std::vector<double> x;
  double previous = 0;
  for (float d : limits) {
    const double s = d > 0 ? 1.0 / (static_cast<double>(d) * d) : NAN;
    x.push_back(std::isfinite(s) ? (previous + s) / 2 : NAN);
    if (std::isfinite(s)) previous = s;
  }
  return x;
}

std::vector<std::string> shell_tips(const std::vector<float>& limits, const std::vector<double>& y,
                                    const std::string& unit, int decimals) {
  std::vector<std::string> tips;
  for (size_t k = 0; k < limits.size() && k < y.size(); ++k) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s%.2f \xC3\x85: %.*f%s", k == 0 ? "\xE2\x89\xA5 " : "",
                  static_cast<double>(limits[k]), decimals, y[k], unit.c_str());
    if (k > 0) {
      char range[96];
      std::snprintf(range, sizeof range, "%.2f\xE2\x80\x93", static_cast<double>(limits[k - 1]));
      tips.push_back(range + std::string(buf));
    } else {
      tips.push_back(buf);
    }
  }
  return tips;
}

PlotSeries named(const std::string& name, int colour) {
  PlotSeries s;
  s.name = name;
  s.colour = colour;
  return s;
}

PlotAxis resolution_axis() {
  PlotAxis a;
  a.label = "Resolution (\xC3\x85)";
  a.scale = AxisScale::kResolution;
  a.include_zero = true;
  return a;
}

PlotAxis value_axis(const std::string& label, bool zero = false) {
  PlotAxis a;
  a.label = label;
  a.include_zero = zero;
  return a;
}

PlotAxis category_axis(const std::string& label, std::vector<std::string> categories) {
  PlotAxis a;
  a.label = label;
  a.scale = AxisScale::kCategory;
  a.categories = std::move(categories);
  return a;
}

PlotSeries shell_series(const std::string& name, const std::vector<float>& limits, const std::vector<double>& y,
                        int colour, const std::string& unit, int decimals) {
  PlotSeries s;
  s.name = name;
  s.x = shell_centres(limits);
  s.y = y;
  s.colour = colour;
  s.tips = shell_tips(limits, y, unit, decimals);
  return s;
}

std::string plot(const std::string& id, PlotAxis x, PlotAxis y, std::vector<PlotSeries> series,
                 std::vector<double> guides = {}) {
  LinePlot p;
  p.id = id;
  p.x = std::move(x);
  p.y = std::move(y);
  p.series = std::move(series);
  p.guides = std::move(guides);
  return render_line_plot(p);
}

// --- header and messages ---------------------------------------------------------------------

void add_messages(Page& page, const RunReport& r) {
  page.body += "<div class=\"messages\">";
  if (r.messages.empty())
    page.body += "<p class=\"ok\">The run finished without warnings or errors.</p>";
  for (const RunMessage& m : r.messages) {
    std::string text = escape_html(m.text);
    for (size_t p = text.find('\n'); p != std::string::npos; p = text.find('\n', p)) text.replace(p, 1, "<br>");
    page.body += std::string("<p class=\"") + (m.error ? "error" : "warning") + "\">" + text + "</p>";
  }
  page.body += "</div>\n";
}

void add_summary(Page& page, const RunReport& r) {
  page.body += "<table class=\"summary\">";
  page.body += row({"Output file", "Resolution", "Completeness", "I/&sigma;", "R-meas", "CC(1/2)", "SigAno",
                    "Reflections written"},
                   true);
  for (const OutputStatistics& o : r.statistics) {
    if (o.shells.empty()) continue;
    const ShellStatistics& out = o.shells.back();
    const auto pair = [](double total, double outer, int decimals, const char* unit) {
      return fixed(total, decimals) + unit + " <span class=\"outer\">(" + fixed(outer, decimals) + unit + ")</span>";
    };
    page.body += row({escape_html(o.file), "&ge;&nbsp;" + angstrom(out.limit),
                      pair(o.total.completeness, out.completeness, 1, "%"), pair(o.total.i_sigma, out.i_sigma, 1, ""),
                      pair(o.total.r_meas, out.r_meas, 1, "%"), pair(o.total.cc_half, out.cc_half, 1, ""),
                      o.total.nano > 0 ? pair(o.total.sig_ano, out.sig_ano, 2, "") : "&ndash;", std::to_string(o.written)});
  }
  page.body += "</table><p class=\"hint\">Whole data set, with the outermost shell in brackets.</p>\n";
}

// --- statistics per output file ------------------------------------------------------------

void add_statistics(Page& page, const OutputStatistics& o, size_t n) {
  const std::string id = "out" + std::to_string(n + 1);
  page.section(id, "Statistics of " + o.file);
  page.note(std::string("MERGE=") + (o.merged ? "TRUE" : "FALSE") + ", FRIEDEL'S_LAW=" + (o.friedel ? "TRUE" : "FALSE") +
            "; " + std::to_string(o.rejected) + " of " + std::to_string(o.considered) + " observations rejected, " +
            std::to_string(o.written) + " reflections written." +
            (o.friedel ? "" : " Friedel pairs are treated as different reflections."));
  if (o.shells.empty()) {
    page.note("The report has no statistics table for this file.");
    page.end_section();
    return;
  }
  std::vector<float> limit;
  std::vector<double> completeness, isig, rmeas, robs, rexp, cc, anom, sigano;
  std::vector<bool> cc_open, anom_open;
  for (const ShellStatistics& s : o.shells) {
    limit.push_back(s.limit);
    completeness.push_back(s.completeness), isig.push_back(s.i_sigma);
    rmeas.push_back(s.r_meas > -99 ? s.r_meas : NAN), robs.push_back(s.r_observed > -99 ? s.r_observed : NAN);
    rexp.push_back(s.r_expected > -99 ? s.r_expected : NAN);
    cc.push_back(s.cc_half > -99 ? s.cc_half : NAN), cc_open.push_back(!s.cc_half_significant);
    anom.push_back(s.anomalous_corr > -99 ? s.anomalous_corr : NAN), anom_open.push_back(!s.anomalous_significant);
    sigano.push_back(s.nano > 0 ? s.sig_ano : NAN);
  }
  page.open_grid();
  PlotAxis percent = value_axis("Completeness (%)", true);
  percent.has_max = true, percent.max = 100.0 * 1.04;
  page.figure("Completeness", plot(id + "-completeness", resolution_axis(), percent,
                                   {shell_series("completeness", limit, completeness, 0, " %", 1)}, {100}),
              "Share of the possible unique reflections that were measured, per resolution shell. A complete data "
              "set stays above 95&nbsp;% in every shell, the outermost included; a dip at low resolution points to "
              "overloads or the beam stop, a fall at high resolution to the detector edge.");
  page.figure("I/\xCF\x83(I)", plot(id + "-isigma", resolution_axis(), value_axis("Mean I/\xCF\x83(I)", true),
                                   {shell_series("I/\xCF\x83", limit, isig, 0, "", 2)}, {2}),
              "Mean signal-to-noise ratio of the merged unique reflections. It falls with resolution; strong data "
              "stay well above 2 (dashed line) up to the chosen limit, and the shell where it reaches 1&ndash;2 "
              "marks the useful resolution.");
  page.figure("R-meas and R-factors",
              plot(id + "-rmeas", resolution_axis(), value_axis("R (%)", true),
                   {shell_series("R-meas", limit, rmeas, 0, " %", 1), shell_series("R observed", limit, robs, 1, " %", 1),
                    shell_series("R expected", limit, rexp, 2, " %", 1)}),
              "R-meas (independent of the multiplicity) and the observed and expected R-factors, in percent. Good "
              "data have a few percent at low resolution, rising smoothly; observed close to expected means the "
              "sigmas describe the scatter of the data.");
  PlotSeries ccs = shell_series("CC(1/2)", limit, cc, 0, " %", 1);
  ccs.hollow = cc_open;
  page.figure("CC(1/2)", plot(id + "-cchalf", resolution_axis(), value_axis("CC(1/2) (%)", true), {ccs}, {30}),
              "Correlation between the intensities of random half data sets, in percent; filled points are "
              "significant at the 0.1&nbsp;% level, open ones are not. Good data are near 100 at low resolution and "
              "stay significant to the limit; a common resolution cut is where CC(1/2) falls to about 30 (dashed).");
  if (o.total.nano > 0) {
    PlotSeries an = shell_series("anomalous correlation", limit, anom, 1, " %", 0);
    an.hollow = anom_open;
    page.figure("Anomalous correlation",
                plot(id + "-anomcorr", resolution_axis(), value_axis("Anomalous correlation (%)", true), {an}, {0}),
                "Correlation of the anomalous differences of random half data sets, in percent; filled points are "
                "significant at the 0.1&nbsp;% level. A usable anomalous signal gives clearly positive, significant "
                "values at low resolution that fall towards 0 with resolution; values around 0 mean no signal.");
    page.figure("SigAno", plot(id + "-sigano", resolution_axis(), value_axis("Mean |\xCE\x94""F|/\xCF\x83", true),
                               {shell_series("SigAno", limit, sigano, 1, "", 3)}, {0.8}),
                "Mean anomalous difference |F(+)&minus;F(&minus;)| in units of its sigma. Noise alone gives about "
                "0.8 (dashed line); values clearly above 1 show a measurable anomalous signal.");
  }
  if (!o.inputs.empty()) {
    std::vector<PlotSeries> series;
    for (size_t k = 0; k < o.inputs.size(); ++k) {
      const InputRFactors& in = o.inputs[k];
      std::vector<double> r;
      for (float v : in.r_observed) r.push_back(v > -99 ? v : NAN);
      series.push_back(shell_series(in.name, in.limit, r, static_cast<int>(k), " %", 1));
    }
    page.figure("R-factor of each input data set",
                plot(id + "-inputs", resolution_axis(), value_axis("R observed (%)", true), series),
                "R-factor of each input data set against the merged intensities. Data sets that agree lie on one "
                "curve; one far above the others is of lower quality or does not belong with them.");
  }
  page.close_grid();
  page.end_section();
}

// --- scaling, error model -------------------------------------------------------------------

// "#n", the label of data set n.
std::string set_label(size_t n) {
  std::string label(1, '#');
  return label.append(std::to_string(n));
}

std::vector<std::string> numbered(size_t n) {
  std::vector<std::string> c;
  for (size_t k = 1; k <= n; ++k) c.push_back(set_label(k));
  return c;
}

void add_scaling(Page& page, const RunReport& r) {
  if (r.scaling.empty() && r.error_model.empty()) return;
  page.section("scaling", "Scaling of the data sets");
  for (size_t b = 0; b < r.scaling.size(); ++b) {
    const OverallScaling& s = r.scaling[b];
    const std::string id = "scaling" + std::to_string(b + 1);
    page.body += "<table><tr><th>#</th><th>K</th><th>B (&Aring;&sup2;)</th><th>Data set</th></tr>";
    for (size_t k = 0; k < s.factors.size(); ++k)
      page.body += row({std::to_string(k + 1), fixed(s.factors[k].k, 4), fixed(s.factors[k].b, 3),
                        escape_html(s.factors[k].name)});
    page.body += "</table>\n";
    page.open_grid();
    PlotSeries k = named("", 0), bf = named("", 1);
    for (size_t j = 0; j < s.factors.size(); ++j) {
      const double x = static_cast<double>(j + 1);
      k.x.push_back(x), k.y.push_back(s.factors[j].k), bf.x.push_back(x), bf.y.push_back(s.factors[j].b);
      k.tips.push_back(set_label(j + 1) + " " + s.factors[j].name + ": K = " + fixed(s.factors[j].k, 4));
      bf.tips.push_back(set_label(j + 1) + " " + s.factors[j].name + ": B = " + fixed(s.factors[j].b, 3));
    }
    k.line = bf.line = false;
    if (!s.factors.empty()) {
      page.figure("Scale factor K", plot(id + "-k", category_axis("Data set", numbered(s.factors.size())),
                                         value_axis("K", true), {k}, {1}),
                  "Overall scale K of each data set (applied as K&middot;exp(B&middot;SS), the reference data set "
                  "keeps K&nbsp;=&nbsp;1). Data sets of one crystal and one beam usually lie within a factor of a "
                  "few; K reflects exposure and crystal volume, not quality.");
      page.figure("Disorder factor B", plot(id + "-b", category_axis("Data set", numbered(s.factors.size())),
                                            value_axis("B (\xC3\x85\xC2\xB2)", true), {bf}, {0}),
                  "Relative B of each data set against the reference. Values within a few &Aring;&sup2; are "
                  "usual; a large difference means one data set fades faster with resolution (radiation damage, "
                  "a different crystal or a different part of it).");
    }
    if (!s.pairs.empty()) {
      PlotSeries c = named("", 2);
      std::vector<std::string> names;
      for (size_t j = 0; j < s.pairs.size(); ++j) {
        const DataSetPair& p = s.pairs[j];
        names.push_back(std::to_string(p.i) + "\xE2\x80\x93" + std::to_string(p.j));
        c.x.push_back(static_cast<double>(j + 1)), c.y.push_back(p.correlation);
        c.tips.push_back(set_label(static_cast<size_t>(p.i)) + " and " + set_label(static_cast<size_t>(p.j)) + ": " + fixed(p.correlation, 3) +
                         " over " + std::to_string(p.common) + " common reflections");
      }
      c.line = false;
      PlotAxis y = value_axis("Correlation", true);
      y.has_max = true, y.max = 1.02;
      page.figure("Correlation between data sets", plot(id + "-pairs", category_axis("Pair of data sets", names), y, {c}, {0.6}),
                  "Correlation of the common strong reflections of each pair after scaling. Data sets from one "
                  "crystal correlate above 0.9; below 0.6 (dashed) the program warns that they may be incompatible.");
    }
    page.close_grid();
  }
  if (!r.error_model.empty()) {
    page.heading("Error model");
    page.body += "<table><tr><th>#</th><th>a</th><th>b</th><th>ISa</th><th>ISa0</th><th>Data set</th></tr>";
    PlotSeries isa = named("ISa", 0), isa0 = named("ISa0", 7);
    for (size_t j = 0; j < r.error_model.size(); ++j) {
      const ErrorModelRow& e = r.error_model[j];
      char a[32], b[32];
      std::snprintf(a, sizeof a, "%.3E", static_cast<double>(e.a));
      std::snprintf(b, sizeof b, "%.3E", static_cast<double>(e.b));
      page.body += row({std::to_string(j + 1), a, b, fixed(e.isa, 2), fixed(e.isa0, 2), escape_html(e.name)});
      const double x = static_cast<double>(j + 1);
      isa.x.push_back(x), isa.y.push_back(e.isa > 0 ? e.isa : NAN);
      isa0.x.push_back(x), isa0.y.push_back(e.isa0 > 0 ? e.isa0 : NAN);
    }
    page.body += "</table>\n";
    isa.line = isa0.line = false;
    page.open_grid();
    page.figure("ISa per data set",
                plot("isa", category_axis("Data set", numbered(r.error_model.size())), value_axis("ISa", true),
                     {isa, isa0}),
                "ISa&nbsp;=&nbsp;1/&radic;(a&middot;b) is the highest I/&sigma; the experiment can give; ISa0 the "
                "value from the input error model. Good data reach ISa of 20&ndash;30 or more; ISa far below ISa0 "
                "means the scaling found systematic errors. Data sets whose counting errors are unknown have no "
                "point.");
    page.close_grid();
  }
  page.end_section();
}

// --- correction factors -------------------------------------------------------------------

const char* kind_title(CorrectionKind k) {
  switch (k) {
    case CorrectionKind::kDecay: return "DECAY: image number and resolution";
    case CorrectionKind::kModulation: return "MODULATION: detector surface";
    case CorrectionKind::kAbsorption: return "ABSORPTION: image number and detector position";
  }
  return "";
}

const char* kind_caption(CorrectionKind k) {
  switch (k) {
    case CorrectionKind::kDecay:
      return "Factor by which the measured intensities differ from the scaled mean, per image batch (across) and "
             "resolution (up), 1 meaning no change. Good data show values near 1 that vary smoothly; values falling "
             "with image number, most at high resolution, show radiation damage.";
    case CorrectionKind::kModulation:
      return "Factor across the detector (pixels, first row at the top). A calibrated detector gives values within "
             "a few percent of 1 that vary smoothly; sharp features point to detector defects or shadows.";
    case CorrectionKind::kAbsorption:
      return "Factor per image batch (across) and detector surface position (rows: node 1 at the centre, 2&ndash;5 the inner and 6&ndash;13 the "
             "outer ring, with their detector position in the hover text). Variation of a few percent with the rotation is usual for a mounted crystal; more means "
             "strong absorption by the crystal or its mount.";
  }
  return "";
}

std::string cell_image_map(const CorrectionImage& im, CorrectionKind kind, const CbfImage& cbf, const std::string& id) {
  HeatMap h;
  h.id = id;
  h.nx = cbf.nx;
  h.ny = cbf.ny;
  for (int32_t v : cbf.pixels) h.values.push_back(static_cast<float>(v) / 1000.0f);
  h.x0 = im.xmin, h.x1 = im.xmax;
  h.x.label = kind == CorrectionKind::kModulation ? "Detector X (pixels)" : "Image number";
  if (kind == CorrectionKind::kDecay) {
    h.y0 = im.ymin, h.y1 = im.ymax;
    h.y.label = "Resolution (\xC3\x85)";
    h.y.scale = AxisScale::kResolution;
  } else if (kind == CorrectionKind::kModulation) {
    h.y0 = im.ymin, h.y1 = im.ymax;
    h.y.label = "Detector Y (pixels)";
    h.y_down = true;
  } else {
    h.y.label = "Detector position (node)";
    h.y_down = true;
    for (size_t k = 0; k < im.surface.size(); ++k) h.row_labels.push_back(std::to_string(k + 1));
    for (const std::array<int, 2>& node : im.surface)
      h.row_tips.push_back("at x " + std::to_string(node[0]) + ", y " + std::to_string(node[1]));
  }
  return render_heat_map(h);
}

// The data set an image belongs to, from its first header line " INPUT_FILE=name".
std::string image_data_set(const CbfImage& cbf) {
  constexpr std::string_view kKey = " INPUT_FILE=";
  if (cbf.header_contents.empty() || !cbf.header_contents[0].starts_with(kKey)) return {};
  std::string name = cbf.header_contents[0].substr(kKey.size());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

// The images of one kind, all data sets of all groups side by side; images that cannot be
// shown get a note under them.
void add_correction_kind(Page& page, const RunReport& r, const std::string& dir, CorrectionKind kind) {
  std::string notes;
  page.open_grid();
  for (const CorrectionGroup& g : r.corrections) {
    if (g.kind != kind) continue;
    for (const CorrectionImage& im : g.images) {
      CbfImage cbf;
      std::string error;
      std::string id = "cbf-" + im.file;
      for (char& c : id)
        if (c == '.') c = '-';
      if (!read_cbf_image(dir + "/" + im.file, cbf, error)) {
        notes += "<p class=\"note\">The image " + escape_html(im.file) + " is not shown: " + escape_html(error) + ".</p>";
        continue;
      }
      if (cbf.nx != im.nx || cbf.ny != im.ny) {
        notes += "<p class=\"note\">The image " + escape_html(im.file) + " is not shown: its size " +
                 std::to_string(cbf.nx) + " x " + std::to_string(cbf.ny) + " differs from the report's " +
                 std::to_string(im.nx) + " x " + std::to_string(im.ny) + " (an image of another run?).</p>";
        continue;
      }
      const std::string set = image_data_set(cbf);
      page.figure(im.file + (set.empty() ? "" : ": " + set) + " \xE2\x86\x92 " + g.output_file,
                  cell_image_map(im, kind, cbf, id),
                  std::string(kind_caption(kind)) + " From " + std::to_string(im.reflections) + " observations.");
    }
  }
  page.close_grid();
  page.body += notes;
}

void add_corrections(Page& page, const RunReport& r, const std::string& dir) {
  if (r.corrections.empty()) return;
  page.section("corrections", "Correction factors");
  for (CorrectionKind kind : {CorrectionKind::kDecay, CorrectionKind::kModulation, CorrectionKind::kAbsorption}) {
    bool any = false;
    for (const CorrectionGroup& g : r.corrections) {
      if (g.kind != kind) continue;
      if (!any) page.heading(kind_title(kind));
      any = true;
      page.note("Data sets merged to " + escape_html(g.output_file) + ": " + std::to_string(g.factors) +
                " factors, &chi;&sup2; of the fit " + fixed(g.chi2, 3) + " over " + fixed(g.degrees_of_freedom, 0) +
                " degrees of freedom, " + std::to_string(g.cycles) + " cycles (FRIEDEL'S_LAW=" +
                (g.friedel ? "TRUE" : "FALSE") + ").");
    }
    if (any) add_correction_kind(page, r, dir, kind);
  }
  page.end_section();
}

// --- Wilson -------------------------------------------------------------------------------

double acentric_theory(double z) { return 1.0 - std::exp(-z); }
double centric_theory(double z) { return std::erf(std::sqrt(z / 2.0)); }

void add_wilson(Page& page, const WilsonSection& w, size_t n) {
  const std::string id = "wilson" + std::to_string(n + 1);
  page.section(id, "Wilson statistics of " + w.file);
  page.note("Wilson line: A&nbsp;=&nbsp;" + fixed(w.a, 3) + ", B&nbsp;=&nbsp;" + fixed(w.b, 2) +
            "&nbsp;&Aring;&sup2;, correlation " + fixed(w.correlation, 2) + "." +
            (w.aliens > 0 ? " " + std::to_string(w.aliens) + " reflections do not obey the Wilson distribution (see "
                                                             "VELMAR.LP)."
                          : ""));
  page.open_grid();
  if (!w.shells.empty()) {
    PlotSeries pts = named("ln<I> per shell", 0), fit = named("fitted line", 1);
    pts.line = false;
    double lo = INFINITY, hi = -INFINITY;
    for (const WilsonShell& s : w.shells) {
      pts.x.push_back(s.ss);
      pts.y.push_back(s.mean_intensity > 0 ? s.log_mean : NAN);
      pts.tips.push_back(fixed(s.resolution, 2) + " \xC3\x85: ln<I> = " + fixed(s.log_mean, 3) + ", " +
                         std::to_string(s.count) + " reflections");
      lo = std::min(lo, static_cast<double>(s.ss)), hi = std::max(hi, static_cast<double>(s.ss));
    }
    fit.points = false;
    fit.dashed = true;
    if (std::isfinite(lo) && (w.a != 0 || w.b != 0))
      for (double x : {0.0, hi}) fit.x.push_back(x), fit.y.push_back(w.a - 2.0 * w.b * x);
    PlotAxis x = value_axis("(sin \xCE\xB8/\xCE\xBB)\xC2\xB2 (\xC3\x85\xE2\x81\xBB\xC2\xB2)", true);
    page.figure("Wilson plot", plot(id + "-plot", x, value_axis("ln<I>"), {pts, fit}),
                "Logarithm of the mean intensity per shell with the fitted line ln&lt;I&gt;&nbsp;=&nbsp;A&nbsp;&minus;"
                "&nbsp;2B&middot;(sin&theta;/&lambda;)&sup2;. For a well-ordered crystal the shells beyond about "
                "4.5&nbsp;&Aring; lie on a straight line (protein crystals have B of 10&ndash;60&nbsp;&Aring;&sup2;); "
                "the dip near 6&nbsp;&Aring; and the bump near 4&nbsp;&Aring; are normal for proteins, while "
                "outer shells bending up mean that they hold mostly noise.");
  }
  const auto cumulative = [](const std::vector<CumulativeRow>& rows, double (*theory)(double), const std::string& name,
                             int colour, std::vector<PlotSeries>& series) {
    if (rows.empty() || rows.back().count <= 0) return;
    PlotSeries obs = named(name, colour), th = named("", colour);
    obs.line = false;
    th.points = false;
    th.dashed = true;
    for (size_t k = 0; k < 10; ++k) {
      const double z = 0.1 * static_cast<double>(k + 1);
      obs.x.push_back(z), obs.y.push_back(rows.back().ratio[k] * theory(z));
      obs.tips.push_back("Z = " + fixed(z, 1) + ": " + fixed(obs.y.back(), 3) + " (ratio to theory " +
                         fixed(rows.back().ratio[k], 2) + ")");
    }
    for (int k = 0; k <= 20; ++k) th.x.push_back(0.05 * k), th.y.push_back(theory(0.05 * k));
    series.push_back(std::move(obs));
    series.push_back(std::move(th));
  };
  std::vector<PlotSeries> cum;
  cumulative(w.acentric_cumulative, acentric_theory, "acentric", 0, cum);
  cumulative(w.centric_cumulative, centric_theory, "centric", 1, cum);
  if (!cum.empty()) {
    PlotAxis y = value_axis("Fraction with I \xE2\x89\xA4 Z<I>", true);
    page.figure("Cumulative intensity distribution",
                plot(id + "-cumulative", value_axis("Z = I/<I>", true), y, cum),
                "Fraction of the reflections with I&nbsp;&le;&nbsp;Z&lt;I&gt; over all shells; the dashed lines are "
                "the distributions for randomly placed atoms. Good data follow the lines. Too few weak acentric "
                "reflections (points below the line at small Z) point to twinning; too many, to pseudo-symmetry or "
                "translational NCS.");
  }
  std::vector<PlotSeries> moments;
  const auto moment_series = [&](const std::vector<MomentRow>& rows, const std::string& name, int colour) {
    PlotSeries s = named(name, colour);
    for (const MomentRow& m : rows) {
      if (m.resolution <= 0 || m.count <= 0) continue;
      s.x.push_back(1.0 / (static_cast<double>(m.resolution) * m.resolution));
      s.y.push_back(m.ratio[0]);
      s.tips.push_back(fixed(m.resolution, 2) + " \xC3\x85: " + fixed(m.ratio[0], 3) + " (" + std::to_string(m.count) +
                       " reflections)");
    }
    if (!s.x.empty()) moments.push_back(std::move(s));
  };
  moment_series(w.acentric_moments, "acentric <I\xC2\xB2>/2<I>\xC2\xB2", 0);
  moment_series(w.centric_moments, "centric <I\xC2\xB2>/3<I>\xC2\xB2", 1);
  if (!moments.empty())
    page.figure("Second moment of the intensities",
                plot(id + "-moments", resolution_axis(), value_axis("Ratio to theory", true), moments, {1, 0.75}),
                "&lt;I&sup2;&gt;/&lt;I&gt;&sup2; per shell divided by its value for randomly placed atoms (2 for "
                "acentric, 3 for centric reflections). Untwinned data scatter around 1; a perfect merohedral twin "
                "gives 0.75 for acentric data (lower dashed line), pseudo-symmetry values above 1.");
  page.close_grid();
  page.end_section();
}

// --- zero dose ----------------------------------------------------------------------------

void add_zero_dose(Page& page, const ZeroDose& z) {
  if (!z.present) return;
  page.section("zerodose", "Zero-dose extrapolation");
  page.note("Each intensity is corrected by exp(&minus;b(h)&middot;dose) with a decay constant b(h) per reflection, "
            "accepted only when the hypothesis b(h)&nbsp;=&nbsp;0 has a probability below " +
            fixed(z.level_percent, 1) + "&nbsp;%.");
  for (const CrystalDoses& c : z.doses) {
    page.heading("X-ray dose parameters of crystal " + c.crystal);
    page.body += "<table><tr><th colspan=\"2\">STARTING_DOSE</th><th colspan=\"2\">DOSE_RATE</th><th rowspan=\"2\">"
                 "Data set</th></tr><tr><th>initial</th><th>refined</th><th>initial</th><th>refined</th></tr>";
    for (const DoseRow& d : c.rows)
      page.body += row({fixed(d.start_initial, 3) + (d.start_held ? "*" : ""), fixed(d.start_refined, 3),
                        fixed(d.rate_initial, 3) + (d.rate_held ? "*" : ""), fixed(d.rate_refined, 3),
                        escape_html(d.name)});
    page.body += "</table><p class=\"hint\">* held fixed in the refinement.</p>\n";
  }
  page.open_grid();
  for (size_t n = 0; n < z.statistics.size(); ++n) {
    const CrystalZeroDose& c = z.statistics[n];
    if (c.shells.empty()) continue;
    std::vector<float> limit;
    std::vector<double> nunique, corrected, ratio;
    for (const ZeroDoseShell& s : c.shells) {
      limit.push_back(s.limit);
      nunique.push_back(static_cast<double>(s.nunique)), corrected.push_back(static_cast<double>(s.corrected));
      ratio.push_back(s.sigma_ratio);
    }
    const std::string id = "zerodose" + std::to_string(n + 1);
    page.figure("Corrected reflections, crystal " + c.crystal,
                plot(id + "-counts", resolution_axis(), value_axis("Unique reflections", true),
                     {shell_series("with a decay fit (NUNIQUE)", limit, nunique, 0, "", 0),
                      shell_series("corrected (N0-DOSE)", limit, corrected, 1, "", 0)}),
                "Unique reflections with enough observations for a decay constant, and those whose correction was "
                "accepted. Over all shells N0-DOSE/NERROR is " + fixed(c.total.corrected_per_error, 1) +
                "; a large ratio (many more corrections than the level lets through by chance) justifies the "
                "correction.");
    page.figure("Scatter after the correction, crystal " + c.crystal,
                plot(id + "-sigma", resolution_axis(), value_axis("S_corr/S_norm", false),
                     {shell_series("S_corr/S_norm", limit, ratio, 2, "", 3)}, {1}),
                "Mean sigma of the corrected reflections over that without the correction. Values below 1 "
                "(dashed) mean the correction brought symmetry-related observations closer together; a shell "
                "without accepted corrections prints 1.");
  }
  for (size_t n = 0; n < z.correlations.size(); ++n) {
    const DecayCorrelation& c = z.correlations[n];
    if (c.limit.empty()) continue;
    std::vector<double> corr(c.correlation.begin(), c.correlation.end());
    PlotAxis y = value_axis("Correlation", true);
    y.has_min = true, y.min = -1.02, y.has_max = true, y.max = 1.02;
    page.figure("Decay factors of " + c.first + " and " + c.second,
                plot("decaycorr" + std::to_string(n + 1), resolution_axis(), y,
                     {shell_series("correlation", c.limit, corr, 4, "", 3)}, {0}),
                "Correlation of the decay factors of reflections measured in both data sets (crystals " +
                    escape_html(c.first_crystal) + " and " + escape_html(c.second_crystal) + "; " +
                    std::to_string(c.total_pairs) + " reflections, overall " + fixed(c.total_correlation, 3) +
                    "). Data sets from one crystal should correlate positively: the same reflections decay in "
                    "both." + (c.warning.empty() ? "" : " <strong>" + escape_html(c.warning) + "</strong>"));
  }
  if (!z.sigma_scaling.empty()) {
    std::vector<PlotSeries> series;
    for (size_t n = 0; n < z.sigma_scaling.size(); ++n) {
      const SigmaScaling& s = z.sigma_scaling[n];
      PlotSeries p = named(s.name, static_cast<int>(n));
      for (size_t k = 0; k < s.resolution.size() && k < s.factor.size(); ++k) {
        if (s.resolution[k] <= 0) continue;
        p.x.push_back(1.0 / (static_cast<double>(s.resolution[k]) * s.resolution[k]));
        p.y.push_back(s.factor[k]);
      }
      series.push_back(std::move(p));
    }
    page.figure("Scaling factors for \xCF\x83(I)",
                plot("sigmascale", resolution_axis(), value_axis("Factor", false), series, {1}),
                "Factor by which the sigmas of each data set were multiplied, per resolution bin, so that the "
                "scatter of symmetry-related observations matches them. Factors near 1 mean the error model "
                "already described the data.");
  }
  page.close_grid();
  page.end_section();
}

// --- the document -------------------------------------------------------------------------

constexpr char kStyle[] = R"(
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;margin:0;color:#222;background:#f4f5f7;line-height:1.4}
header{background:#24364f;color:#fff;padding:18px 32px}
header h1{margin:0 0 4px;font-size:24px}
header p{margin:2px 0;color:#d8e0ea;font-size:14px}
main{max-width:1600px;margin:0 auto;padding:12px 28px 40px}
nav ul{list-style:none;padding:0;margin:8px 0 0;display:flex;flex-wrap:wrap;gap:6px 16px;font-size:14px}
nav a{color:#1f4f8a;text-decoration:none}
section{background:#fff;border-radius:8px;box-shadow:0 1px 3px rgba(0,0,0,.12);padding:12px 22px 18px;margin:18px 0}
h2{font-size:20px;margin:6px 0 10px;color:#24364f}
h3{font-size:16px;margin:16px 0 6px;color:#24364f}
h4{font-size:14px;margin:0 0 4px}
.grid{display:flex;flex-wrap:wrap;gap:14px}
figure{margin:0;box-sizing:border-box;width:450px;border:1px solid #e3e6ea;border-radius:6px;padding:8px;background:#fff}
figcaption{font-size:12.5px;color:#444;margin-top:4px}
svg.plot{display:block;width:100%;height:auto;font-size:11px}
svg .area{fill:#fbfcfd;stroke:#9aa3ad;stroke-width:1}
svg .grid{stroke:#e4e7eb;stroke-width:1}
svg .guide{stroke:#777;stroke-width:1;stroke-dasharray:5 4}
svg .series{fill:none;stroke-width:1.8}
svg .pt{stroke-width:1.5}
svg .tick{fill:#444;font-size:11px}
svg .axis-label{fill:#222;font-size:12px}
svg .legend{fill:#222;font-size:11.5px}
svg .cell{stroke:#fff;stroke-width:0.3}
table{border-collapse:collapse;font-size:13px;margin:6px 0 10px}
th,td{border-bottom:1px solid #e3e6ea;padding:3px 10px;text-align:right}
th{background:#eef1f5;text-align:center}
td:last-child{text-align:left}
table.summary td:first-child{text-align:left}
.outer{color:#777}
.note{font-size:13.5px;color:#333;margin:6px 0}
.hint{font-size:12px;color:#666;margin:0 0 8px}
.messages p{margin:6px 0;padding:8px 12px;border-radius:6px;font-family:ui-monospace,"DejaVu Sans Mono",monospace;font-size:13px;white-space:pre-wrap}
.messages .error{background:#fde2e0;border-left:5px solid #c62828}
.messages .warning{background:#fff4d6;border-left:5px solid #e0a000}
.messages .ok{background:#e4f4e6;border-left:5px solid #2a9d3f;font-family:inherit}
#render-status{display:none}
)";

// Collects script errors from the first moment on; the check at the end of the page writes
// them, with the plots the browser drew, into #render-status.
constexpr char kErrorCatcher[] =
    "window.velmarErrors=[];window.addEventListener('error',function(e){velmarErrors.push(String(e.message));});";
constexpr char kRenderCheck[] = R"(
(function(){
  var plots=document.querySelectorAll('svg.plot'),empty=[];
  for(var i=0;i<plots.length;i++){
    var p=plots[i],n=p.querySelectorAll('.pt,.cell').length,b=p.getBoundingClientRect();
    p.setAttribute('data-drawn',String(n));
    if(n===0||!(b.width>0&&b.height>0))empty.push(p.id);
  }
  var s=document.getElementById('render-status');
  s.setAttribute('data-plots',String(plots.length));
  s.setAttribute('data-empty',empty.join(' '));
  s.setAttribute('data-errors',velmarErrors.join(' | '));
  s.setAttribute('data-done','yes');
})();
)";

}  // namespace

std::string render_html_page(const RunReport& r, const std::string& dir) {
  Page page;
  add_messages(page, r);
  add_summary(page, r);
  for (size_t n = 0; n < r.statistics.size(); ++n) add_statistics(page, r.statistics[n], n);
  add_scaling(page, r);
  add_corrections(page, r, dir);
  for (size_t n = 0; n < r.wilson.size(); ++n) add_wilson(page, r.wilson[n], n);
  add_zero_dose(page, r.zero_dose);

  std::string cell;
  if (r.space_group > 0) {
    cell = "Space group " + std::to_string(r.space_group) + ", cell";
    for (size_t k = 0; k < 6; ++k) cell += " " + fixed(r.cell[k], 2);
    cell += " (&Aring;, &deg;)";
  }
  std::string data_sets;
  if (!r.data_sets.empty()) {
    data_sets = "<table><tr><th>#</th><th>Input file</th><th>Mean intensity</th><th>Accepted</th><th>Rejected</th></tr>";
    for (const LoadedDataSet& d : r.data_sets) {
      char mean[32];
      std::snprintf(mean, sizeof mean, "%.4g", static_cast<double>(d.mean_intensity));
      data_sets += "<tr><td>" + std::to_string(d.number) + "</td><td style=\"text-align:left\">" + escape_html(d.name) +
                   "</td><td>" + mean + "</td><td>" + std::to_string(d.accepted) + "</td><td>" +
                   std::to_string(d.rejected) + "</td></tr>";
    }
    data_sets += "</table>";
  }
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                     "<title>VELMAR report: " + escape_html(dir) + "</title><style>" + kStyle + "</style><script>" +
                     kErrorCatcher + "</script></head><body>\n<header><h1>VELMAR report</h1><p>" + escape_html(r.banner) +
                     "</p><p>Run directory: " + escape_html(dir) + "</p><p>" + cell + "</p><p>CPU time " +
                     fixed(r.cpu_seconds, 1) + "&nbsp;s, elapsed " + fixed(r.wall_seconds, 1) + "&nbsp;s" +
                     (r.absolute_scale > 0 ? ", absolute-scale factor " + short_number(r.absolute_scale, 4) : "") +
                     "</p></header>\n<main><section id=\"overview\"><h2>Overview</h2>" ;
  // The overview holds the messages, the key figures and the input data sets; the sections follow.
  const size_t first_section = page.body.find("<section");
  html += page.body.substr(0, first_section) + data_sets + "<nav><ul>" + page.contents + "</ul></nav></section>\n";
  if (first_section != std::string::npos) html += page.body.substr(first_section);
  html += "<div id=\"render-status\"></div></main><script>";
  html += kRenderCheck;
  html += "</script></body></html>\n";
  return html;
}

}  // namespace velmar::report
