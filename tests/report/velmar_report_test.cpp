// velmar-report as a program: the page of the demo run rendered by a headless browser (no
// script error, every plot drawn with its data points, a screenshot kept in the build
// directory), a run without the optional sections, missing images and the runs it must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "report/report_support.hpp"
#include "report/run_report.hpp"

namespace velmar::report {
namespace {

using testing::contains;
using testing::TempDir;

// Debian's headless Chromium, or empty when it is not installed.
std::string browser() {
  for (const char* b : {"/usr/bin/chromium-headless-shell", "/usr/bin/chromium"})
    if (std::filesystem::exists(b)) return b;
  return {};
}

std::string browser_command(const std::string& b, const TempDir& d) {
  return "'" + b + "' --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking "
         "--disable-component-update --disable-sync --user-data-dir='" + d.file("browser-profile") + "' ";
}

// The page after the browser ran its script.
std::string rendered_dom(const TempDir& d, const std::string& page) {
  return testing::run_in(d, browser_command(browser(), d) + "--dump-dom 'file://" + page + "' 2>/dev/null").output;
}

std::string attribute(const std::string& dom, const std::string& element_id, const std::string& name) {
  const size_t at = dom.find("id=\"" + element_id + "\"");
  if (at == std::string::npos) return "(no element)";
  const size_t start = dom.rfind('<', at), end = dom.find('>', at);
  const std::string tag = dom.substr(start, end - start);
  std::smatch found;
  if (!std::regex_search(tag, found, std::regex(" " + name + "=\"([^\"]*)\""))) return "(no attribute)";
  return found[1];
}

// Ids of the plots on a page and the data points they were drawn with.
std::vector<std::pair<std::string, int>> drawn_plots(const std::string& dom) {
  std::vector<std::pair<std::string, int>> plots;
  const std::regex svg("<svg class=\"plot[^\"]*\" id=\"([^\"]+)\"[^>]*data-drawn=\"([0-9]+)\"");
  for (auto it = std::sregex_iterator(dom.begin(), dom.end(), svg); it != std::sregex_iterator(); ++it)
    plots.emplace_back((*it)[1], std::stoi((*it)[2]));
  return plots;
}

std::string render_status(const std::string& dom) {
  return attribute(dom, "render-status", "data-done") + "|" + attribute(dom, "render-status", "data-errors") + "|" +
         attribute(dom, "render-status", "data-empty");
}

// The demo page; then the same page with a script error and a plot emptied of its points, to
// show that the browser check sees both.
TEST(VelmarReport, DemoPageInTheBrowser) {
  const TempDir& d = testing::demo_dir();
  const testing::ReportRun rep = testing::run_report(d, "");
  ASSERT_EQ(rep.status, 0) << rep.err;
  EXPECT_EQ(rep.out + rep.err, "./VELMAR.html\n");
  std::string page = d.read("VELMAR.html");
  EXPECT_FALSE(contains(page, "http") || contains(page, "src=")) << "the page refers to nothing outside itself";
  if (browser().empty()) GTEST_SKIP() << "no headless Chromium (tools/install-build-deps installs it)";

  const std::string dom = rendered_dom(d, d.file("VELMAR.html"));
  ASSERT_EQ(render_status(dom), "yes||") << dom.substr(0, 2000);
  const std::vector<std::pair<std::string, int>> plots = drawn_plots(dom);
  EXPECT_EQ(attribute(dom, "render-status", "data-plots"), std::to_string(plots.size()));
  // Per output file 7 plots, per Wilson section 3, K, B, pairs and ISa, 9 images.
  EXPECT_EQ(plots.size(), 2 * 7 + 4 + 9 + 2 * 3u);
  for (const std::string id : {"out1-completeness", "out2-sigano", "scaling1-pairs", "isa", "cbf-ABSORP_003-cbf",
                               "wilson1-cumulative", "wilson2-moments"})
    EXPECT_TRUE(std::any_of(plots.begin(), plots.end(), [&](const auto& p) { return p.first == id; })) << id;
  for (const auto& [name, points] : plots) EXPECT_GT(points, 0) << name;

  // A screenshot of the page for a person to look at, kept in the build directory.
  const std::string shot = std::string(VELMAR_BINARY_DIR) + "/velmar-report-demo.png";
  std::filesystem::remove(shot);
  testing::run_in(d, browser_command(browser(), d) + "--window-size=1500,9000 --screenshot='" + shot + "' 'file://" +
                         d.file("VELMAR.html") + "' >/dev/null 2>&1");
  ASSERT_TRUE(std::filesystem::exists(shot));
  EXPECT_GT(std::filesystem::file_size(shot), 100000u);

  const size_t first_point = page.find("<circle class=\"pt\""), svg_start = page.rfind("<svg", first_point);
  const std::string svg = page.substr(svg_start, page.find("</svg>", first_point) - svg_start);
  page.replace(svg_start, svg.size(), std::regex_replace(svg, std::regex("<circle class=\"pt\"[^>]*>.*?</circle>"), ""));
  page.replace(page.find("<main>"), 6, "<main><script>undefinedFunction();</script>");
  d.write("broken.html", page);
  const std::string broken = render_status(rendered_dom(d, d.file("broken.html")));
  EXPECT_TRUE(broken.starts_with("yes|") && broken.ends_with("|out1-completeness") && contains(broken, "undefinedFunction"))
      << broken;
}

// One data set, no zero dose: the reader finds no scaling section, the page no scaling plots,
// and every plot there is has points.
TEST(VelmarReport, RunWithoutOptionalSections) {
  TempDir d;
  ASSERT_TRUE(testing::synthesize(d, "one.hkl", "--sg 19 --cell 40 50 60 90 90 90 --dmin 2.5 --obs 3000"));
  ASSERT_EQ(testing::run_velmar(d, "OUTPUT_FILE=merged.hkl\nMERGE=TRUE\nINPUT_FILE=one.hkl\n").status, 0);
  ASSERT_EQ(testing::run_in(d, "mkdir sub && mv VELMAR.LP *.cbf sub/").status, 0);
  const RunReport r = read_run_report(d.read("sub/VELMAR.LP"), "VELMAR.LP");
  EXPECT_EQ(std::make_tuple(r.scaling.size(), r.data_sets.size(), r.wilson.size()), std::make_tuple(size_t{0}, size_t{1}, size_t{1}));
  EXPECT_TRUE(r.statistics.size() == 1 && r.statistics[0].friedel);
  const testing::ReportRun rep = testing::run_report(d, "sub");
  ASSERT_EQ(rep.status, 0) << rep.err;
  EXPECT_EQ(rep.out, "sub/VELMAR.html\n");
  const std::string page = d.read("sub/VELMAR.html");
  EXPECT_FALSE(contains(page, "id=\"scaling1-k\"") || contains(page, "id=\"zerodose"));
  EXPECT_TRUE(contains(page, "id=\"out1-completeness\"") && contains(page, "id=\"wilson1-plot\""));
  if (browser().empty()) return;
  EXPECT_EQ(render_status(rendered_dom(d, d.file("sub/VELMAR.html"))), "yes||");
}

// A missing or foreign image leaves a note in place of its plot; the page is still written.
TEST(VelmarReport, MissingOrForeignImage) {
  TempDir d;
  ASSERT_EQ(testing::run_demo(d).status, 0);
  std::filesystem::remove(d.file("DECAY_001.cbf"));
  std::filesystem::copy_file(d.file("MODPIX_001.cbf"), d.file("ABSORP_001.cbf"),
                             std::filesystem::copy_options::overwrite_existing);
  const testing::ReportRun rep = testing::run_report(d, ".");
  ASSERT_EQ(rep.status, 0) << rep.err;
  const std::string page = d.read("VELMAR.html");
  EXPECT_TRUE(contains(page, "The image DECAY_001.cbf is not shown: cannot open")) << page.substr(0, 500);
  EXPECT_TRUE(contains(page, "The image ABSORP_001.cbf is not shown: its size 13 x 13 differs from the report's 8 x 13"));
  EXPECT_FALSE(contains(page, "id=\"cbf-DECAY_001-cbf\""));
  EXPECT_TRUE(contains(page, "id=\"cbf-DECAY_002-cbf\""));
}

// Runs that cannot give a page: a message on stderr, status 1, and an earlier page intact.
TEST(VelmarReport, RefusedRunsLeaveNoPage) {
  TempDir d;
  d.write("VELMAR.INP", "OUTPUT_FILE=out.hkl\nINPUT_FILE=missing.hkl\n");
  ASSERT_EQ(testing::run_velmar(d).status, 1);
  d.write("VELMAR.html", "earlier page");
  const testing::ReportRun failed = testing::run_report(d, "");
  EXPECT_TRUE(failed.status == 1 && failed.out.empty());
  EXPECT_TRUE(failed.err.starts_with(" !!! ERROR !!! THE RUN THAT WROTE ./VELMAR.LP STOPPED WITH AN ERROR:")) << failed.err;
  EXPECT_EQ(d.read("VELMAR.html"), "earlier page");

  const struct {
    std::string arguments, message;
  } cases[] = {
      {"nosuchdir", " !!! ERROR !!! nosuchdir IS NOT A DIRECTORY\n"},
      {"empty", " !!! ERROR !!! CANNOT OPEN OR READ empty/VELMAR.LP\n"},
      {"--bad", "Usage: velmar-report [DIR]\n"},
  };
  std::filesystem::create_directory(d.file("empty"));
  for (const auto& c : cases) {
    const testing::ReportRun r = testing::run_report(d, c.arguments);
    EXPECT_EQ(r.status, 1) << c.arguments;
    EXPECT_TRUE(r.err.starts_with(c.message)) << c.arguments << ": " << r.err;
  }
  EXPECT_EQ(d.read("VELMAR.html"), "earlier page");
  for (const auto& e : std::filesystem::directory_iterator(d.path()))
    EXPECT_FALSE(e.path().filename().string().starts_with("VELMAR.html.")) << e.path();  // no temporary left
  EXPECT_FALSE(d.exists("empty/VELMAR.html"));
}

}  // namespace
}  // namespace velmar::report
