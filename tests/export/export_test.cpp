// velmar-export on output files of whole runs, merged and unmerged, with and without
// Friedel's law: every exported file is read back with gemmi and compared value by value
// with the source file. Merged reflections are compared through VELMAR's own reduction to
// the asymmetric unit, which is independent of gemmi's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "export/export_support.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

using testing::KvdText;
using testing::ReadBack;
using testing::TempDir;
using testing::number;
using testing::same_value;

#if defined(VELMAR_EXPORT_BINARY) && defined(VELMAR_SYNTH_BINARY)

// One run of VELMAR whose output files have all been exported.
struct Source {
  TempDir dir;
  bool ok = false;
  std::string failure;
};

const char kSyntheticControl[] =
    "OUTPUT_FILE=merged_f.hkl\nMERGE=TRUE\nFRIEDEL'S_LAW=TRUE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n"
    "OUTPUT_FILE=merged_a.hkl\nMERGE=TRUE\nFRIEDEL'S_LAW=FALSE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n"
    "OUTPUT_FILE=unmerged_f.hkl\nMERGE=FALSE\nFRIEDEL'S_LAW=TRUE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n"
    "OUTPUT_FILE=unmerged_a.hkl\nMERGE=FALSE\nFRIEDEL'S_LAW=FALSE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\n";

const char* const kSyntheticOutputs[] = {"merged_f", "merged_a", "unmerged_f", "unmerged_a"};
const char* const kDemoOutputs[] = {"demo_merged", "demo_unmerged"};

// Runs VELMAR on generated data (two sweeps of a monoclinic crystal, unique axis b, with
// an anomalous signal and different wavelengths) or on the demo, then exports every output
// file to stem.mtz and stem.cif.
std::unique_ptr<Source> make_source(const std::string& name) {
  auto s = std::make_unique<Source>();
  const TempDir& d = s->dir;
  std::vector<std::string> stems;
  if (name == "synthetic") {
    if (!testing::synthesize(d, "s1.hkl",
                             "--wavelength 0.98 -o s2.hkl --wavelength 1.02 --sg 5 --cell 60 40 50 90 105 90 "
                             "--dmin 3 --friedel FALSE --anomalous 0.1 --obs 2500 --images 40 --seed 7 --short")) {
      s->failure = "velmar_synth failed";
      return s;
    }
    d.write("VELMAR.INP", kSyntheticControl);
    stems.assign(std::begin(kSyntheticOutputs), std::end(kSyntheticOutputs));
  } else {
    for (const char* f : {"VELMAR.INP", "demo_1.hkl", "demo_2.hkl"})
      std::filesystem::copy_file(std::string(VELMAR_SOURCE_DIR) + "/examples/demo/" + f, d.file(f));
    stems.assign(std::begin(kDemoOutputs), std::end(kDemoOutputs));
  }
  const testing::RunResult run = testing::run_velmar(d);
  if (run.status != 0) {
    s->failure = "velmar failed:\n" + run.terminal;
    return s;
  }
  for (const std::string& stem : stems) {
    const testing::CommandResult c =
        testing::run_export(d, stem + ".hkl --mtz " + stem + ".mtz --mmcif " + stem + ".cif");
    if (c.status != 0) {
      s->failure = "velmar-export " + stem + " failed:\n" + c.output;
      return s;
    }
  }
  s->ok = true;
  return s;
}

const Source& source(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Source>> made;
  std::unique_ptr<Source>& s = made[name];
  if (!s) s = make_source(name);
  return *s;
}

// ---- merged files: reflections keyed by VELMAR's asymmetric unit and Friedel half ----

using HalfKey = std::tuple<int, int, int, int>;  // h, k, l of the key; parity (0 with Friedel's law)
using Intensity = std::pair<float, float>;       // I, sigma

SymopList operators(const KvdText& k) { return xsymy(1, k.cell, k.space_group).ops; }

