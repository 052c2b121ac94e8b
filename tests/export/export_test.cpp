// velmar-export, its files read back with gemmi and compared value by value with the source:
// the four output files of a whole zero-dose run (merged and unmerged, with and without
// Friedel's law), the demo's merged file and hand-made files in many space-group settings
// (without zero dose). Merged reflections are compared through VELMAR's own reduction to the
// asymmetric unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "export/export_support.hpp"
#include "report/report_support.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

using testing::KvdText;
using testing::number;
using testing::ReadBack;
using testing::same_value;
using testing::Table;
using testing::TempDir;
using Strings = std::vector<std::string>;

#ifdef VELMAR_EXPORT_BINARY

using HalfKey = std::tuple<int, int, int, int>;  // h, k, l of VELMAR's key; parity (0 with Friedel's law)
using Intensity = std::pair<float, float>;       // I, sigma

// Every Friedel half of the source is exported once with its I and sigma (h, k, l from column
// `hkl` of the table, IMEAN SIGIMEAN [I(+) SIGI(+) I(-) SIGI(-)] from column `value`); IMEAN of
// an anomalous row is the weighted mean of its halves, or the one half present.
void expect_same_halves(const KvdText& k, const Table& t, size_t hkl, size_t value) {
  const SymopList ops = xsymy(1, k.cell, k.space_group).ops;
  ASSERT_FALSE(ops.empty());
  std::map<HalfKey, Intensity> want, got;
  int twice = 0;
  auto add = [&](std::map<HalfKey, Intensity>& m, int h, int kk, int l, float i, float s) {
    const ReflKey key = iasym(h, kk, l, ops);
    twice += !m.emplace(HalfKey{key.h, key.k, key.l, k.friedel ? 0 : (key.isym < 0 ? -1 : 1)}, Intensity{i, s}).second;
  };
  for (const std::vector<float>& r : k.records) add(want, int(r[0]), int(r[1]), int(r[2]), r[3], r[4]);
  for (const Strings& row : t.rows) {
    std::vector<float> v;
    for (const std::string& s : row) v.push_back(number(s));
    ASSERT_EQ(v.size(), value + (k.friedel ? 2 : 6));
    const int h = int(v[hkl]), kk = int(v[hkl + 1]), l = int(v[hkl + 2]);
    const float* mean = &v[value];
    if (k.friedel) {
      add(got, h, kk, l, mean[0], mean[1]);
      continue;
    }
    const float *plus = mean + 2, *minus = mean + 4;
    const bool has_plus = !std::isnan(plus[0]), has_minus = !std::isnan(minus[0]);
    EXPECT_TRUE(has_plus || has_minus) << h << " " << kk << " " << l;
    if (has_plus) add(got, h, kk, l, plus[0], plus[1]);
    if (has_minus) add(got, -h, -kk, -l, minus[0], minus[1]);
    if (has_plus && has_minus) {
      const double w1 = 1 / (double(plus[1]) * plus[1]), w2 = 1 / (double(minus[1]) * minus[1]);
      EXPECT_FLOAT_EQ(mean[0], float((w1 * plus[0] + w2 * minus[0]) / (w1 + w2)));
      EXPECT_FLOAT_EQ(mean[1], float(1 / std::sqrt(w1 + w2)));
    } else {
      EXPECT_EQ(Intensity(mean[0], mean[1]), has_plus ? Intensity(plus[0], plus[1]) : Intensity(minus[0], minus[1]));
    }
  }
  EXPECT_EQ(twice, 0) << "halves given twice";
  EXPECT_TRUE(got == want) << got.size() << " halves exported, " << want.size() << " in the source";
}

