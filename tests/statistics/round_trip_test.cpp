// Output files in all four modes are read back by the program itself: merged output gives
// the same reflections and intensities again, unmerged output the measured indices.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
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

// The first n columns of every record, as tokens, sorted.
std::vector<std::string> columns(const std::string& text, int n) {
  std::vector<std::string> out;
  for (const std::string& r : records(text)) {
    std::istringstream f(r);
    std::string joined, token;
    for (int i = 0; i < n && f >> token; ++i) joined += token + " ";
    out.push_back(joined);
  }
  std::sort(out.begin(), out.end());
  return out;
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
// too few observations per factor), so the output holds the input's values.
const char* const kModes[] = {"TT", "TF", "FT", "FF"};  // MERGE=, FRIEDEL'S_LAW=

std::string control(const std::string& input, const std::string& mode) {
  return "WFAC1=1000\nREFLECTIONS/CORRECTION_FACTOR=100000000\nOUTPUT_FILE=out_" + mode + ".hkl\nMERGE=" +
         (mode[0] == 'T' ? "TRUE" : "FALSE") + "\nFRIEDEL'S_LAW=" + (mode[1] == 'T' ? "TRUE" : "FALSE") +
         "\nINPUT_FILE=" + input + "\n";  // WFAC1=1000 tolerates any scatter: every observation is written
}

void check_round_trip(const TempDir& dir, const std::string& input, const std::string& input_text) {
  const std::vector<std::string> measured = columns(input_text, 5);
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
      // of them but those the report counts as rejected.
      const std::vector<std::string> written = columns(dir.read(name), 5);
      EXPECT_TRUE(std::includes(measured.begin(), measured.end(), written.begin(), written.end())) << name;
      EXPECT_EQ(long(written.size()), rejected[0].second - rejected[0].first) << name;
    }
    TempDir again;
    again.write(name, dir.read(name));
    again.write("VELMAR.INP", "WFAC1=1000\nREFLECTIONS/CORRECTION_FACTOR=100000000\nOUTPUT_FILE=back.hkl\nINPUT_FILE=" +
                                  name + "\n");
    const testing::RunResult second = testing::run_velmar(again);
    ASSERT_EQ(second.status, 0) << name << second.report;
    // The same unique reflections and intensities, to the printed precision, in the same mode.
    EXPECT_EQ(again.read("back.hkl").substr(0, 55), dir.read(name).substr(0, 55)) << name;
    EXPECT_EQ(columns(again.read("back.hkl"), 9), columns(dir.read(name), 9)) << name;
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