HalfKey half_key(int h, int k, int l, bool friedel, const SymopList& ops) {
  const ReflKey key = iasym(h, k, l, ops);
  return {key.h, key.k, key.l, friedel ? 0 : (key.isym < 0 ? -1 : 1)};
}

// Adds one entry; false when the key was there already.
bool add(std::map<HalfKey, Intensity>& m, const HalfKey& key, float i, float sigma) {
  return m.emplace(key, Intensity{i, sigma}).second;
}

std::map<HalfKey, Intensity> source_halves(const KvdText& k, const SymopList& ops) {
  std::map<HalfKey, Intensity> m;
  for (const std::vector<float>& r : k.records)
    EXPECT_TRUE(add(m, half_key(int(r[0]), int(r[1]), int(r[2]), k.friedel, ops), r[3], r[4]));
  return m;
}

// A merged row of the exported file: h k l, then IMEAN SIGIMEAN [I(+) SIGI(+) I(-) SIGI(-)].
struct MergedRow {
  int h, k, l;
  std::vector<float> v;
};

float weighted_mean_sigma(float s1, float s2) {
  return static_cast<float>(1.0 / std::sqrt(1.0 / (double(s1) * s1) + 1.0 / (double(s2) * s2)));
}

float weighted_mean(float i1, float s1, float i2, float s2) {
  const double w1 = 1.0 / (double(s1) * s1), w2 = 1.0 / (double(s2) * s2);
  return static_cast<float>((w1 * i1 + w2 * i2) / (w1 + w2));
}

// The halves of the exported rows; IMEAN is checked against the halves on the way.
std::map<HalfKey, Intensity> exported_halves(const KvdText& k, const std::vector<MergedRow>& rows,
                                             const SymopList& ops) {
  std::map<HalfKey, Intensity> m;
  for (const MergedRow& r : rows) {
    if (k.friedel) {
      EXPECT_EQ(r.v.size(), 2u);
      EXPECT_TRUE(add(m, half_key(r.h, r.k, r.l, true, ops), r.v[0], r.v[1]));
      continue;
    }
    if (r.v.size() != 6u) {
      ADD_FAILURE() << "row of " << r.v.size() << " values";
      continue;
    }
    const bool plus = !std::isnan(r.v[2]), minus = !std::isnan(r.v[4]);
    EXPECT_TRUE(plus || minus) << r.h << " " << r.k << " " << r.l;
    const bool fresh_plus = !plus || add(m, half_key(r.h, r.k, r.l, false, ops), r.v[2], r.v[3]);
    const bool fresh_minus = !minus || add(m, half_key(-r.h, -r.k, -r.l, false, ops), r.v[4], r.v[5]);
    EXPECT_TRUE(fresh_plus && fresh_minus) << "half given twice: " << r.h << " " << r.k << " " << r.l;
    if (plus && minus) {
      EXPECT_FLOAT_EQ(r.v[0], weighted_mean(r.v[2], r.v[3], r.v[4], r.v[5]));
      EXPECT_FLOAT_EQ(r.v[1], weighted_mean_sigma(r.v[3], r.v[5]));
    } else {
      EXPECT_EQ(r.v[0], plus ? r.v[2] : r.v[4]);
      EXPECT_EQ(r.v[1], plus ? r.v[3] : r.v[5]);
    }
  }
  return m;
}

void expect_same_halves(const KvdText& k, const std::vector<MergedRow>& rows) {
  const SymopList ops = operators(k);
  ASSERT_FALSE(ops.empty());
  const std::map<HalfKey, Intensity> want = source_halves(k, ops);
  const std::map<HalfKey, Intensity> got = exported_halves(k, rows, ops);
  ASSERT_EQ(got.size(), want.size());
  int differ = 0;
  for (const auto& [key, value] : want) {
    const auto it = got.find(key);
    if (it == got.end() || it->second != value) ++differ;
  }
  EXPECT_EQ(differ, 0);
}

