// Small hand-built observation lists for the output writer and statistics tests.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/tables.hpp"
#include "statistics/output_file.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"
#include "symmetry/unique_table.hpp"

namespace velmar::testing {

// One observation as measured: data set (0-based), indices, I, sigma and the rest.
struct Measured {
  int set;
  int h, k, l;
  float i, sigma;
  AuxRow aux{100.0f, 200.0f, 10.0f, 45.0f};
  float corr = 1.0f;
  float decay = 0.0f;
};

struct GroupSpec {
  std::string name;
  int mode;
};

struct SetSpec {
  std::string name;
  int group;  // 1-based
};

// Tables, observation list and unique-reflection table of a hand-built run. Each data
// set's observations are sorted by key, keeping the given order among equal keys.
struct TestRun {
  ControlTables tables;
  ObservationList obs;
  UniqueTable unique;
  std::vector<float> wavelength;
  std::vector<DoseCorrection> dose;

  ScaledData data() const { return {tables, unique, obs, wavelength, dose, "1.0.0", " 5-Dec-2026"}; }
};

inline TestRun make_run(int sg, const Cell& cell, const std::vector<GroupSpec>& groups,
                        const std::vector<SetSpec>& sets, std::vector<Measured> measured, float wfac1 = 1.5f) {
  TestRun r;
  r.tables.run.space_group = sg;
  r.tables.run.cell = cell;
  r.tables.run.wfac1 = wfac1;
  r.tables.ops = xsymy(1, cell, sg).ops;
  r.tables.inverse = mlinv(r.tables.ops);
  for (const GroupSpec& g : groups) {
    OutputGroup og;
    og.name = g.name;
    og.mode = g.mode;
    r.tables.groups.push_back(og);
  }
  for (const SetSpec& s : sets) {
    DataSet ds;
    ds.name = s.name;
    ds.group = s.group;
    r.tables.sets.push_back(ds);
    r.wavelength.push_back(-1.0f);
  }
  std::vector<DataSetBlock> blocks;
  r.obs.resize(measured.size() + sets.size());
  size_t p = 0;
  for (int j = 0; j < static_cast<int>(sets.size()); ++j) {
    std::vector<std::pair<ReflKey, Measured>> block;
    for (const Measured& m : measured)
      if (m.set == j) block.emplace_back(iasym(m.h, m.k, m.l, r.tables.ops), m);
    std::stable_sort(block.begin(), block.end(),
                     [](const auto& a, const auto& b) { return key_less(a.first, b.first); });
    blocks.push_back({static_cast<int64_t>(p), static_cast<int64_t>(block.size())});
    for (const auto& [key, m] : block) {
      r.obs.key[p] = key;
      r.obs.intensity[p] = m.i;
      r.obs.sigma[p] = m.sigma;
      r.obs.aux[p] = m.aux;
      r.obs.corr[p] = m.corr;
      r.obs.decay[p] = m.decay;
      ++p;
    }
    r.obs.key[p] = ReflKey::end_marker();
    r.obs.sigma[p++] = -1.0f;
  }
  const UniqueCount count = nhklu(blocks, r.obs.key);
  setctrl(r.tables.ops, reciprocal_basis(cell), blocks, r.obs.key, count.nunique, r.unique);
  r.unique.max_observations = count.max_observations;
  return r;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar_st_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<std::string> file_lines(const std::string& name) {
  std::ifstream in(name);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string read_stream(std::FILE* f) {
  std::string s;
  if (!f) return s;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  std::fclose(f);
  return s;
}

// "name" left-justified in 50 columns, as a CHARACTER*50 variable prints.
inline std::string padded50(const std::string& name) { return name + std::string(50 - name.size(), ' '); }

}  // namespace velmar::testing
