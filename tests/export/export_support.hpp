// Helpers of the export tests: a reader of VELMAR output files independent of the
// exporter's, hand-made output files, velmar-export runs, and the read-back of MTZ and mmCIF
// files through gemmi's Python module (read_back.py).
#pragma once

#include <algorithm>
#include <array>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace velmar::testing {

// A VELMAR output file as the tests read it: header values and each record as its numbers.
struct KvdText {
  bool merged = false, friedel = true;
  int space_group = 0;
  std::array<float, 6> cell{};
  std::map<int, float> wavelength;  // per ISET
  std::map<int, std::string> input_file, crystal;  // per ISET; a crystal only when dose-corrected
  std::vector<std::vector<float>> records;
};

inline std::string after(const std::string& line, const std::string& word) {
  const size_t p = line.find(word);
  return p == std::string::npos ? std::string() : line.substr(p + word.size());
}

inline KvdText read_kvd_text(const std::string& text) {
  KvdText k;
  std::istringstream in(text);
  bool data = false;
  for (std::string line; std::getline(in, line) && !line.starts_with("!END_OF_DATA");) {
    std::istringstream values(after(line, "="));
    if (data && line.find('!') == std::string::npos) {
      values.str(line);
      k.records.emplace_back();
      for (float v; values >> v;) k.records.back().push_back(v);
    }
    data = data || line.starts_with("!END_OF_HEADER");
    if (line.starts_with("!FORMAT=")) {
      k.merged = line.find("MERGE=TRUE") != std::string::npos;
      k.friedel = line.find("FRIEDEL'S_LAW=TRUE") != std::string::npos;
    }
    if (line.starts_with("!SPACE_GROUP_NUMBER=")) values >> k.space_group;
    if (line.starts_with("!UNIT_CELL_CONSTANTS="))
      for (float& c : k.cell) values >> c;
    const int iset = std::atoi(after(line, "! ISET=").c_str());
    if (iset > 0 && line.find("X-RAY_WAVELENGTH=") != std::string::npos)
      k.wavelength[iset] = std::strtof(after(line, "X-RAY_WAVELENGTH=").c_str(), nullptr);
    if (iset > 0 && line.find("INPUT_FILE=") != std::string::npos) k.input_file[iset] = after(line, "INPUT_FILE=");
    if (iset > 0 && line.find("CRYSTAL_NAME= ") != std::string::npos) k.crystal[iset] = after(line, "CRYSTAL_NAME= ");
  }
  return k;
}

// A table of a read-back file: the columns of an MTZ file ("LABEL:TYPE") or a category of an
// mmCIF file, with its rows.
struct Table {
  std::vector<std::string> tags;
  std::vector<std::vector<std::string>> rows;
  int column(const std::string& tag) const {
    const auto at = std::find(tags.begin(), tags.end(), tag);
    return at == tags.end() ? -1 : int(at - tags.begin());
  }
};

// The lines of read_back.py, split at tabs; each begins with a word naming its kind.
struct ReadBack {
  int status = -1;
  std::vector<std::vector<std::string>> lines;

  std::vector<std::vector<std::string>> all(const std::string& kind) const {
    std::vector<std::vector<std::string>> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out), [&](const auto& l) { return l[0] == kind; });
    return out;
  }
  std::string field(const std::string& kind, size_t i) const {  // field i of the first line of the kind, or ""
    const auto l = all(kind);
    return l.empty() || i >= l[0].size() ? std::string() : l[0][i];
  }
  // The mmCIF category ("_refln."), empty when absent; category("") of an MTZ file is its
  // columns and rows.
  Table category(const std::string& name) const {
    Table t;
    bool inside = false;
    for (const auto& l : lines) {
      if (l[0] == "loop" && (inside = l.size() > 1 && l[1].starts_with(name))) t.tags.assign(l.begin() + 1, l.end());
      if (l[0] == "row" && inside) t.rows.emplace_back(l.begin() + 1, l.end());
    }
    return t;
  }
  std::string value(const std::string& tag) const {  // an mmCIF item of the first row of its category, or ""
    const Table t = category(tag.substr(0, tag.find('.') + 1));
    const int c = t.column(tag);
    return c < 0 || t.rows.empty() ? std::string() : t.rows[0][size_t(c)];
  }
};

