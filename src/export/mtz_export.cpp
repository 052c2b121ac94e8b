// MTZ files of a VELMAR output file. gemmi's MTZ writer is compiled in this file only.
#define GEMMI_WRITE_IMPLEMENTATION
#include "export/mtz_export.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include <gemmi/mtz.hpp>

#include "driver/startup.hpp"
#include "export/output_files.hpp"

namespace velmar {
namespace {

constexpr float kPsiUnknown = 9999.0f;
constexpr char kProject[] = "VELMAR";

gemmi::UnitCell unit_cell(const Cell& c) { return gemmi::UnitCell(c[0], c[1], c[2], c[3], c[4], c[5]); }

double mtz_wavelength(float w) { return w > 0.0f ? w : 0.0; }

// Blanks would split the name in the MTZ header.
std::string mtz_name(std::string s) {
  std::replace(s.begin(), s.end(), ' ', '_');
  return s;
}

// Header, base data set (H K L) and symmetry of a new MTZ.
gemmi::Mtz new_mtz(const VelmarFile& f, const gemmi::SpaceGroup& sg) {
  gemmi::Mtz mtz;
  mtz.cell = unit_cell(f.cell);
  mtz.spacegroup = &sg;
  mtz.spacegroup_number = sg.ccp4;
  mtz.spacegroup_name = sg.hm;
  const gemmi::GroupOps gops = sg.operations();
  mtz.nsymop = gops.order();
  for (const gemmi::Op& op : gops) mtz.symops.push_back(op);
  mtz.title = "VELMAR output file " + file_stem(f.path);
  mtz.history.push_back("From " + f.path + " by velmar-export (VELMAR " + std::string(kVersion) + ")");
  mtz.add_base();
  return mtz;
}

gemmi::Mtz::Dataset& add_data_set(gemmi::Mtz& mtz, const std::string& crystal, const std::string& name,
                                  float wavelength) {
  gemmi::Mtz::Dataset& ds = mtz.add_dataset(mtz_name(name));
  ds.project_name = kProject;
  ds.crystal_name = mtz_name(crystal.empty() ? std::string("crystal") : crystal);
  ds.wavelength = mtz_wavelength(wavelength);
  return ds;
}

void add_columns(gemmi::Mtz& mtz, int dataset_id, std::initializer_list<std::pair<const char*, char>> columns) {
  for (const auto& [label, type] : columns) mtz.add_column(label, type, dataset_id, -1, false);
}

// The crystal of a data set is named when it was dose-corrected; merged data keep the name
// when all data sets share it.
std::string common_crystal(const VelmarFile& f) {
  for (const ExportDataSet& s : f.sets)
    if (s.crystal_name != f.sets.front().crystal_name) return {};
  return f.sets.front().crystal_name;
}

float first_known_wavelength(const VelmarFile& f) {
  for (const ExportDataSet& s : f.sets)
    if (s.wavelength > 0.0f) return s.wavelength;
  return -1.0f;
}

void write_mtz(const gemmi::Mtz& mtz, const std::string& out) {
  write_whole_file(out, [&](const std::string& name) { mtz.write_to_file(name); });
}

// MTZ data-set names of the input data sets, made unique.
std::vector<std::string> data_set_names(const VelmarFile& f) {
  std::vector<std::string> names;
  for (const ExportDataSet& s : f.sets) {
    std::string name = file_stem(s.input_file);
    if (std::find(names.begin(), names.end(), name) != names.end()) name += "_ISET" + std::to_string(s.iset);
    names.push_back(name);
  }
  return names;
}

// One header per batch number in use, in ascending order.
void add_batch_headers(gemmi::Mtz& mtz, const VelmarFile& f, const UnmergedTable& t,
                       const std::vector<int>& dataset_of_set) {
  std::map<int, size_t> set_of_batch;
  for (size_t i = 0; i < t.size(); ++i)
    set_of_batch.emplace(t.batch[i], static_cast<size_t>(find_data_set(f, f.records.iset[i]) - f.sets.data()));
  mtz.batches.reserve(set_of_batch.size());
  for (const auto& [number, s] : set_of_batch) {
    gemmi::Mtz::Batch b;
    b.number = number;
    b.title = "ISET " + std::to_string(f.sets[s].iset) + " image " + std::to_string(number - t.batch_offset[s]);
    b.set_cell(mtz.cell);
    b.set_dataset_id(dataset_of_set[s]);
    b.set_wavelength(static_cast<float>(mtz_wavelength(f.sets[s].wavelength)));
    mtz.batches.push_back(std::move(b));
  }
}

}  // namespace

void write_merged_mtz(const VelmarFile& f, const gemmi::SpaceGroup& sg, const MergedTable& t,
                      const std::string& out) {
  gemmi::Mtz mtz = new_mtz(f, sg);
  const int id = add_data_set(mtz, common_crystal(f), file_stem(f.path), first_known_wavelength(f)).id;
  add_columns(mtz, id, {{"IMEAN", 'J'}, {"SIGIMEAN", 'Q'}});
  if (!f.friedel) add_columns(mtz, id, {{"I(+)", 'K'}, {"SIGI(+)", 'M'}, {"I(-)", 'K'}, {"SIGI(-)", 'M'}});
  mtz.nreflections = static_cast<int>(t.size());
  mtz.data.reserve(t.size() * mtz.columns.size());
  for (size_t i = 0; i < t.size(); ++i) {
    for (int c = 0; c < 3; ++c) mtz.data.push_back(static_cast<float>(t.hkl[i][static_cast<size_t>(c)]));
    mtz.data.push_back(t.imean[i]);
    mtz.data.push_back(t.sigimean[i]);
    if (f.friedel) continue;
    for (float v : {t.iplus[i], t.sigiplus[i], t.iminus[i], t.sigiminus[i]}) mtz.data.push_back(v);
  }
  mtz.sort_order = {{1, 2, 3, 0, 0}};
  write_mtz(mtz, out);
}

void write_unmerged_mtz(const VelmarFile& f, const gemmi::SpaceGroup& sg, const UnmergedTable& t,
                        const std::string& out) {
  gemmi::Mtz mtz = new_mtz(f, sg);
  const std::vector<std::string> names = data_set_names(f);
  std::vector<int> dataset_of_set;
  for (size_t s = 0; s < f.sets.size(); ++s)
    dataset_of_set.push_back(add_data_set(mtz, f.sets[s].crystal_name, names[s], f.sets[s].wavelength).id);
  add_columns(mtz, dataset_of_set.front(),
              {{"M/ISYM", 'Y'}, {"BATCH", 'B'}, {"I", 'J'}, {"SIGI", 'Q'}, {"XDET", 'R'}, {"YDET", 'R'},
               {"IMAGE", 'R'}, {"PSI", 'R'}, {"ISET", 'I'}});
  if (f.dose_corrected) add_columns(mtz, dataset_of_set.front(), {{"DCY", 'R'}});
  const ExportRecords& r = f.records;
  mtz.nreflections = static_cast<int>(t.size());
  mtz.data.reserve(t.size() * mtz.columns.size());
  for (size_t i = 0; i < t.size(); ++i) {
    for (int c = 0; c < 3; ++c) mtz.data.push_back(static_cast<float>(t.asu_hkl[i][static_cast<size_t>(c)]));
    const float psi = r.psi[i] == kPsiUnknown ? std::numeric_limits<float>::quiet_NaN() : r.psi[i];
    for (float v : {static_cast<float>(t.isym[i]), static_cast<float>(t.batch[i]), r.iobs[i], r.sigma[i], r.xd[i],
                    r.yd[i], r.zd[i], psi, static_cast<float>(r.iset[i])})
      mtz.data.push_back(v);
    if (f.dose_corrected) mtz.data.push_back(r.dcy[i]);
  }
  add_batch_headers(mtz, f, t, dataset_of_set);
  write_mtz(mtz, out);
}

}  // namespace velmar