std::vector<MergedRow> mtz_merged_rows(const ReadBack& mtz) {
  std::vector<MergedRow> rows;
  for (const auto& l : mtz.all("row")) {
    MergedRow r{int(number(l[1])), int(number(l[2])), int(number(l[3])), {}};
    for (size_t i = 4; i < l.size(); ++i) r.v.push_back(number(l[i]));
    rows.push_back(r);
  }
  return rows;
}

// Values of the loop whose first tag starts with `category`, by tag.
struct CifLoop {
  std::vector<std::string> tags;
  std::vector<std::vector<std::string>> rows;
  int column(const std::string& tag) const {
    for (size_t i = 0; i < tags.size(); ++i)
      if (tags[i] == tag) return int(i);
    return -1;
  }
};

// A category written as a loop, or as pairs when it has one row.
CifLoop cif_loop(const ReadBack& cif, const std::string& category) {
  CifLoop loop;
  bool inside = false;
  for (const auto& l : cif.lines) {
    if (l.empty()) continue;
    if (l[0] == "loop") {
      inside = l.size() > 1 && l[1].starts_with(category);
      if (inside) loop.tags.assign(l.begin() + 1, l.end());
    } else if (l[0] == "row" && inside) {
      loop.rows.emplace_back(l.begin() + 1, l.end());
    } else {
      inside = false;
    }
  }
  if (!loop.tags.empty()) return loop;
  loop.rows.emplace_back();
  for (const auto& l : cif.all("pair"))
    if (l[1].starts_with(category)) {
      loop.tags.push_back(l[1]);
      loop.rows.back().push_back(l[2]);
    }
  if (loop.tags.empty()) loop.rows.clear();
  return loop;
}

std::vector<MergedRow> cif_merged_rows(const ReadBack& cif, bool friedel) {
  const CifLoop loop = cif_loop(cif, "_refln.");
  std::vector<std::string> values = {"_refln.intensity_meas", "_refln.intensity_sigma"};
  if (!friedel)
    for (const char* t : {"_refln.pdbx_I_plus", "_refln.pdbx_I_plus_sigma", "_refln.pdbx_I_minus",
                          "_refln.pdbx_I_minus_sigma"})
      values.push_back(t);
  std::vector<int> cols;
  for (const std::string& t : values) cols.push_back(loop.column(t));
  const int h = loop.column("_refln.index_h"), k = loop.column("_refln.index_k"), l = loop.column("_refln.index_l");
  const int status = loop.column("_refln.status");
  std::vector<MergedRow> rows;
  for (int c : cols) EXPECT_GE(c, 0);
  if (h < 0 || k < 0 || l < 0 || status < 0) {
    ADD_FAILURE() << "_refln lacks indices or status";
    return rows;
  }
  for (const auto& r : loop.rows) {
    EXPECT_EQ(r[size_t(status)], "o");
    MergedRow m{std::stoi(r[size_t(h)]), std::stoi(r[size_t(k)]), std::stoi(r[size_t(l)]), {}};
    for (int c : cols) m.v.push_back(c >= 0 ? number(r[size_t(c)]) : std::nanf(""));
    rows.push_back(m);
  }
  return rows;
}

// ---- header values shared by both formats ----

