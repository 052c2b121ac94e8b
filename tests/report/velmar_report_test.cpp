// velmar-report as a program: the page of the demo run rendered by a headless browser (no
// script error, every plot drawn with its data points, a screenshot kept in the build
// directory), a run without the optional sections, and the runs it must refuse.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "report/report_support.hpp"

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

TEST(VelmarReport, DemoPageInTheBrowser) {
  TempDir d;
  const testing::RunResult run = testing::run_demo(d);
  ASSERT_EQ(run.status, 0) << run.terminal;
  const testing::ReportRun rep = testing::run_report(d, "");
  ASSERT_EQ(rep.status, 0) << rep.err;
  EXPECT_EQ(rep.out, "./VELMAR.html\n");
  EXPECT_TRUE(rep.err.empty()) << rep.err;
  const std::string page = d.read("VELMAR.html");
  EXPECT_FALSE(contains(page, "http")) << "the page refers to nothing outside itself";
  EXPECT_FALSE(contains(page, "src="));
  if (browser().empty()) GTEST_SKIP() << "no headless Chromium (tools/install-build-deps installs it)";

  const std::string dom = rendered_dom(d, d.file("VELMAR.html"));
  ASSERT_EQ(attribute(dom, "render-status", "data-done"), "yes") << dom.substr(0, 2000);
  EXPECT_EQ(attribute(dom, "render-status", "data-errors"), "");
  EXPECT_EQ(attribute(dom, "render-status", "data-empty"), "");
  const std::vector<std::pair<std::string, int>> plots = drawn_plots(dom);
  EXPECT_EQ(attribute(dom, "render-status", "data-plots"), std::to_string(plots.size()));
  // Per output file 7 plots, per Wilson section 3, K, B, pairs and ISa, 9 images.
  const std::vector<std::string> expected = {
      "out1-completeness", "out1-isigma",   "out1-rmeas",       "out1-cchalf",      "out1-anomcorr",
      "out1-sigano",       "out1-inputs",   "out2-completeness", "out2-sigano",      "scaling1-k",
      "scaling1-b",        "scaling1-pairs", "isa",              "cbf-DECAY_001-cbf", "cbf-MODPIX_002-cbf",
      "cbf-ABSORP_003-cbf", "wilson1-plot", "wilson1-cumulative", "wilson2-moments"};
  for (const std::string& id : expected) {
    bool found = false;
    for (const auto& [name, points] : plots) found = found || name == id;
    EXPECT_TRUE(found) << id;
  }
  EXPECT_EQ(plots.size(), 2 * 7 + 4 + 9 + 2 * 3u);
  for (const auto& [name, points] : plots) EXPECT_GT(points, 0) << name;

  // A screenshot of the page for a person to look at, kept in the build directory.
  const std::string shot = std::string(VELMAR_BINARY_DIR) + "/velmar-report-demo.png";
  std::filesystem::remove(shot);
  testing::run_in(d, browser_command(browser(), d) + "--window-size=1500,9000 --screenshot='" + shot + "' 'file://" +
                         d.file("VELMAR.html") + "' >/dev/null 2>&1");
  ASSERT_TRUE(std::filesystem::exists(shot));
  EXPECT_GT(std::filesystem::file_size(shot), 100000u);
}

// The browser check itself: a script error and a plot without points are seen.
TEST(VelmarReport, BrowserCheckSeesErrorsAndEmptyPlots) {
  if (browser().empty()) GTEST_SKIP() << "no headless Chromium (tools/install-build-deps installs it)";
  TempDir d;
  ASSERT_EQ(testing::run_demo(d).status, 0);
  ASSERT_EQ(testing::run_report(d, "").status, 0);
  std::string page = d.read("VELMAR.html");
  const size_t first_point = page.find("<circle class=\"pt\"");
  const size_t svg_start = page.rfind("<svg", first_point);
  const size_t svg_end = page.find("</svg>", first_point);
  const std::string svg = page.substr(svg_start, svg_end - svg_start);
  std::string emptied = std::regex_replace(svg, std::regex("<circle class=\"pt\"[^>]*>.*?</circle>"), "");
  page.replace(svg_start, svg.size(), emptied);
  page.replace(page.find("<main>"), 6, "<main><script>undefinedFunction();</script>");
  d.write("broken.html", page);
  const std::string dom = rendered_dom(d, d.file("broken.html"));
  EXPECT_EQ(attribute(dom, "render-status", "data-done"), "yes");
  EXPECT_TRUE(contains(attribute(dom, "render-status", "data-errors"), "undefinedFunction"));
  EXPECT_EQ(attribute(dom, "render-status", "data-empty"), "out1-completeness");
}

// One data set, no zero dose: no scaling plots, and every plot there is has points.
TEST(VelmarReport, RunWithoutOptionalSections) {
  TempDir d;
  ASSERT_TRUE(testing::synthesize(d, "one.hkl", "--sg 19 --cell 40 50 60 90 90 90 --dmin 2.5 --obs 3000"));
  d.write("VELMAR.INP", "OUTPUT_FILE=merged.hkl\nMERGE=TRUE\nINPUT_FILE=one.hkl\n");
  ASSERT_EQ(testing::run_velmar(d).status, 0);
  ASSERT_EQ(testing::run_in(d, "mkdir sub && mv VELMAR.LP *.cbf sub/").status, 0);
  const testing::ReportRun rep = testing::run_report(d, "sub");
  ASSERT_EQ(rep.status, 0) << rep.err;
  EXPECT_EQ(rep.out, "sub/VELMAR.html\n");
  const std::string page = d.read("sub/VELMAR.html");
  EXPECT_FALSE(contains(page, "id=\"scaling1-k\""));
  EXPECT_FALSE(contains(page, "id=\"zerodose"));
  EXPECT_TRUE(contains(page, "id=\"out1-completeness\""));
  EXPECT_TRUE(contains(page, "id=\"wilson1-plot\""));
  if (browser().empty()) return;
  const std::string dom = rendered_dom(d, d.file("sub/VELMAR.html"));
  EXPECT_EQ(attribute(dom, "render-status", "data-done"), "yes");
  EXPECT_EQ(attribute(dom, "render-status", "data-errors"), "");
  EXPECT_EQ(attribute(dom, "render-status", "data-empty"), "");
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
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.err.starts_with(" !!! ERROR !!! THE RUN THAT WROTE ./VELMAR.LP STOPPED WITH AN ERROR:")) << failed.err;
  EXPECT_TRUE(failed.out.empty());
  EXPECT_EQ(d.read("VELMAR.html"), "earlier page");

  const std::string text = d.read("VELMAR.LP");
  d.write("VELMAR.LP", text.substr(0, text.find("!!! ERROR")));  // cut before the error: unfinished
  const testing::ReportRun cut = testing::run_report(d, ".");
  EXPECT_EQ(cut.status, 1);
  EXPECT_TRUE(contains(cut.err, "HAS NOT FINISHED")) << cut.err;

  const struct {
    std::string arguments, message;
  } cases[] = {
      {"nosuchdir", " !!! ERROR !!! nosuchdir IS NOT A DIRECTORY\n"},
      {"empty", " !!! ERROR !!! CANNOT OPEN OR READ empty/VELMAR.LP\n"},
      {"a b", "Usage: velmar-report [DIR]\n"},
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
  const testing::ReportRun version = testing::run_report(d, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(contains(version.out, "velmar-report (VELMAR ")) << version.out;
}

}  // namespace
}  // namespace velmar::report