// Reads `file` (in dir) with gemmi: kind "mtz" or "cif".
inline ReadBack read_back(const TempDir& dir, const std::string& kind, const std::string& file) {
  const CommandResult c = run_in(dir, std::string("/usr/bin/python3 '") + VELMAR_SOURCE_DIR +
                                          "/tests/export/read_back.py' " + kind + " '" + file + "' 2>&1");
  ReadBack r{c.status, {}};
  std::istringstream in(c.output);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    r.lines.emplace_back();
    for (std::string f; std::getline(fields, f, '\t');) r.lines.back().push_back(f);
    if (r.lines.back().empty()) r.lines.back().push_back("");
  }
  return r;
}

// A read-back number ("?" and "." give NaN).
inline float number(const std::string& s) {
  return s == "?" || s == "." ? std::nanf("") : static_cast<float>(std::strtod(s.c_str(), nullptr));
}

inline bool same_value(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

#ifdef VELMAR_EXPORT_BINARY
inline CommandResult run_export(const TempDir& dir, const std::string& arguments) {
  return run_in(dir, std::string("'") + VELMAR_EXPORT_BINARY + "' " + arguments + " 2>&1");
}
#endif

// One data record of a hand-made VELMAR output file.
struct TestRecord {
  int h = 0, k = 0, l = 0;
  float i = 0.0f, sigma = 1.0f, xd = 0.0f, yd = 0.0f, zd = 0.0f, psi = 9999.0f;
  int iset = 1;
};

// A VELMAR output file as the program writes it, with one input data set (ISET 1,
// wavelength 1.5); `closed` false leaves out the closing "!END_OF_DATA" line.
inline std::string velmar_file_text(bool merged, bool friedel, int space_group, const std::string& cell,
                                    const std::vector<TestRecord>& records, bool closed = true) {
  std::string s = std::string("!FORMAT=KVD_ASCII    MERGE=") + (merged ? "TRUE " : "FALSE") +
                  "    FRIEDEL'S_LAW=" + (friedel ? "TRUE \n" : "FALSE\n") +
                  "!DATE= 6-Dec-2026\n!Generated by VELMAR   (VERSION 1.0.0)\n!OUTPUT_FILE=out.hkl\n"
                  "!COMPRISES THE FOLLOWING SCALED INPUT FILES:\n! ISET=   1 INPUT_FILE=sweep.hkl\n"
                  "! ISET=   1 X-RAY_WAVELENGTH=   1.50000 (<0 if unknown)\n!\n!SPACE_GROUP_NUMBER=" +
                  std::to_string(space_group) + "\n!UNIT_CELL_CONSTANTS=" + cell +
                  "\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=" + (merged ? "   5\n" : "  10\n") +
                  "!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n" +
                  (merged ? "" : "!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n!ITEM_PSI=9\n!ITEM_ISET=10\n") + "!END_OF_HEADER\n";
  char line[200];
  for (const TestRecord& r : records) {
    const int n = std::snprintf(line, sizeof line, "%6d%6d%6d%11.3E%11.3E", r.h, r.k, r.l, double(r.i), double(r.sigma));
    if (!merged)
      std::snprintf(line + n, sizeof line - size_t(n), "%8.1f%8.1f%8.1f%8.2f%4d", double(r.xd), double(r.yd),
                    double(r.zd), double(r.psi), r.iset);
    s += std::string(line) + "\n";
  }
  return closed ? s + "!END_OF_DATA  \n" : s;
}

}  // namespace velmar::testing