void expect_cell(const KvdText& k, const std::vector<float>& cell) {
  ASSERT_EQ(cell.size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_NEAR(cell[i], k.cell[i], 1e-4) << "cell parameter " << i;
}

void expect_mtz_header(const KvdText& k, const ReadBack& mtz) {
  ASSERT_EQ(mtz.status, 0);
  const std::vector<std::string> sg = mtz.first("spacegroup");
  ASSERT_EQ(sg.size(), 4u);
  EXPECT_EQ(std::stoi(sg[1]), k.space_group);
  const std::vector<std::string> symm = mtz.first("symm_group");
  ASSERT_EQ(symm.size(), 3u);
  EXPECT_EQ(std::stoi(symm[1]), k.space_group);
  const std::vector<std::string> cell = mtz.first("cell");
  std::vector<float> c;
  for (size_t i = 1; i < cell.size(); ++i) c.push_back(number(cell[i]));
  expect_cell(k, c);
  EXPECT_EQ(mtz.first("outside_asu"), (std::vector<std::string>{"outside_asu", "0"}));
}

void expect_cif_header(const KvdText& k, const ReadBack& cif) {
  ASSERT_EQ(cif.status, 0);
  EXPECT_EQ(cif.pair("_symmetry.Int_Tables_number"), std::to_string(k.space_group));
  std::vector<float> c;
  for (const char* t : {"_cell.length_a", "_cell.length_b", "_cell.length_c", "_cell.angle_alpha",
                        "_cell.angle_beta", "_cell.angle_gamma"})
    c.push_back(number(cif.pair(t)));
  expect_cell(k, c);
}

std::vector<std::string> column_labels(const ReadBack& mtz) {
  std::vector<std::string> labels;
  for (const auto& l : mtz.all("column")) labels.push_back(l[1] + ":" + l[2]);
  return labels;
}

// MTZ data-set id -> (name, wavelength)
std::map<int, std::pair<std::string, float>> mtz_data_sets(const ReadBack& mtz) {
  std::map<int, std::pair<std::string, float>> m;
  for (const auto& l : mtz.all("dataset")) m[std::stoi(l[1])] = {l[4], number(l[5])};
  return m;
}

// ---- unmerged files ----

void expect_unmerged_mtz(const KvdText& k, const ReadBack& mtz) {
  EXPECT_EQ(column_labels(mtz), (std::vector<std::string>{"H:H", "K:H", "L:H", "M/ISYM:Y", "BATCH:B", "I:J",
                                                          "SIGI:Q", "XDET:R", "YDET:R", "IMAGE:R", "PSI:R",
                                                          "ISET:I"}));
  const auto rows = mtz.all("row");
  ASSERT_EQ(rows.size(), k.records.size());
  std::map<int, std::set<long>> offsets;   // per ISET: BATCH - nint(ZD)
  std::map<int, std::pair<int, int>> span;  // per ISET: lowest and highest batch
  std::set<int> batches;
  int differ = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::vector<float>& r = k.records[i];
    std::vector<float> got;
    for (size_t c = 1; c < rows[i].size(); ++c) got.push_back(number(rows[i][c]));
    ASSERT_EQ(got.size(), 12u);
    const float psi = r[8] == 9999.0f ? std::nanf("") : r[8];
    const std::vector<float> want = {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], psi, r[9]};
    const std::vector<float> have = {got[0], got[1], got[2], got[5], got[6], got[7], got[8], got[9], got[10], got[11]};
    for (size_t c = 0; c < want.size(); ++c)
      if (!same_value(want[c], have[c])) ++differ;
    const int iset = int(r[9]), batch = int(got[4]);
    offsets[iset].insert(batch - std::lround(r[7]));
    auto [it, fresh] = span.emplace(iset, std::pair{batch, batch});
    it->second = {std::min(it->second.first, batch), std::max(it->second.second, batch)};
    batches.insert(batch);
  }
  EXPECT_EQ(differ, 0) << "values that differ from the source";
  int previous_top = 0;
  for (const auto& [iset, o] : offsets) {
    EXPECT_EQ(o.size(), 1u) << "ISET " << iset << " has no single batch offset";
    EXPECT_GT(span[iset].first, previous_top) << "batch numbers of ISET " << iset << " overlap or are not positive";
    previous_top = span[iset].second;
  }
  if (offsets.size() == 1 && span.begin()->second.first >= 1) {
    EXPECT_EQ(*offsets.begin()->second.begin(), 0);
  }
  // One batch header per batch number, in the MTZ data set of its ISET, with the cell.
  const auto data_sets = mtz_data_sets(mtz);
  std::set<int> headers;
  for (const auto& b : mtz.all("batch")) {
    headers.insert(std::stoi(b[1]));
    const auto ds = data_sets.find(std::stoi(b[2]));
    ASSERT_NE(ds, data_sets.end());
    EXPECT_NEAR(number(b[3]), k.cell[0], 1e-3);
  }
  EXPECT_EQ(headers, batches);
  std::set<std::string> names;
  for (const auto& [iset, file] : k.input_file) names.insert(std::filesystem::path(file).stem().string());
  std::set<std::string> mtz_names;
  for (const auto& [id, ds] : data_sets)
    if (id > 0) mtz_names.insert(ds.first);
  EXPECT_EQ(mtz_names, names);
}

