// mmCIF reflection files of a VELMAR output file.
#include "export/cif_export.hpp"

#include <charconv>
#include <cmath>
#include <fstream>

#include <gemmi/cifdoc.hpp>
#include <gemmi/to_cif.hpp>

#include "common/error.hpp"
#include "export/output_files.hpp"

namespace velmar {
namespace {

namespace cif = gemmi::cif;

// The shortest text that reads back as the same float; "?" for an absent (NaN) value.
std::string real_text(float v) {
  if (std::isnan(v)) return "?";
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string wavelength_text(float w) { return w > 0.0f ? real_text(w) : std::string("?"); }

cif::Block& new_block(cif::Document& doc, const VelmarFile& f) {
  doc.blocks.emplace_back(file_stem(f.path));
  cif::Block& b = doc.blocks.back();
  b.set_pair("_entry.id", cif::quote(file_stem(f.path)));
  return b;
}

void add_cell_and_symmetry(cif::Block& b, const VelmarFile& f, const gemmi::SpaceGroup& sg) {
  const std::string entry = b.find_value("_entry.id") ? *b.find_value("_entry.id") : std::string("?");
  b.set_pair("_cell.entry_id", entry);
  const char* tags[] = {"_cell.length_a", "_cell.length_b", "_cell.length_c",
                        "_cell.angle_alpha", "_cell.angle_beta", "_cell.angle_gamma"};
  for (size_t i = 0; i < 6; ++i) b.set_pair(tags[i], real_text(f.cell[i]));
  b.set_pair("_symmetry.entry_id", entry);
  b.set_pair("_symmetry.space_group_name_H-M", cif::quote(sg.xhm()));
  b.set_pair("_symmetry.Int_Tables_number", std::to_string(sg.number));
}

void write_document(const cif::Document& doc, const std::string& out) {
  write_whole_file(out, [&](const std::string& name) {
    std::ofstream os(name);
    if (!os) throw VelmarError("cannot open " + name);
    cif::write_cif_to_stream(os, doc, cif::Style::Pdbx);
    os.close();
    if (!os) throw VelmarError("cannot write " + name);
  });
}

}  // namespace

void write_merged_mmcif(const VelmarFile& f, const gemmi::SpaceGroup& sg, const MergedTable& t,
                        const std::string& out) {
  cif::Document doc;
  cif::Block& b = new_block(doc, f);
  float wavelength = -1.0f;
  for (const ExportDataSet& s : f.sets)
    if (wavelength <= 0.0f) wavelength = s.wavelength;
  b.set_pair("_diffrn_radiation_wavelength.id", "1");
  b.set_pair("_diffrn_radiation_wavelength.wavelength", wavelength_text(wavelength));
  add_cell_and_symmetry(b, f, sg);
  std::vector<std::string> tags = {"crystal_id", "wavelength_id", "scale_group_code", "index_h", "index_k",
                                   "index_l", "status", "intensity_meas", "intensity_sigma"};
  if (!f.friedel)
    for (const char* tag : {"pdbx_I_plus", "pdbx_I_plus_sigma", "pdbx_I_minus", "pdbx_I_minus_sigma"}) tags.push_back(tag);
  cif::Loop& loop = b.init_mmcif_loop("_refln.", tags);
  loop.values.reserve(t.size() * tags.size());
  for (size_t i = 0; i < t.size(); ++i) {
    for (const char* v : {"1", "1", "1"}) loop.values.emplace_back(v);
    for (int c : t.hkl[i]) loop.values.push_back(std::to_string(c));
    loop.values.emplace_back("o");
    loop.values.push_back(real_text(t.imean[i]));
    loop.values.push_back(real_text(t.sigimean[i]));
    if (f.friedel) continue;
    for (float v : {t.iplus[i], t.sigiplus[i], t.iminus[i], t.sigiminus[i]}) loop.values.push_back(real_text(v));
  }
  write_document(doc, out);
}

void write_unmerged_mmcif(const VelmarFile& f, const gemmi::SpaceGroup& sg, const std::string& out) {
  cif::Document doc;
  cif::Block& b = new_block(doc, f);
  b.set_pair("_exptl_crystal.id", "1");
  cif::Loop& diffrn = b.init_mmcif_loop("_diffrn.", {"id", "crystal_id", "details"});
  for (const ExportDataSet& s : f.sets)
    diffrn.add_row({std::to_string(s.iset), "1", cif::quote("scaled unmerged data of " + s.input_file)});
  cif::Loop& radiation = b.init_mmcif_loop("_diffrn_radiation.", {"diffrn_id", "wavelength_id"});
  for (const ExportDataSet& s : f.sets) radiation.add_row({std::to_string(s.iset), std::to_string(s.iset)});
  cif::Loop& wavelength = b.init_mmcif_loop("_diffrn_radiation_wavelength.", {"id", "wavelength"});
  for (const ExportDataSet& s : f.sets) wavelength.add_row({std::to_string(s.iset), wavelength_text(s.wavelength)});
  add_cell_and_symmetry(b, f, sg);
  const std::vector<std::string> tags = {"diffrn_id", "id", "index_h", "index_k", "index_l",
                                         "intensity_net", "intensity_sigma", "pdbx_image_id"};
  cif::Loop& loop = b.init_mmcif_loop("_diffrn_refln.", tags);
  const ExportRecords& r = f.records;
  loop.values.reserve(r.size() * tags.size());
  for (size_t i = 0; i < r.size(); ++i) {
    loop.values.push_back(std::to_string(r.iset[i]));
    loop.values.push_back(std::to_string(i + 1));
    for (int c : r.hkl[i]) loop.values.push_back(std::to_string(c));
    loop.values.push_back(real_text(r.iobs[i]));
    loop.values.push_back(real_text(r.sigma[i]));
    loop.values.push_back(std::to_string(std::lround(r.zd[i])));
  }
  write_document(doc, out);
}

}  // namespace velmar
