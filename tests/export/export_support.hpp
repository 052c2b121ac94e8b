// Helpers of the export tests: an independent reader of VELMAR output files, velmar-export
// runs, and the read-back of MTZ and mmCIF files through gemmi's Python module.
#pragma once

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace velmar::testing {

// The values of a VELMAR output file as the tests read it: header values and the records,
// each as its numbers.
struct KvdText {
  bool merged = false, friedel = true;
  int space_group = 0;
  std::array<float, 6> cell{};
  std::map<int, float> wavelength;  // per ISET
  std::map<int, std::string> input_file;
  std::vector<std::vector<float>> records;
};

inline std::string after(const std::string& line, const std::string& word) {
  const size_t p = line.find(word);
  return p == std::string::npos ? std::string() : line.substr(p + word.size());
}

inline KvdText read_kvd_text(const std::string& text) {
  KvdText k;
  std::istringstream in(text);
  std::string line;
  bool data = false;
  while (std::getline(in, line)) {
    if (line.find("!END_OF_HEADER") != std::string::npos) data = true;
    if (line.find("!END_OF_DATA") != std::string::npos) break;
    if (line.find('!') == std::string::npos && data) {
      std::istringstream f(line);
      std::vector<float> r;
      std::string token;
      while (f >> token) r.push_back(std::strtof(token.c_str(), nullptr));
      k.records.push_back(r);
      continue;
    }
    if (line.starts_with("!FORMAT=")) {
      k.merged = line.find("MERGE=TRUE") != std::string::npos;
      k.friedel = line.find("FRIEDEL'S_LAW=TRUE") != std::string::npos;
    }
    if (line.starts_with("!SPACE_GROUP_NUMBER=")) k.space_group = std::atoi(after(line, "=").c_str());
    if (line.starts_with("!UNIT_CELL_CONSTANTS=")) {
      std::istringstream f(after(line, "="));
      for (float& c : k.cell) f >> c;
    }
    if (line.starts_with("! ISET=")) {
      const int iset = std::atoi(after(line, "ISET=").c_str());
      if (line.find("X-RAY_WAVELENGTH=") != std::string::npos)
        k.wavelength[iset] = std::strtof(after(line, "X-RAY_WAVELENGTH=").c_str(), nullptr);
      if (line.find("INPUT_FILE=") != std::string::npos) k.input_file[iset] = after(line, "INPUT_FILE=");
    }
  }
  return k;
}

// Lines of read_back.py, split at tabs.
struct ReadBack {
  int status = -1;
  std::vector<std::vector<std::string>> lines;

  std::vector<std::vector<std::string>> all(const std::string& kind) const {
    std::vector<std::vector<std::string>> out;
    for (const auto& l : lines)
      if (!l.empty() && l[0] == kind) out.push_back(l);
    return out;
  }
  std::vector<std::string> first(const std::string& kind) const {
    for (const auto& l : lines)
      if (!l.empty() && l[0] == kind) return l;
    return {};
  }
  // The value of a CIF pair, or "" when absent.
  std::string pair(const std::string& tag) const {
    for (const auto& l : lines)
      if (l.size() == 3 && l[0] == "pair" && l[1] == tag) return l[2];
    return {};
  }
};

// Reads `file` (in dir) with gemmi: kind "mtz" or "cif".
inline ReadBack read_back(const TempDir& dir, const std::string& kind, const std::string& file) {
  const CommandResult c = run_in(dir, std::string("/usr/bin/python3 '") + VELMAR_SOURCE_DIR +
                                          "/tests/export/read_back.py' " + kind + " '" + file + "' 2>&1");
  ReadBack r;
  r.status = c.status;
  std::istringstream in(c.output);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    size_t b = 0, e;
    while ((e = line.find('\t', b)) != std::string::npos) {
      fields.push_back(line.substr(b, e - b));
      b = e + 1;
    }
    fields.push_back(line.substr(b));
    r.lines.push_back(fields);
  }
  return r;
}

// A number of a read-back line as a float ("?" and "nan" give NaN).
inline float number(const std::string& s) {
  if (s == "?" || s == ".") return std::nanf("");
  return static_cast<float>(std::strtod(s.c_str(), nullptr));
}

inline bool same_value(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

#ifdef VELMAR_EXPORT_BINARY
inline CommandResult run_export(const TempDir& dir, const std::string& arguments) {
  return run_in(dir, std::string("'") + VELMAR_EXPORT_BINARY + "' " + arguments + " 2>&1");
}
#endif

}  // namespace velmar::testing

namespace velmar::testing {

// One data record of a hand-made VELMAR output file.
struct TestRecord {
  int h = 0, k = 0, l = 0;
  float i = 0.0f, sigma = 1.0f;
  float xd = 0.0f, yd = 0.0f, zd = 0.0f, psi = 9999.0f;
  int iset = 1;
};

// A VELMAR output file as the program writes it, with one input data set (ISET 1,
// wavelength 1.5) and the given space group, cell text and records; `closed` false leaves
// out the closing "!END_OF_DATA" line.
inline std::string velmar_file_text(bool merged, bool friedel, int space_group, const std::string& cell,
                                    const std::vector<TestRecord>& records, bool closed = true) {
  std::string s = std::string("!FORMAT=KVD_ASCII    MERGE=") + (merged ? "TRUE " : "FALSE") +
                  "    FRIEDEL'S_LAW=" + (friedel ? "TRUE \n" : "FALSE\n");
  s += "!DATE= 6-Dec-2026\n!Generated by VELMAR   (VERSION 1.0.0)\n!OUTPUT_FILE=out.hkl\n";
  s += "!COMPRISES THE FOLLOWING SCALED INPUT FILES:\n! ISET=   1 INPUT_FILE=sweep.hkl\n";
  s += "! ISET=   1 X-RAY_WAVELENGTH=   1.50000 (<0 if unknown)\n!\n";
  s += "!SPACE_GROUP_NUMBER=" + std::to_string(space_group) + "\n!UNIT_CELL_CONSTANTS=" + cell + "\n";
  s += std::string("!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=") + (merged ? "   5\n" : "  10\n");
  s += "!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n";
  if (!merged) s += "!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n!ITEM_PSI=9\n!ITEM_ISET=10\n";
  s += "!END_OF_HEADER\n";
  char line[200];
  for (const TestRecord& r : records) {
    if (merged)
      std::snprintf(line, sizeof line, "%6d%6d%6d%11.3E%11.3E\n", r.h, r.k, r.l, double(r.i), double(r.sigma));
    else
      std::snprintf(line, sizeof line, "%6d%6d%6d%11.3E%11.3E%8.1f%8.1f%8.1f%8.2f%4d\n", r.h, r.k, r.l, double(r.i),
                    double(r.sigma), double(r.xd), double(r.yd), double(r.zd), double(r.psi), r.iset);
    s += line;
  }
  if (closed) s += "!END_OF_DATA  \n";
  return s;
}

}  // namespace velmar::testing

namespace velmar::testing {

// A value as an ES11.3 field prints it.
inline std::string fmt_es_text(float v) {
  char field[16];
  std::snprintf(field, sizeof field, "%11.3E", double(v));
  return field;
}

}  // namespace velmar::testing