void expect_unmerged_cif(const KvdText& k, const ReadBack& cif) {
  const CifLoop loop = cif_loop(cif, "_diffrn_refln.");
  const std::vector<std::string> want_tags = {
      "_diffrn_refln.diffrn_id",     "_diffrn_refln.id",            "_diffrn_refln.index_h",
      "_diffrn_refln.index_k",       "_diffrn_refln.index_l",       "_diffrn_refln.intensity_net",
      "_diffrn_refln.intensity_sigma", "_diffrn_refln.pdbx_image_id"};
  ASSERT_EQ(loop.tags, want_tags);
  ASSERT_EQ(loop.rows.size(), k.records.size());
  int differ = 0;
  for (size_t i = 0; i < loop.rows.size(); ++i) {
    const std::vector<float>& r = k.records[i];
    const auto& c = loop.rows[i];
    const std::vector<float> want = {r[9], float(i + 1), r[0], r[1], r[2], r[3], r[4], float(std::lround(r[7]))};
    for (size_t j = 0; j < want.size(); ++j)
      if (!same_value(want[j], number(c[j]))) ++differ;
  }
  EXPECT_EQ(differ, 0);
  const CifLoop wavelengths = cif_loop(cif, "_diffrn_radiation_wavelength.");
  std::map<int, float> got;
  for (const auto& r : wavelengths.rows) got[std::stoi(r[0])] = number(r[1]);
  EXPECT_EQ(got, k.wavelength);
}

void expect_merged_mtz_header(const KvdText& k, const ReadBack& mtz) {
  std::vector<std::string> want = {"H:H", "K:H", "L:H", "IMEAN:J", "SIGIMEAN:Q"};
  if (!k.friedel)
    for (const char* c : {"I(+):K", "SIGI(+):M", "I(-):K", "SIGI(-):M"}) want.push_back(c);
  EXPECT_EQ(column_labels(mtz), want);
  EXPECT_EQ(mtz.first("sort"), (std::vector<std::string>{"sort", "1", "2", "3", "0", "0"}));
  const auto data_sets = mtz_data_sets(mtz);
  ASSERT_EQ(data_sets.size(), 2u);
  EXPECT_EQ(data_sets.at(1).second, k.wavelength.begin()->second);
  EXPECT_TRUE(mtz.all("batch").empty());
}

struct ExportCase {
  const char* source;
  const char* stem;
};

void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.stem; }

class ExportRoundTrip : public ::testing::TestWithParam<ExportCase> {};