// Every observation with its values (and decay constant) and, through M/ISYM (read_back.py
// applies it), its indices as measured; image numbers become batches with one offset per
// ISET, the first ISET at its own image numbers and the ISETs apart; one batch header per
// batch, with the cell; one MTZ data set per ISET, named after its input file, with its
// wavelength and crystal.
void expect_unmerged_mtz(const KvdText& k, const ReadBack& mtz) {
  const Table t = mtz.category("");
  Strings tags = {"H:H",    "K:H",    "L:H",     "M/ISYM:Y", "BATCH:B", "I:J",
                  "SIGI:Q", "XDET:R", "YDET:R", "IMAGE:R",  "PSI:R",   "ISET:I"};
  if (!k.crystal.empty()) tags.push_back("DCY:R");
  ASSERT_EQ(t.tags, tags);
  ASSERT_EQ(t.rows.size(), k.records.size());
  std::map<int, std::set<long>> offsets;    // per ISET: BATCH - nint(ZD)
  std::map<int, std::pair<int, int>> span;  // per ISET: lowest and highest batch
  std::set<int> batches;
  int differ = 0;
  for (size_t i = 0; i < t.rows.size(); ++i) {
    const std::vector<float>& r = k.records[i];
    const size_t column[] = {0, 1, 2, 5, 6, 7, 8, 9, 10, 11, 12};  // H K L I SIGI XDET YDET IMAGE PSI ISET [DCY]
    for (size_t c = 0; c < r.size(); ++c)
      differ += !same_value(c == 8 && r[c] == 9999.0f ? NAN : r[c], number(t.rows[i].at(column[c])));
    const int iset = int(r[9]), batch = int(number(t.rows[i][4]));
    offsets[iset].insert(batch - std::lround(r[7]));
    auto& [low, high] = span.try_emplace(iset, batch, batch).first->second;
    low = std::min(low, batch), high = std::max(high, batch);
    batches.insert(batch);
  }
  EXPECT_EQ(differ, 0) << "values that differ from the source";
  int previous_top = 0;
  for (const auto& [iset, o] : offsets) {
    EXPECT_EQ(o.size(), 1u) << "ISET " << iset << " has no single batch offset";
    EXPECT_GT(span[iset].first, previous_top) << "batch numbers of ISET " << iset << " overlap or are not positive";
    previous_top = span[iset].second;
  }
  const long first_offset = *offsets.begin()->second.begin();  // 0 unless its images would give batch 0 or less
  EXPECT_TRUE(first_offset == 0 || span.begin()->second.first - first_offset < 1) << first_offset;
  std::set<int> headers;
  for (const Strings& b : mtz.all("batch")) {
    headers.insert(std::stoi(b[1]));
    EXPECT_NEAR(number(b[3]), k.cell[0], 1e-3);
  }
  EXPECT_EQ(headers, batches);
  std::map<std::string, std::pair<float, std::string>> want, got;  // data set: wavelength, crystal
  for (const auto& [iset, file] : k.input_file)
    want[std::filesystem::path(file).stem().string()] = {k.wavelength.at(iset),
                                                         k.crystal.contains(iset) ? k.crystal.at(iset) : "crystal"};
  for (const Strings& d : mtz.all("dataset"))
    if (d[1] != "0") got[d[4]] = {number(d[5]), d[3]};
  EXPECT_EQ(got, want);
}

void expect_unmerged_cif(const KvdText& k, const ReadBack& cif) {
  const Table t = cif.category("_diffrn_refln.");
  ASSERT_EQ(t.tags, (Strings{"_diffrn_refln.diffrn_id", "_diffrn_refln.id", "_diffrn_refln.index_h",
                             "_diffrn_refln.index_k", "_diffrn_refln.index_l", "_diffrn_refln.intensity_net",
                             "_diffrn_refln.intensity_sigma", "_diffrn_refln.pdbx_image_id"}));
  ASSERT_EQ(t.rows.size(), k.records.size());
  int differ = 0;
  for (size_t i = 0; i < t.rows.size(); ++i) {
    const std::vector<float>& r = k.records[i];
    const float want[] = {r[9], float(i + 1), r[0], r[1], r[2], r[3], r[4], float(std::lround(r[7]))};
    for (size_t j = 0; j < 8; ++j) differ += !same_value(want[j], number(t.rows[i][j]));
  }
  EXPECT_EQ(differ, 0);
  std::map<int, float> wavelength;
  for (const Strings& r : cif.category("_diffrn_radiation_wavelength.").rows) wavelength[std::stoi(r[0])] = number(r[1]);
  EXPECT_EQ(wavelength, k.wavelength);
}

