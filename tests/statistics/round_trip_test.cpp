// Output files in all four modes are read back by the program itself: merged output gives
// the same reflections and intensities again, unmerged output the measured indices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.hpp"

namespace velmar {
namespace {

using testing::TempDir;

// The data records of a reflection file, as text.
std::vector<std::string> records(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line.find('!') == std::string::npos) out.push_back(line);
  return out;
}

// Every record of a file as its first n columns: the text of all but IOBS and SIGMA (the
// 4th and 5th), and IOBS and SIGMA divided by `scale`, sorted.
struct Record {
  std::string text;
  double i = 0, sigma = 0;
  bool operator<(const Record& o) const { return std::tie(text, i, sigma) < std::tie(o.text, o.i, o.sigma); }
};

std::vector<Record> columns(const std::string& text, int n, double scale) {
  std::vector<Record> out;
  for (const std::string& r : records(text)) {
    std::istringstream f(r);
    Record rec;
    std::string token;
    for (int i = 0; i < n && f >> token; ++i) {
      if (i == 3 || i == 4)
        (i == 3 ? rec.i : rec.sigma) = std::stod(token) / scale;
      else
        rec.text += token + " ";
    }
    out.push_back(rec);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Equal to the precision of a 4-digit factor and of 4-digit intensity fields.
bool close(double a, double b) { return std::fabs(a - b) <= 2.0e-3 * std::max(std::fabs(a), std::fabs(b)); }

// True when every record of `part` matches its own record of `whole` (equal text, close
// values).
bool contained(const std::vector<Record>& part, const std::vector<Record>& whole) {
  std::vector<bool> used(whole.size(), false);
  for (const Record& p : part) {
    auto it = std::lower_bound(whole.begin(), whole.end(), Record{p.text, -1e300, 0});
    bool found = false;
    for (; it != whole.end() && it->text == p.text && !found; ++it) {
      const auto at = size_t(it - whole.begin());
      found = !used[at] && close(it->i, p.i) && close(it->sigma, p.sigma);
      if (found) used[at] = true;
    }
    if (!found) return false;
  }
  return true;
}

// The approximate absolute-scale factor the run printed.
double absolute_scale(const std::string& report) {
  const std::string head = "FACTOR TO PLACE ALL DATA SETS TO AN APPROXIMATE ABSOLUTE SCALE";
  const size_t at = report.find(head);
  return at == std::string::npos ? 0.0 : std::stod(report.substr(at + head.size(), 13));
}

// The counts " n OUT OF m REFLECTIONS REJECTED" of the output groups, in order.
std::vector<std::pair<long, long>> rejected_counts(const std::string& report) {
  std::vector<std::pair<long, long>> out;
  std::istringstream in(report);
  std::string line;
  while (std::getline(in, line))
    if (line.find(" REFLECTIONS REJECTED") != std::string::npos) {
      std::istringstream f(line);
      long n = 0, m = 0;
      std::string out_word, of_word;
      f >> n >> out_word >> of_word >> m;
      out.emplace_back(n, m);
    }
  return out;
}

// The four output modes of one input file, one run each. No correction group forms (far
// too few observations per factor), so the output holds the input's values times the
// absolute-scale factor.
const char* const kModes[] = {"TT", "TF", "FT", "FF"};  // MERGE=, FRIEDEL'S_LAW=

std::string control(const std::string& input, const std::string& mode) {
  return "WFAC1=1000\nREFLECTIONS/CORRECTION_FACTOR=100000000\nOUTPUT_FILE=out_" + mode + ".hkl\nMERGE=" +
         (mode[0] == 'T' ? "TRUE" : "FALSE") + "\nFRIEDEL'S_LAW=" + (mode[1] == 'T' ? "TRUE" : "FALSE") +
         "\nINPUT_FILE=" + input + "\n";  // WFAC1=1000 tolerates any scatter: every observation is written
}

void check_round_trip(const TempDir& dir, const std::string& input, const std::string& input_text) {
  const std::vector<Record> measured = columns(input_text, 5, 1.0);
  for (const std::string mode : kModes) {
    const std::string name = "out_" + mode + ".hkl";
    dir.write("VELMAR.INP", control(input, mode));
    const testing::RunResult first = testing::run_velmar(dir);
    ASSERT_EQ(first.status, 0) << first.report;
    const std::vector<std::pair<long, long>> rejected = rejected_counts(first.report);
    ASSERT_EQ(rejected.size(), 1u);
    EXPECT_EQ(rejected[0].second, long(measured.size())) << name;
    if (mode[0] == 'F') {
      // Unmerged output holds the measured observations with their indices as measured: all
      // of them but those the report counts as rejected, times the absolute-scale factor.
      const double factor = absolute_scale(first.report);
      ASSERT_GT(factor, 0.0) << first.report;
      const std::vector<Record> written = columns(dir.read(name), 5, factor);
      EXPECT_TRUE(contained(written, measured)) << name;
      EXPECT_EQ(long(written.size()), rejected[0].second - rejected[0].first) << name;
    }
    TempDir again;
    again.write(name, dir.read(name));
    again.write("VELMAR.INP", "WFAC1=1000\nREFLECTIONS/CORRECTION_FACTOR=100000000\nOUTPUT_FILE=back.hkl\nINPUT_FILE=" +
                                  name + "\n");
    const testing::RunResult second = testing::run_velmar(again);
    ASSERT_EQ(second.status, 0) << name << second.report;
    // The same unique reflections and intensities, to the printed precision and the second
    // run's own absolute scale, in the same mode.
    EXPECT_EQ(again.read("back.hkl").substr(0, 55), dir.read(name).substr(0, 55)) << name;
    const std::vector<Record> back = columns(again.read("back.hkl"), 9, absolute_scale(second.report));
    const std::vector<Record> written = columns(dir.read(name), 9, 1.0);
    EXPECT_EQ(back.size(), written.size()) << name;
    EXPECT_TRUE(contained(back, written)) << name;
  }
}

TEST(RoundTrip, SyntheticDataInAllFourModes) {
  TempDir dir;
  ASSERT_TRUE(testing::synthesize(dir, "s.hkl", "--sg 5 --cell 60 40 50 90 105 90 --dmin 3 --obs 3000 "
                                                "--friedel FALSE --anomalous 0.1 --seed 5"));
  check_round_trip(dir, "s.hkl", dir.read("s.hkl"));
}

TEST(RoundTrip, MeasuredDataInAllFourModes) {
  const std::string file = testing::real_data("lysozyme_wedge.hkl");
  if (file.empty()) GTEST_SKIP() << "measured data not available";
  TempDir dir;
  std::ifstream in(file);
  std::string usable, line;
  while (std::getline(in, line)) {  // observations with a negative sigma are not used
    std::istringstream f(line);
    std::string h, k, l, i;
    double sigma = 0;
    if (line.find('!') == std::string::npos && f >> h >> k >> l >> i >> sigma && sigma > 0) usable += line + "\n";
  }
  check_round_trip(dir, file, usable);
}

}  // namespace
}  // namespace velmar