TEST_P(ExportRoundTrip, ExportedFilesHoldEveryValueOfTheSource) {
  const ExportCase& c = GetParam();
  const Source& s = source(c.source);
  ASSERT_TRUE(s.ok) << s.failure;
  const std::string stem = c.stem;
  const KvdText k = testing::read_kvd_text(s.dir.read(stem + ".hkl"));
  ASSERT_FALSE(k.records.empty());
  const ReadBack mtz = testing::read_back(s.dir, "mtz", stem + ".mtz");
  const ReadBack cif = testing::read_back(s.dir, "cif", stem + ".cif");
  expect_mtz_header(k, mtz);
  expect_cif_header(k, cif);
  if (k.merged) {
    expect_merged_mtz_header(k, mtz);
    expect_same_halves(k, mtz_merged_rows(mtz));
    expect_same_halves(k, cif_merged_rows(cif, k.friedel));
    EXPECT_EQ(number(cif.pair("_diffrn_radiation_wavelength.wavelength")), k.wavelength.begin()->second);
  } else {
    expect_unmerged_mtz(k, mtz);
    expect_unmerged_cif(k, cif);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, ExportRoundTrip,
                         ::testing::Values(ExportCase{"synthetic", "merged_f"}, ExportCase{"synthetic", "merged_a"},
                                           ExportCase{"synthetic", "unmerged_f"},
                                           ExportCase{"synthetic", "unmerged_a"}, ExportCase{"demo", "demo_merged"},
                                           ExportCase{"demo", "demo_unmerged"}),
                         [](const auto& p) { return std::string(p.param.stem); });

#endif

#ifdef VELMAR_EXPORT_BINARY

// Space-group settings: VELMAR's operators of each setting must give the same group in gemmi
// (its name), the same reflections after both reductions to the asymmetric unit, and
// M/ISYM that lead back to the indices as measured.
struct SettingCase {
  const char* name;
  int space_group;
  Cell cell;
  const char* xhm;  // gemmi's name of the setting
};

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

std::string cell_text(const Cell& c) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%10.2f%10.2f%10.2f%8.3f%8.3f%8.3f", double(c[0]), double(c[1]), double(c[2]),
                double(c[3]), double(c[4]), double(c[5]));
  return buf;
}

// Every Friedel half of the reflections with indices up to 3, once, as VELMAR writes them:
// the key's indices for "+", their negation for "-".
std::vector<testing::TestRecord> merged_records(const SymopList& ops) {
  std::set<std::tuple<int, int, int, int>> halves;
  for (int h = -3; h <= 3; ++h)
    for (int k = -3; k <= 3; ++k)
      for (int l = -3; l <= 3; ++l) {
        if (h == 0 && k == 0 && l == 0) continue;
        const ReflKey key = iasym(h, k, l, ops);
        halves.emplace(key.h, key.k, key.l, key.isym < 0 ? -1 : 1);
      }
  std::vector<testing::TestRecord> out;
  for (const auto& [h, k, l, s] : halves) {
    const float n = float(out.size());
    out.push_back({s * h, s * k, s * l, 10.0f + 1.5f * n, 1.0f + 0.01f * n});
  }
  return out;
}

// Every reflection with indices up to 3 as one observation.
std::vector<testing::TestRecord> unmerged_records() {
  std::vector<testing::TestRecord> out;
  for (int h = -3; h <= 3; ++h)
    for (int k = -3; k <= 3; ++k)
      for (int l = -3; l <= 3; ++l) {
        if (h == 0 && k == 0 && l == 0) continue;
        const float n = float(out.size());
        const float psi = out.size() % 2 ? 0.5f * n : 9999.0f;
        out.push_back({h, k, l, 5.0f + n, 0.5f + 0.01f * n, 100.0f + n, 200.0f + n, 1.3f + float(out.size() % 7), psi, 1});
      }
  return out;
}

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }

class ExportSettings : public ::testing::TestWithParam<SettingCase> {};