// stem.hkl against stem.mtz and stem.cif: symmetry (and the name of its setting, when given)
// and cell, then the reflections.
void expect_export(const TempDir& d, const std::string& stem, const std::string& setting = "") {
  const KvdText k = testing::read_kvd_text(d.read(stem + ".hkl"));
  ASSERT_FALSE(k.records.empty());
  const ReadBack mtz = testing::read_back(d, "mtz", stem + ".mtz"), cif = testing::read_back(d, "cif", stem + ".cif");
  ASSERT_EQ(std::make_pair(mtz.status, cif.status), std::make_pair(0, 0));
  const std::string sg = std::to_string(k.space_group);
  EXPECT_EQ(Strings({mtz.field("spacegroup", 1), mtz.field("symm_group", 1), cif.value("_symmetry.Int_Tables_number")}),
            Strings({sg, sg, sg}));  // the SYMM records alone as well
  if (!setting.empty()) {
    EXPECT_EQ(Strings({mtz.field("symm_group", 2), cif.value("_symmetry.space_group_name_H-M")}), Strings({setting, setting}));
  }
  const char* const tags[] = {"length_a", "length_b", "length_c", "angle_alpha", "angle_beta", "angle_gamma"};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_NEAR(number(mtz.field("cell", i + 1)), k.cell[i], 1e-4) << tags[i];
    EXPECT_NEAR(number(cif.value(std::string("_cell.") + tags[i])), k.cell[i], 1e-4) << tags[i];
  }
  EXPECT_EQ(mtz.field("outside_asu", 1), "0");
  if (!k.merged) {
    expect_unmerged_mtz(k, mtz);
    expect_unmerged_cif(k, cif);
    return;
  }
  Strings mtz_tags = {"H:H", "K:H", "L:H", "IMEAN:J", "SIGIMEAN:Q"};
  Strings cif_tags = {"_refln.crystal_id", "_refln.wavelength_id", "_refln.scale_group_code", "_refln.index_h",
                      "_refln.index_k", "_refln.index_l", "_refln.status", "_refln.intensity_meas", "_refln.intensity_sigma"};
  if (!k.friedel) {
    mtz_tags.insert(mtz_tags.end(), {"I(+):K", "SIGI(+):M", "I(-):K", "SIGI(-):M"});
    cif_tags.insert(cif_tags.end(), {"_refln.pdbx_I_plus", "_refln.pdbx_I_plus_sigma", "_refln.pdbx_I_minus",
                                     "_refln.pdbx_I_minus_sigma"});
  }
  const Table mtz_table = mtz.category(""), cif_table = cif.category("_refln.");
  ASSERT_EQ(mtz_table.tags, mtz_tags);
  ASSERT_EQ(cif_table.tags, cif_tags);
  EXPECT_EQ(mtz.all("sort"), (std::vector<Strings>{{"sort", "1", "2", "3", "0", "0"}}));
  EXPECT_TRUE(mtz.all("batch").empty());
  const std::vector<Strings> data_sets = mtz.all("dataset");  // the base and one
  ASSERT_EQ(data_sets.size(), 2u);
  EXPECT_EQ(std::make_pair(number(data_sets[1][5]), number(cif.value("_diffrn_radiation_wavelength.wavelength"))),
            std::make_pair(k.wavelength.begin()->second, k.wavelength.begin()->second));
  expect_same_halves(k, mtz_table, 0, 3);
  expect_same_halves(k, cif_table, 3, 7);
  for (const Strings& r : cif_table.rows) ASSERT_EQ(r[6], "o");
}

#ifdef VELMAR_SYNTH_BINARY

// One run of VELMAR (two sweeps of one monoclinic crystal, unique axis b, with an anomalous
// signal, radiation damage and different wavelengths, corrected to zero dose, into four output
// files), each output file exported to stem.mtz and stem.cif.
const TempDir& run_and_export() {
  static TempDir d;
  static bool done = false;
  if (std::exchange(done, true)) return d;
  std::string control;
  for (const std::string stem : {"merged_f", "merged_a", "unmerged_f", "unmerged_a"})
    control += "OUTPUT_FILE=" + stem + ".hkl\nMERGE=" + (stem[0] == 'm' ? "TRUE" : "FALSE") + "\nFRIEDEL'S_LAW=" +
               (stem.back() == 'f' ? "TRUE" : "FALSE") +
               "\nINPUT_FILE=s1.hkl\nCRYSTAL_NAME=xtal\nINPUT_FILE=s2.hkl\nCRYSTAL_NAME=xtal\nSTARTING_DOSE=40\n";
  testing::synthesize(d, "s1.hkl",
                      "--wavelength 0.98 --images 40 --dose-rate 1 -o s2.hkl --wavelength 1.02 --images 40 "
                      "--dose-rate 1 --starting-dose 40 --obs 2500 --short --sg 5 --cell 60 40 50 90 105 90 "
                      "--dmin 3 --friedel FALSE --anomalous 0.1 --damage 0.01 0.05 0.01 --seed 7");
  const testing::RunResult run = testing::run_velmar(d, control);
  EXPECT_EQ(run.status, 0) << run.terminal;
  for (const std::string stem : {"merged_f", "merged_a", "unmerged_f", "unmerged_a"}) {
    const testing::CommandResult c = testing::run_export(d, stem + ".hkl --mtz " + stem + ".mtz --mmcif " + stem + ".cif");
    EXPECT_EQ(c.status, 0) << c.output;
  }
  return d;
}

class ExportRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(ExportRoundTrip, ExportedFilesHoldEveryValueOfTheSource) { expect_export(run_and_export(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(Runs, ExportRoundTrip, ::testing::Values("merged_f", "merged_a", "unmerged_f", "unmerged_a"),
                         [](const auto& p) { return std::string(p.param); });

#endif  // VELMAR_SYNTH_BINARY

// The demo's merged file, exported as run-demo exports it, reads back with every value.
TEST(ExportDemo, MergedFileOfTheDemo) {
  TempDir d;
  ASSERT_EQ(testing::run_demo(d).status, 0);
  const testing::CommandResult c = testing::run_export(d, "demo_merged.hkl --mtz demo_merged.mtz --mmcif demo_merged.cif");
  ASSERT_EQ(c.status, 0) << c.output;
  expect_export(d, "demo_merged");
}

// Every reflection with indices up to 3: as merged records every Friedel half once, as VELMAR
// writes it (the key's indices for "+", their negation for "-"); as unmerged records one
// observation each, every other one without psi.
void write_test_file(const TempDir& d, const std::string& stem, bool merged, int space_group, const Cell& c) {
  const SymopList ops = xsymy(1, c, space_group).ops;
  std::set<std::tuple<int, int, int, int>> halves;
  std::vector<testing::TestRecord> out;
  for (int h = -3; h <= 3; ++h)
    for (int k = -3; k <= 3; ++k)
      for (int l = -3; l <= 3; ++l) {
        const float n = float(out.size());
        if ((h == 0 && k == 0 && l == 0) || ops.empty()) continue;
        const ReflKey key = iasym(h, k, l, ops);
        if (merged) halves.emplace(key.h, key.k, key.l, key.isym < 0 ? -1 : 1);
        else out.push_back({h, k, l, 5 + n, 0.5f + 0.01f * n, 100 + n, 200 + n, 1.3f + float(out.size() % 7),
                            out.size() % 2 ? 0.5f * n : 9999.0f, 1});
      }
  for (const auto& [h, k, l, s] : halves) {
    const float n = float(out.size());
    out.push_back({s * h, s * k, s * l, 10.0f + 1.5f * n, 1.0f + 0.01f * n});
  }
  char cell[80];
  std::snprintf(cell, sizeof cell, "%10.2f%10.2f%10.2f%8.3f%8.3f%8.3f", double(c[0]), double(c[1]), double(c[2]),
                double(c[3]), double(c[4]), double(c[5]));
  d.write(stem + ".hkl", testing::velmar_file_text(merged, false, space_group, cell, out));
}

// Space-group settings: VELMAR's operators of each setting must give the same group in gemmi
// (its name), the same reflections after both reductions to the asymmetric unit, and M/ISYM
// that lead back to the indices as measured.
struct SettingCase { const char* name; int space_group; Cell cell; const char* xhm; };  // xhm: gemmi's name

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }

class ExportSettings : public ::testing::TestWithParam<SettingCase> {};

TEST_P(ExportSettings, SameGroupReflectionsAndMeasuredIndices) {
  const SettingCase& c = GetParam();
  TempDir d;
  for (const char* stem : {"m", "u"}) {
    write_test_file(d, stem, *stem == 'm', c.space_group, c.cell);
    const testing::CommandResult r = testing::run_export(d, std::string(stem) + ".hkl");
    ASSERT_EQ(r.status, 0) << r.output;
    expect_export(d, stem, c.xhm);
  }
}

const SettingCase kSettings[] = {
    {"Triclinic", 1, {30, 40, 50, 80, 85, 95}, "P 1"},
    {"MonoclinicUniqueAxisB", 5, {60, 40, 50, 90, 105, 90}, "C 1 2 1"},
    {"MonoclinicUniqueAxisC", 4, {30, 40, 50, 90, 90, 100}, "P 1 1 21"},
    {"CentredMonoclinicUniqueAxisC", 5, {60, 40, 50, 90, 90, 105}, "B 1 1 2"},
    {"OriginChoice2", 50, {30, 40, 50, 90, 90, 90}, "P b a n:2"},
    {"Tetragonal", 96, {50, 50, 30, 90, 90, 90}, "P 43 21 2"},
    {"RhombohedralAxes", 146, {50, 50, 50, 80, 80, 80}, "R 3:R"},
    {"HexagonalAxes", 155, {50, 50, 70, 90, 90, 120}, "R 3 2:H"},
    {"Hexagonal", 178, {40, 40, 90, 90, 90, 120}, "P 61 2 2"},
    {"FaceCentredCubicOrigin2", 228, {60, 60, 60, 90, 90, 90}, "F d -3 c:2"},
};

INSTANTIATE_TEST_SUITE_P(Groups, ExportSettings, ::testing::ValuesIn(kSettings),
                         [](const auto& p) { return std::string(p.param.name); });

#endif  // VELMAR_EXPORT_BINARY

}  // namespace
}  // namespace velmar
