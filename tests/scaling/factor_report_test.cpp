#include "scaling/factor_report.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scaling/cbf_reader.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::InDirectory;
using testing::TempDir;

DataSet data_set(const char* name, int group, int64_t usable, const char* corrections, float z_max) {
  DataSet s;
  s.name = name;
  s.group = group;
  s.usable = usable;
  s.load.geometry = Geometry::kUnmerged;
  s.load.oscillation_range = z_max > 60 ? 0.5f : 1.0f;
  s.corrections = corrections;
  s.range = {0.01f, 0.25f, 0, 1000, 0, 1000, 1, z_max, 0, -0.9f};
  return s;
}

// Output group 1 holds xtal_1.HKL (5 batches x 20 resolution bins) and COLLECTED.HKL (too
// few observations: one factor); group 2 holds xtal_3.HKL (all kinds: 1 batch, 20 bins,
// 4 x 4 detector nodes, 13 surface nodes). The factors count up from 1.000 by 0.001.
struct Scaled {
  ControlTables t;
  std::vector<CorrectionGroup> groups{{1, false}, {2, true}};
  std::vector<float> nodes;
  std::vector<GridDescriptor> desc;
  std::vector<GroupFit> fits;
  std::vector<float> factors;

  explicit Scaled(CorrectionKind m) {
    t.groups.resize(2);
    t.groups[0].name = "OUT_A.HKL";
    t.groups[1].name = "OUT_B.HKL";
    t.sets = {data_set("xtal_1.HKL", 1, 5000, " DECAY ", 100), data_set("COLLECTED.HKL", 1, 60, " DECAY ", 10),
              data_set("xtal_3.HKL", 2, 1000, " DECAY MODULATION ABSORPTION ", 50)};
    nodes = setgrid2(t.sets, setgrid1(t.sets, 50));
    for (const DataSet& s : t.sets) desc.push_back(grid_descriptor(m, s));
    int next = 0;  // factor bases: group after group, data set after data set
    for (const CorrectionGroup& g : groups) {
      GroupFit f{.first = next, .dof = 1234.5, .chi2 = 1.2344};
      for (size_t i = 0; i < t.sets.size(); ++i)
        if (t.sets[i].group == g.group) {
          desc[i].base = next;
          next += desc[i].n_fast * desc[i].n_slow;
        }
      f.factors = next - f.first;
      fits.push_back(f);
    }
    fits[1].dof = 17.04;
    fits[1].chi2 = 0.9876;
    for (int k = 0; k < next; ++k) factors.push_back(1.0f + 0.001f * static_cast<float>(k));
  }