TEST_P(ExportSettings, SameGroupReflectionsAndMeasuredIndices) {
  const SettingCase& c = GetParam();
  const SymopList ops = xsymy(1, c.cell, c.space_group).ops;
  ASSERT_FALSE(ops.empty());
  TempDir d;
  d.write("m.hkl", testing::velmar_file_text(true, false, c.space_group, cell_text(c.cell), merged_records(ops)));
  d.write("u.hkl", testing::velmar_file_text(false, false, c.space_group, cell_text(c.cell), unmerged_records()));
  for (const char* stem : {"m", "u"}) {
    const testing::CommandResult r = testing::run_export(d, std::string(stem) + ".hkl");
    ASSERT_EQ(r.status, 0) << r.output;
  }
  const KvdText m = testing::read_kvd_text(d.read("m.hkl")), u = testing::read_kvd_text(d.read("u.hkl"));
  const ReadBack m_mtz = testing::read_back(d, "mtz", "m.mtz"), u_mtz = testing::read_back(d, "mtz", "u.mtz");
  const ReadBack m_cif = testing::read_back(d, "cif", "m.cif"), u_cif = testing::read_back(d, "cif", "u.cif");
  for (const ReadBack* mtz : {&m_mtz, &u_mtz}) {
    EXPECT_EQ(mtz->first("symm_group").at(2), c.xhm);
    EXPECT_EQ(mtz->first("spacegroup").at(1), std::to_string(c.space_group));
  }
  for (const ReadBack* cif : {&m_cif, &u_cif}) EXPECT_EQ(cif->pair("_symmetry.space_group_name_H-M"), c.xhm);
  expect_mtz_header(m, m_mtz);
  expect_mtz_header(u, u_mtz);
  expect_cif_header(m, m_cif);
  expect_cif_header(u, u_cif);
  expect_same_halves(m, mtz_merged_rows(m_mtz));
  expect_same_halves(m, cif_merged_rows(m_cif, false));
  expect_unmerged_mtz(u, u_mtz);
  expect_unmerged_cif(u, u_cif);
}

INSTANTIATE_TEST_SUITE_P(Groups, ExportSettings, ::testing::ValuesIn(kSettings),
                         [](const auto& p) { return std::string(p.param.name); });

// A dose-corrected unmerged file: the decay constants become the DCY column and the crystal
// of the data set names its MTZ crystal.
TEST(ExportDoseCorrected, DecayConstantsAndCrystalName) {
  std::string text = testing::velmar_file_text(false, true, 96, cell_text({50, 50, 30, 90, 90, 90}), unmerged_records());
  const std::string dose_block =
      "!\n!Reflections of the following input data sets were corrected\n!individually for radiation damage.\n"
      "! ISET=  1 STARTING_DOSE= 1.000E+00 DOSE_RATE= 2.000E-02 FIRST_IMAGE=    1 CRYSTAL_NAME= xtal A\n"
      "!The accumulated x-ray dose when image_number i was recorded is\n";
  text.insert(text.find("!\n!SPACE_GROUP_NUMBER="), dose_block);
  text.replace(text.find("RECORD=  10"), 11, "RECORD=  11");
  text.insert(text.find("!END_OF_HEADER"), "!ITEM_DCY=11\n");
  std::vector<float> dcy;
  for (size_t p = text.find("!END_OF_HEADER\n") + 15; text.compare(p, 12, "!END_OF_DATA") != 0;) {
    const size_t e = text.find('\n', p);
    dcy.push_back(0.001f * float(dcy.size() + 1));
    char field[16];
    std::snprintf(field, sizeof field, "%11.3E", double(dcy.back()));
    text.insert(e, field);
    p = e + 12;
  }
  TempDir d;
  d.write("dose.hkl", text);
  const testing::CommandResult r = testing::run_export(d, "dose.hkl");
  ASSERT_EQ(r.status, 0) << r.output;
  const ReadBack mtz = testing::read_back(d, "mtz", "dose.mtz");
  ASSERT_EQ(column_labels(mtz).back(), "DCY:R");
  const auto rows = mtz.all("row");
  ASSERT_EQ(rows.size(), dcy.size());
  int differ = 0;
  for (size_t i = 0; i < rows.size(); ++i)
    if (std::strtof(testing::fmt_es_text(dcy[i]).c_str(), nullptr) != number(rows[i].back())) ++differ;
  EXPECT_EQ(differ, 0);
  const auto ds = mtz.all("dataset");
  ASSERT_EQ(ds.size(), 2u);
  EXPECT_EQ(ds[1][3], "xtal_A");
}

#endif

}  // namespace
}  // namespace velmar
