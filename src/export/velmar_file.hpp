// A VELMAR output reflection file (KVD_ASCII, merged or unmerged), read whole for export.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "symmetry/symop.hpp"

namespace velmar {

// One input data set named in the header ("! ISET=" lines).
struct ExportDataSet {
  int iset = 0;
  std::string input_file;
  float wavelength = -1.0f;   // Angstrom; negative when unknown
  std::string crystal_name;   // given for dose-corrected data sets only
};

// The data records in file order. Merged files fill hkl, iobs and sigma; unmerged files
// also the detector position, image number, psi and data-set number, and dose-corrected
// unmerged files the decay constant.
struct ExportRecords {
  std::vector<std::array<int, 3>> hkl;
  std::vector<float> iobs, sigma;
  std::vector<float> xd, yd, zd, psi;
  std::vector<int> iset;
  std::vector<float> dcy;
  size_t size() const { return hkl.size(); }
};

struct VelmarFile {
  std::string path;
  bool merged = true;
  bool friedel = true;
  bool dose_corrected = false;  // unmerged records carry DCY
  int space_group = 0;
  Cell cell{};
  SymopList ops;                // the operators of the space group in the file's setting
  std::vector<ExportDataSet> sets;
  ExportRecords records;
};

// Reads the file; stops with a message when it cannot be read or is not a VELMAR output
// file (its header, item layout, data-set lines, records and closing line are checked).
VelmarFile read_velmar_file(const std::string& path);

// The data set of `iset` in file.sets, or nullptr.
const ExportDataSet* find_data_set(const VelmarFile& file, int iset);

}  // namespace velmar
