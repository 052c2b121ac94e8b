#include "scaling/factor_report.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scaling/cbf_reader.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::TempDir;

std::string pad(const std::string& s, size_t n) { return s + std::string(n > s.size() ? n - s.size() : 0, ' '); }

// Runs the test body in a directory of its own, as the images go to the current directory.
class InDirectory {
 public:
  explicit InDirectory(const TempDir& dir) : old_(getcwd(nullptr, 0)) { EXPECT_EQ(chdir(dir.path().c_str()), 0); }
  ~InDirectory() {
    if (old_) {
      [[maybe_unused]] const int rc = chdir(old_);
      std::free(old_);
    }
  }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  char* old_;
};

DataSet data_set(const std::string& name, int group, int64_t usable, const std::string& corrections, float z_max) {
  DataSet s;
  s.name = name;
  s.group = group;
  s.usable = usable;
  s.load.geometry = Geometry::kUnmerged;
  s.load.oscillation_range = z_max > 60.0f ? 0.5f : 1.0f;
  s.corrections = corrections;
  s.range.x_min = s.range.y_min = 0.0f;
  s.range.x_max = s.range.y_max = 1000.0f;
  s.range.z_min = 1.0f;
  s.range.z_max = z_max;
  s.range.ss_min = 0.01f;
  s.range.ss_max = 0.25f;
  return s;
}

// Two output groups: "OUT_A.HKL" with xtal_1.HKL (5 x 20 DECAY factors) and COLLECTED.HKL
// (too few observations: one factor), "OUT_B.HKL" with xtal_3.HKL (all kinds, 4 x 4
// detector nodes, 13 surface nodes).
struct Case {
  ControlTables t;
  std::vector<CorrectionGroup> groups{{1, false}, {2, true}};
  std::vector<float> nodes;

  Case() {
    t.groups.resize(2);
    t.groups[0].name = "OUT_A.HKL";
    t.groups[1].name = "OUT_B.HKL";
    t.sets = {data_set("xtal_1.HKL", 1, 5000, " DECAY ", 100.0f), data_set("COLLECTED.HKL", 1, 60, " DECAY ", 10.0f),
              data_set("xtal_3.HKL", 2, 1000, " DECAY MODULATION ABSORPTION ", 50.0f)};
    nodes = setgrid2(t.sets, setgrid1(t.sets, 50));
  }

  // Grid descriptors with the factor bases of kind m: group after group, data set after data
  // set; `fits` gets each group's factor count.
  std::vector<GridDescriptor> descriptors(CorrectionKind m, std::vector<GroupFit>& fits) const {
    std::vector<GridDescriptor> d;
    for (const DataSet& s : t.sets) d.push_back(grid_descriptor(m, s));
    int next = 0;
    fits.clear();
    for (const CorrectionGroup& g : groups) {
      GroupFit f;
      f.first = next;
      for (size_t i = 0; i < t.sets.size(); ++i)
        if (t.sets[i].group == g.group) {
          d[i].base = next;
          next += d[i].n_fast * d[i].n_slow;
        }
      f.factors = next - f.first;
      fits.push_back(f);
    }
    return d;
  }
};

std::vector<std::string> report_lines(const Case& c, CorrectionKind m, std::vector<float>& factors) {
  std::vector<GroupFit> fits;
  const std::vector<GridDescriptor> d = c.descriptors(m, fits);
  fits[0].dof = 1234.5;
  fits[0].chi2 = 1.2344;
  fits[1].dof = 17.04;
  fits[1].chi2 = 0.9876;
  factors.resize(static_cast<size_t>(fits[0].factors + fits[1].factors));
  for (size_t k = 0; k < factors.size(); ++k) factors[k] = 1.0f + 0.001f * static_cast<float>(k);
  std::FILE* f = std::tmpfile();
  const Report rep{f, nullptr};
  lpcorfac(rep, m, c.t, c.groups, fits, 4, d, c.nodes, factors);
  std::vector<std::string> lines;
  std::rewind(f);
  char buf[512];
  while (std::fgets(buf, sizeof buf, f)) {
    std::string l(buf);
    if (!l.empty() && l.back() == '\n') l.pop_back();
    lines.push_back(l);
  }
  std::fclose(f);
  return lines;
}

std::vector<std::string> group_summary(const char* name, const char* law, const char* factors, const char* dof,
                                       const char* chi2) {
  return {"",
          " RECIPROCAL CORRECTION FACTORS FOR INPUT DATA SETS MERGED TO",
          pad(std::string(" OUTPUT FILE: ") + name, 64),
          "",
          std::string(" THE CALCULATIONS ASSUME         FRIEDEL'S_LAW=") + law,
          std::string(" TOTAL NUMBER OF CORRECTION FACTORS DEFINED ") + factors,
          std::string(" DEGREES OF FREEDOM OF CHI^2 FIT          ") + dof,
          std::string(" CHI^2-VALUE OF FIT OF CORRECTION FACTORS ") + chi2,
          " NUMBER OF CYCLES CARRIED OUT                      4",
          ""};
}

