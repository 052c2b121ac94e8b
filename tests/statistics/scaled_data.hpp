// Small hand-built observation lists for the output writer and statistics tests.
#pragma once

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "statistics/output_file.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"
#include "symmetry/unique_table.hpp"
#include "test_support.hpp"

namespace velmar::testing {

// One observation as measured: data set (0-based), indices, I, sigma and the rest.
struct Measured {
  int set, h, k, l;
  float i, sigma;
  Position pos{100.0f, 200.0f, 10.0f, 45.0f};
  float corr = 1.0f, decay = 0.0f;
};

struct TestRun {
  ControlTables tables;
  ObservationList obs;
  UniqueTable unique;
  ScaledData data() const { return {tables, unique, obs, "1.0.0", " 5-Dec-2026"}; }
};

// Groups {name, mode}, data sets {name, 1-based group}; each data set's observations are
// sorted by key, keeping the given order among equal keys.
inline TestRun make_run(int sg, const Cell& cell, const std::vector<std::pair<std::string, int>>& groups,
                        const std::vector<std::pair<std::string, int>>& sets, const std::vector<Measured>& measured) {
  TestRun r;
  r.tables.run.space_group = sg, r.tables.run.cell = cell;
  r.tables.ops = xsymy(1, cell, sg).ops;
  for (const auto& [name, mode] : groups) r.tables.groups.emplace_back().name = name, r.tables.groups.back().mode = mode;
  for (const auto& [name, group] : sets) r.tables.sets.emplace_back().name = name, r.tables.sets.back().group = group;
  std::vector<DataSetBlock> blocks;
  r.obs.resize(measured.size() + sets.size());
  size_t p = 0;
  for (int j = 0; j < static_cast<int>(sets.size()); ++j) {
    std::vector<std::pair<ReflKey, Measured>> block;
    for (const Measured& m : measured)
      if (m.set == j) block.emplace_back(iasym(m.h, m.k, m.l, r.tables.ops), m);
    std::stable_sort(block.begin(), block.end(), [](const auto& a, const auto& b) { return key_less(a.first, b.first); });
    blocks.push_back({static_cast<int64_t>(p), static_cast<int64_t>(block.size())});
    for (const auto& [key, m] : block) {
      r.obs.key[p] = key, r.obs.intensity[p] = m.i, r.obs.sigma[p] = m.sigma, r.obs.pos[p] = m.pos;
      r.obs.corr[p] = m.corr, r.obs.decay[p++] = m.decay;
    }
    r.obs.key[p] = ReflKey::end_marker(), r.obs.sigma[p++] = -1.0f;  // ends the data set
  }
  const UniqueCount count = nhklu(blocks, r.obs.key);
  setctrl(r.tables.ops, reciprocal_basis(cell), blocks, r.obs.key, count.nunique, r.unique);
  r.unique.max_observations = count.max_observations;
  return r;
}

inline std::vector<std::string> lines_of(std::istream&& in) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
inline std::vector<std::string> split_lines(const std::string& text) { return lines_of(std::istringstream(text)); }
inline std::vector<std::string> file_lines(const std::string& name) { return lines_of(std::ifstream(name)); }

// A CHARACTER*50 variable as it prints.
inline std::string padded50(const std::string& name) { return name + std::string(50 - name.size(), ' '); }

}  // namespace velmar::testing
