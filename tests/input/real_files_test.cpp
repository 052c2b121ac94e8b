// Every measured reflection file of the shared test data reads completely.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "input/readhdr.hpp"
#include "input_files.hpp"

namespace velmar {
namespace {

std::string real_file(const std::string& name) {
  return std::string(VELMAR_SOURCE_DIR) + "/../shared/data/real/" + name;
}

// The data lines as text: non-comment lines between the end of the header and the end of
// the data.
std::vector<std::string> data_lines_of(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> out;
  std::string line;
  bool in_data = false;
  while (std::getline(in, line)) {
    if (line.find("!END_OF_DATA") != std::string::npos) break;
    if (in_data && line.find('!') == std::string::npos) out.push_back(line);
    if (line.find("!END_OF_HEADER") != std::string::npos) in_data = true;
  }
  return out;
}

struct RealFile {
  const char* name;
  size_t observations;
};

const RealFile kRealFiles[] = {
    {"lysozyme_wedge.hkl", 13176}, {"p1_wedge.hkl", 3315}, {"lta_t1.hkl", 15210},
    {"feacac13.hkl", 14794},       {"stw_t1.hkl", 8536},   {"stw_t2.hkl", 7034},
    {"stw_t3.hkl", 6363},          {"stw_t4.hkl", 7829},
};

TEST(DataLinesRealFiles, EveryLineOfEveryFile) {
  if (!std::filesystem::exists(real_file("lysozyme_wedge.hkl"))) GTEST_SKIP() << "no shared data";
  for (const RealFile& f : kRealFiles) {
    const std::string file = real_file(f.name);
    const HeaderValues hdr = readhdr(1, file, "KVD_ASCII");
    ASSERT_EQ(hdr.status, 0) << f.name;
    EXPECT_FALSE(hdr.merge || hdr.friedel) << f.name;
    EXPECT_EQ(hdr.items * 100 + hdr.item_psi, 1212) << f.name;
    const std::vector<std::string> text = data_lines_of(file);
    const testing::ReadAll r = testing::read_all(file, FileKind::kKvdAscii, hdr);
    EXPECT_EQ(r.end, ReadResult::kEnd) << f.name;
    EXPECT_EQ(text.size(), f.observations) << f.name;
    ASSERT_EQ(r.lines.size(), text.size()) << f.name;
    for (size_t i = 0; i < text.size(); ++i) {
      std::istringstream in(text[i]);
      int h, k, l;
      float v[9];
      in >> h >> k >> l;
      for (float& x : v) in >> x;
      const DataLine& d = r.lines[i];
      ASSERT_TRUE(d.h == h && d.k == k && d.l == l && d.intensity == v[0] && d.sigma == v[1] &&
                  d.x == v[2] && d.y == v[3] && d.z == v[4] && d.psi == v[8])
          << f.name << " line " << i << ": " << text[i];
    }
  }
}

TEST(ReadHdrRealFiles, HeaderValuesAsWritten) {
  if (!std::filesystem::exists(real_file("stw_t1.hkl"))) GTEST_SKIP() << "no shared data";
  const HeaderValues lys = readhdr(1, real_file("lysozyme_wedge.hkl"), "KVD_ASCII");
  ASSERT_EQ(lys.status, 0);
  EXPECT_EQ((std::vector<int>{lys.space_group, lys.nx, lys.ny, lys.starting_frame, lys.item_zd}),
            (std::vector<int>{89, 2463, 2527, 1, 8}));
  EXPECT_EQ(lys.cell, (Cell{77.255f, 77.255f, 38.233f, 90.0f, 90.0f, 90.0f}));
  EXPECT_EQ((std::vector<float>{lys.variance_a0, lys.variance_b0, lys.qx, lys.orgy,
                                lys.detector_distance, lys.oscillation_range, lys.wavelength,
                                lys.res_low, lys.res_high, lys.incident_beam[0]}),
            (std::vector<float>{4.931E-01f, 9.102E-03f, 0.172f, 1282.62f, 151.070f, 0.1f, 1.0f,
                                50.0f, 1.507f, 0.002404f}));
  const HeaderValues stw = readhdr(1, real_file("stw_t1.hkl"), "KVD_ASCII");
  ASSERT_EQ(stw.status, 0);
  EXPECT_EQ(stw.space_group, 179);
  // ORGX=, ORGY= and DETECTOR_DISTANCE= share a line here; there is no resolution range.
  EXPECT_EQ((std::vector<float>{stw.cell[5], stw.orgx, stw.orgy, stw.detector_distance,
                                stw.starting_angle, stw.wavelength, stw.res_low}),
            (std::vector<float>{120.0f, 245.05f, 246.10f, 686.227f, -45.0f, 0.019690f, 1.0e6f}));
}

}  // namespace
}  // namespace velmar