void append(std::vector<std::string>& a, const std::vector<std::string>& b) { a.insert(a.end(), b.begin(), b.end()); }

std::vector<std::string> image_lines(const char* file, std::vector<std::string> grid, const char* usable) {
  std::vector<std::string> l{pad(std::string(" CORRECTION FACTORS for visual inspection by KVD-Viewer ") + file, 76)};
  append(l, grid);
  l.push_back(std::string(" NUMBER OF REFLECTIONS USED FOR DETERMINING CORRECTION FACTORS ") + usable);
  l.push_back("");
  return l;
}

std::vector<std::string> banner(const char* title) {
  const std::string stars = " " + std::string(78, '*');
  return {"", stars, title, stars};
}

void expect_lines(const std::vector<std::string>& got, const std::vector<std::string>& expected) {
  for (size_t i = 0; i < std::max(got.size(), expected.size()); ++i)
    EXPECT_EQ(i < got.size() ? got[i] : "(missing)", i < expected.size() ? expected[i] : "(extra)") << "line " << i + 1;
}

TEST(FactorReport, DecayBlockAndImages) {
  TempDir dir;
  InDirectory in(dir);
  const Case c;
  std::vector<float> factors;
  const std::vector<std::string> got = report_lines(c, CorrectionKind::kDecay, factors);
  std::vector<std::string> expected = banner("           CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION");
  append(expected, group_summary("OUT_A.HKL", " TRUE", "     101", "    1234.5", "     1.234"));
  append(expected, image_lines("DECAY_001.cbf",
                               {" XMIN=     1.0 XMAX=   100.0 NXBIN=    5", " YMIN= 0.01000 YMAX= 0.25000 NYBIN=   20"},
                               "      5000"));
  append(expected, image_lines("DECAY_002.cbf",
                               {" XMIN=     1.0 XMAX=    10.0 NXBIN=    1", " YMIN= 0.01000 YMAX= 0.25000 NYBIN=    1"},
                               "        60"));
  append(expected, group_summary("OUT_B.HKL", "FALSE", "      20", "      17.0", "     0.988"));
  append(expected, image_lines("DECAY_003.cbf",
                               {" XMIN=     1.0 XMAX=    50.0 NXBIN=    1", " YMIN= 0.01000 YMAX= 0.25000 NYBIN=   20"},
                               "      1000"));
  expect_lines(got, expected);

  EXPECT_TRUE(dir.exists("DECAY_001.cbf"));
  EXPECT_TRUE(dir.exists("DECAY_002.cbf"));  // not "DECAY.cbf": there are two correction groups
  EXPECT_TRUE(dir.exists("DECAY_003.cbf"));
#ifdef VELMAR_HAVE_CBFLIB
  const testing::CbfContents r = testing::read_cbf(dir.file("DECAY_001.cbf"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.nx, 5u);
  EXPECT_EQ(r.ny, 20u);
  ASSERT_EQ(r.pixels.size(), 100u);
  for (size_t k = 0; k < 100; ++k) EXPECT_EQ(r.pixels[k], 1000 + static_cast<int>(k)) << "pixel " << k;
  EXPECT_EQ(r.header_contents,
            "\n INPUT_FILE=xtal_1.HKL\n REC. CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION\n"
            " XMIN=     1.0 XMAX=   100.0 NXBIN=    5\n YMIN= 0.01000 YMAX= 0.25000 NYBIN=   20");
  const testing::CbfContents third = testing::read_cbf(dir.file("DECAY_003.cbf"));
  ASSERT_TRUE(third.ok);
  EXPECT_EQ(third.nx, 1u);
  EXPECT_EQ(third.ny, 20u);
  EXPECT_EQ(third.pixels.front(), 1101);  // the factors of the second group start at 101
#endif
}

TEST(FactorReport, ModulationAndAbsorptionGridLines) {
  TempDir dir;
  InDirectory in(dir);
  const Case c;
  std::vector<float> factors;
  std::vector<std::string> got = report_lines(c, CorrectionKind::kModulation, factors);
  ASSERT_GT(got.size(), 4u);
  EXPECT_EQ(got[2], "  CORRECTION FACTORS AS FUNCTION OF X (fast) & Y(slow) IN THE DETECTOR PLANE");
  const std::vector<std::string> third = image_lines(
      "MODPIX_003.cbf", {" XMIN=     0.0 XMAX=  1000.0 NXBIN=    4", " YMIN=     0.0 YMAX=  1000.0 NYBIN=    4"},
      "      1000");
  expect_lines(std::vector<std::string>(got.end() - static_cast<long>(third.size()), got.end()), third);

  got = report_lines(c, CorrectionKind::kAbsorption, factors);
  EXPECT_EQ(got[2], "   CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & DETECTOR SURFACE POSITION");
  std::vector<std::string> surface{" XMIN=     1.0 XMAX=    50.0 NXBIN=    1"};
  // centre, inner ring from 45 degrees, outer ring from 22.5 degrees, counter-clockwise
  const int xy[13][2] = {{500, 500}, {670, 670}, {330, 670}, {330, 330}, {670, 330}, {884, 659}, {659, 884},
                         {341, 884}, {116, 659}, {116, 341}, {341, 116}, {659, 116}, {884, 341}};
  for (const auto& p : xy) {
    char line[64];
    std::snprintf(line, sizeof line, " DETECTOR_SURFACE_POSITION=%8d%8d", p[0], p[1]);
    surface.push_back(line);
  }
  const std::vector<std::string> last = image_lines("ABSORP_003.cbf", surface, "      1000");
  expect_lines(std::vector<std::string>(got.end() - static_cast<long>(last.size()), got.end()), last);
  // a data set with one surface node: the node at (0, 0)
  std::string all;
  for (const std::string& l : got) all += l + "\n";
  EXPECT_TRUE(testing::contains(
      all,
      "ABSORP_001.cbf      \n XMIN=     1.0 XMAX=   100.0 NXBIN=    5\n DETECTOR_SURFACE_POSITION=       0       0\n"));
  EXPECT_TRUE(dir.exists("ABSORP_003.cbf"));
}

TEST(FactorReport, PixelValuesAndUnwritableImage) {
  TempDir dir;
  InDirectory in(dir);
  Case c;
  c.groups = {{1, false}};  // one correction group: COLLECTED.HKL gives DECAY.cbf
  std::vector<GroupFit> fits;
  const std::vector<GridDescriptor> d = c.descriptors(CorrectionKind::kDecay, fits);
  std::vector<float> factors(101, 1.0f);
  factors[1] = 40.0f;    // above 32.767
  factors[2] = 1.0025f;  // 1002.5 rounds away from zero
  factors[3] = 0.0f;
  factors[4] = -0.0015f;                       // -1.5 rounds to -2
  factors[100] = 1.2f;                         // COLLECTED.HKL
  ASSERT_EQ(mkdir("DECAY_001.cbf", 0755), 0);  // cannot be written
  const Report rep{nullptr, nullptr};
  lpcorfac(rep, CorrectionKind::kDecay, c.t, c.groups, fits, 3, d, c.nodes, factors);
  EXPECT_TRUE(dir.exists("DECAY.cbf"));
  EXPECT_FALSE(dir.exists("DECAY_002.cbf"));
#ifdef VELMAR_HAVE_CBFLIB
  const testing::CbfContents one = testing::read_cbf(dir.file("DECAY.cbf"));
  ASSERT_TRUE(one.ok);
  EXPECT_EQ(one.pixels, std::vector<int32_t>{1200});
  ASSERT_EQ(rmdir("DECAY_001.cbf"), 0);
  lpcorfac(rep, CorrectionKind::kDecay, c.t, c.groups, fits, 3, d, c.nodes, factors);
  const testing::CbfContents r = testing::read_cbf(dir.file("DECAY_001.cbf"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(std::vector<int32_t>(r.pixels.begin(), r.pixels.begin() + 6),
            (std::vector<int32_t>{1000, 32767, 1003, 0, -2, 1000}));
#endif
}

TEST(FactorReport, ImageFileNames) {
  struct NameCase {
    CorrectionKind m;
    const char* set_name;
    int number, groups;
    const char* file;
  };
  const NameCase cases[] = {
      {CorrectionKind::kDecay, "COLLECTED.HKL", 1, 1, "DECAY.cbf"},
      {CorrectionKind::kModulation, "COLLECTED.HKL", 1, 1, "MODPIX.cbf"},
      {CorrectionKind::kAbsorption, "COLLECTED.HKL", 1, 1, "ABSORP.cbf"},
      {CorrectionKind::kDecay, "COLLECTED.HKL", 1, 2, "DECAY_001.cbf"},
      {CorrectionKind::kAbsorption, "xtal.HKL", 2, 1, "ABSORP_002.cbf"},
      {CorrectionKind::kModulation, "collected.hkl", 12, 1, "MODPIX_012.cbf"},
      {CorrectionKind::kDecay, "COLLECTED.HKL.1", 123, 1, "DECAY_123.cbf"},
  };
  for (const NameCase& n : cases) {
    DataSet s;
    s.name = n.set_name;
    EXPECT_EQ(image_file_name(n.m, s, n.number, n.groups), n.file);
  }
}

}  // namespace
}  // namespace velmar