  // The report block as written.
  std::string report(CorrectionKind m) const {
    std::FILE* f = std::tmpfile();
    lpcorfac(Report{f, nullptr}, m, t, groups, fits, 4, desc, nodes, factors);
    std::string text(static_cast<size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    return text;
  }
};

std::string without_trailing_blanks(const std::string& text) {
  std::string out;
  for (size_t p = 0, e; p < text.size(); p = e + 1) {
    e = text.find('\n', p);
    const std::string line = text.substr(p, e - p);
    out += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
  }
  return out;
}

TEST(FactorReport, DecayBlockAndImages) {
  TempDir dir;
  InDirectory in(dir);
  const Scaled s(CorrectionKind::kDecay);
  const std::string stars(78, '*');
  const std::string report = s.report(CorrectionKind::kDecay);
  EXPECT_TRUE(testing::contains(report, " OUTPUT FILE: OUT_A.HKL" + std::string(41, ' ') + "\n"));  // A50
  EXPECT_TRUE(testing::contains(report, "KVD-Viewer DECAY_001.cbf" + std::string(7, ' ') + "\n"));  // A20
  EXPECT_EQ(without_trailing_blanks(report), "\n " + stars + R"(
           CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION
 )" + stars + R"(

 RECIPROCAL CORRECTION FACTORS FOR INPUT DATA SETS MERGED TO
 OUTPUT FILE: OUT_A.HKL

 THE CALCULATIONS ASSUME         FRIEDEL'S_LAW= TRUE
 TOTAL NUMBER OF CORRECTION FACTORS DEFINED      101
 DEGREES OF FREEDOM OF CHI^2 FIT              1234.5
 CHI^2-VALUE OF FIT OF CORRECTION FACTORS      1.234
 NUMBER OF CYCLES CARRIED OUT                      4

 CORRECTION FACTORS for visual inspection by KVD-Viewer DECAY_001.cbf
 XMIN=     1.0 XMAX=   100.0 NXBIN=    5
 YMIN= 0.01000 YMAX= 0.25000 NYBIN=   20
 NUMBER OF REFLECTIONS USED FOR DETERMINING CORRECTION FACTORS       5000

 CORRECTION FACTORS for visual inspection by KVD-Viewer DECAY_002.cbf
 XMIN=     1.0 XMAX=    10.0 NXBIN=    1
 YMIN= 0.01000 YMAX= 0.25000 NYBIN=    1
 NUMBER OF REFLECTIONS USED FOR DETERMINING CORRECTION FACTORS         60


 RECIPROCAL CORRECTION FACTORS FOR INPUT DATA SETS MERGED TO
 OUTPUT FILE: OUT_B.HKL

 THE CALCULATIONS ASSUME         FRIEDEL'S_LAW=FALSE
 TOTAL NUMBER OF CORRECTION FACTORS DEFINED       20
 DEGREES OF FREEDOM OF CHI^2 FIT                17.0
 CHI^2-VALUE OF FIT OF CORRECTION FACTORS      0.988
 NUMBER OF CYCLES CARRIED OUT                      4

 CORRECTION FACTORS for visual inspection by KVD-Viewer DECAY_003.cbf
 XMIN=     1.0 XMAX=    50.0 NXBIN=    1
 YMIN= 0.01000 YMAX= 0.25000 NYBIN=   20
 NUMBER OF REFLECTIONS USED FOR DETERMINING CORRECTION FACTORS       1000

)");
  // with two correction groups COLLECTED.HKL gets a numbered image
  for (const char* f : {"DECAY_001.cbf", "DECAY_002.cbf", "DECAY_003.cbf"}) EXPECT_TRUE(dir.exists(f)) << f;
#ifdef VELMAR_HAVE_CBFLIB
  const testing::CbfContents r = testing::read_cbf(dir.file("DECAY_001.cbf"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.nx * r.ny, 100u);
  EXPECT_EQ(r.nx, 5u);
  for (size_t k = 0; k < r.pixels.size(); ++k) EXPECT_EQ(r.pixels[k], 1000 + static_cast<int>(k)) << "pixel " << k;
  EXPECT_EQ(r.header_contents,
            "\n INPUT_FILE=xtal_1.HKL\n REC. CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION\n"
            " XMIN=     1.0 XMAX=   100.0 NXBIN=    5\n YMIN= 0.01000 YMAX= 0.25000 NYBIN=   20");
  EXPECT_EQ(testing::read_cbf(dir.file("DECAY_003.cbf")).pixels.front(), 1101);  // group 2 starts at 101
#endif
}

TEST(FactorReport, DetectorAndSurfaceLines) {
  TempDir dir;
  InDirectory in(dir);
  const std::string modulation =
      without_trailing_blanks(Scaled(CorrectionKind::kModulation).report(CorrectionKind::kModulation));
  EXPECT_TRUE(testing::contains(modulation, R"(
  CORRECTION FACTORS AS FUNCTION OF X (fast) & Y(slow) IN THE DETECTOR PLANE
)"));
  EXPECT_TRUE(testing::contains(modulation, R"(MODPIX_003.cbf
 XMIN=     0.0 XMAX=  1000.0 NXBIN=    4
 YMIN=     0.0 YMAX=  1000.0 NYBIN=    4
)"));
  // a single surface node lies at (0, 0)
  const std::string all =
      without_trailing_blanks(Scaled(CorrectionKind::kAbsorption).report(CorrectionKind::kAbsorption));
  EXPECT_TRUE(testing::contains(all, R"(ABSORP_001.cbf
 XMIN=     1.0 XMAX=   100.0 NXBIN=    5
 DETECTOR_SURFACE_POSITION=       0       0
)")) << all;
  // the nodes printed in their order (the order itself: the grid tests)
  EXPECT_TRUE(testing::contains(all, R"(ABSORP_003.cbf
 XMIN=     1.0 XMAX=    50.0 NXBIN=    1
 DETECTOR_SURFACE_POSITION=     500     500
 DETECTOR_SURFACE_POSITION=     670     670
)")) << all;
  EXPECT_TRUE(testing::contains(all, " DETECTOR_SURFACE_POSITION=     884     341\n NUMBER OF REFLECTIONS USED"));
}

TEST(FactorReport, PixelValuesAndUnwritableImage) {
  TempDir dir;
  InDirectory in(dir);
  Scaled s(CorrectionKind::kDecay);
  s.groups.pop_back();  // one correction group: COLLECTED.HKL gives DECAY.cbf
  s.fits.pop_back();
  s.desc[2].base = -1;
  s.factors = std::vector<float>(101, 1.0f);
  s.factors[1] = 40.0f;     // above 32.767
  s.factors[2] = 1.0025f;   // 1002.5 rounds away from zero
  s.factors[3] = -0.0015f;  // and so does -1.5
  s.factors[100] = 1.2f;
  ASSERT_EQ(mkdir("DECAY_001.cbf", 0755), 0);  // cannot be written: left out, the rest goes on
  s.report(CorrectionKind::kDecay);
  EXPECT_TRUE(dir.exists("DECAY.cbf"));
  EXPECT_FALSE(dir.exists("DECAY_002.cbf"));
#ifdef VELMAR_HAVE_CBFLIB
  EXPECT_EQ(testing::read_cbf(dir.file("DECAY.cbf")).pixels, std::vector<int32_t>{1200});
  ASSERT_EQ(rmdir("DECAY_001.cbf"), 0);
  s.report(CorrectionKind::kDecay);
  const std::vector<int32_t> p = testing::read_cbf(dir.file("DECAY_001.cbf")).pixels;
  ASSERT_EQ(p.size(), 100u);
  EXPECT_EQ(std::vector<int32_t>(p.begin(), p.begin() + 5), (std::vector<int32_t>{1000, 32767, 1003, -2, 1000}));
#endif
}

}  // namespace
}  // namespace velmar
