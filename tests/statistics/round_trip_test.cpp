// Output files in all four modes are read back by the program itself and give the same
// reflections and intensities again. (Unmerged records as measured: the output-file tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace velmar {
namespace {

using testing::TempDir;

// The data records of a reflection file by the text of their first n columns but IOBS and
// SIGMA (the 4th and 5th), with IOBS and SIGMA divided by `scale`.
using Records = std::multimap<std::string, std::pair<double, double>>;

Records records(const std::string& text, int n, double scale) {
  Records out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.find('!') != std::string::npos) continue;
    std::istringstream f(line);
    std::string key, token;
    double v[2] = {};
    for (int i = 0; i < n && f >> token; ++i)
      if (i == 3 || i == 4) v[i - 3] = std::stod(token) / scale;
      else key += token + " ";
    out.emplace(key, std::pair{v[0], v[1]});
  }
  return out;
}

// True when every record of `part` matches a record of its own in `whole`: equal text,
// values equal to the precision of 4-digit fields and factors.
bool contained(const Records& part, Records whole) {
  auto close = [](double a, double b) { return std::fabs(a - b) <= 2.0e-3 * std::max(std::fabs(a), std::fabs(b)); };
  for (const auto& [key, p] : part) {
    auto [it, end] = whole.equal_range(key);
    while (it != end && !(close(it->second.first, p.first) && close(it->second.second, p.second))) ++it;
    if (it == end) return false;
    whole.erase(it);
  }
  return true;
}

// The approximate absolute-scale factor the run printed.
double absolute_scale(const std::string& report) {
  const std::string head = "FACTOR TO PLACE ALL DATA SETS TO AN APPROXIMATE ABSOLUTE SCALE";
  const size_t at = report.find(head);
  return at == std::string::npos ? 0.0 : std::stod(report.substr(at + head.size(), 13));
}

// One run per output mode (MERGE=, FRIEDEL'S_LAW=) of a synthetic file. No correction group
// forms (far too few observations per factor) and WFAC1=1000 tolerates any scatter, so a
// run changes values by its absolute-scale factor alone.
TEST(RoundTrip, SyntheticDataInAllFourModes) {
  TempDir dir;
  ASSERT_TRUE(testing::synthesize(dir, "s.hkl", "--sg 5 --cell 60 40 50 90 105 90 --dmin 3 --obs 3000 "
                                                "--friedel FALSE --anomalous 0.1 --seed 5"));
  const std::string fixed = "WFAC1=1000\nREFLECTIONS/CORRECTION_FACTOR=100000000\n";
  for (const std::string mode : {"TT", "TF", "FT", "FF"}) {
    const std::string name = "out_" + mode + ".hkl";
    dir.write("VELMAR.INP", fixed + "OUTPUT_FILE=" + name + "\nMERGE=" + (mode[0] == 'T' ? "TRUE" : "FALSE") +
                                "\nFRIEDEL'S_LAW=" + (mode[1] == 'T' ? "TRUE" : "FALSE") + "\nINPUT_FILE=s.hkl\n");
    const testing::RunResult first = testing::run_velmar(dir);
    ASSERT_EQ(first.status, 0) << first.report;
    // Read back: the same unique reflections and intensities, to the printed precision and
    // the second run's own absolute scale, in the same mode.
    TempDir again;
    again.write(name, dir.read(name));
    again.write("VELMAR.INP", fixed + "OUTPUT_FILE=back.hkl\nINPUT_FILE=" + name + "\n");
    const testing::RunResult second = testing::run_velmar(again);
    ASSERT_EQ(second.status, 0) << name << second.report;
    EXPECT_EQ(again.read("back.hkl").substr(0, 55), dir.read(name).substr(0, 55)) << name;
    const Records back = records(again.read("back.hkl"), 9, absolute_scale(second.report));
    const Records written = records(dir.read(name), 9, 1.0);
    EXPECT_EQ(back.size(), written.size()) << name;
    EXPECT_TRUE(contained(back, written)) << name;
  }
}

}  // namespace
}  // namespace velmar
