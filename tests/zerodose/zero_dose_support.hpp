// Hand-built observation lists of decaying reflections for the zero-dose tests, and a
// report that is read back.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/report.hpp"
#include "statistics/scaled_data.hpp"
#include "zerodose/dose_points.hpp"

namespace velmar::testing {

// A report whose file and terminal are temporary files read back as text.
struct CapturedReport {
  Report rep{std::tmpfile(), std::tmpfile()};
  CapturedReport() = default;
  CapturedReport(const CapturedReport&) = delete;
  ~CapturedReport() { std::fclose(rep.file), std::fclose(rep.terminal); }
  static std::string read(std::FILE* f) {
    std::string s;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
  }
  std::string file() const { return read(rep.file); }
  std::string terminal() const { return read(rep.terminal); }
};

// One data set of a hand-built run: crystal name (blank: none), dose parameters as given.
struct DoseSet {
  std::string crystal;
  float starting_dose = 0.0f, dose_rate = 1.0f;
  int hold_start = 0, hold_rate = 0;
};

// Observations of reflection (h, k, l) in data set `set` on the given images, first image 1:
// I = i0 exp(slope (d0 + rate (image - 1))) with a small deterministic scatter of `noise`
// (relative), sigma = noise I + 1.
inline std::vector<Measured> decaying(int set, int h, int k, int l, float i0, float slope, float d0, float rate,
                                      const std::vector<float>& images, float noise = 0.01f) {
  std::vector<Measured> m;
  for (size_t n = 0; n < images.size(); ++n) {
    const float scatter = 1.0f + noise * std::sin(1.7f * static_cast<float>(n) + 0.3f * static_cast<float>(h + 7 * k));
    const float i = i0 * std::exp(slope * (d0 + rate * (images[n] - 1.0f))) * scatter;
    m.push_back({set, h, k, l, i, noise * i + 1.0f, {100.0f, 200.0f, images[n], 0.0f}});
  }
  return m;
}

inline void append(std::vector<Measured>& m, const std::vector<Measured>& more) { m.insert(m.end(), more.begin(), more.end()); }

// A run in P1 (cell 50 50 50 90 90 90) of one output group of the given mode, whose data
// sets carry the crystal names and dose parameters given; crystals are numbered as the
// parser numbers them; every data set's first image is 1 (STARTING_FRAME=).
inline TestRun dose_run(int mode, const std::vector<DoseSet>& sets, const std::vector<Measured>& measured) {
  std::vector<std::pair<std::string, int>> names;
  for (size_t j = 0; j < sets.size(); ++j) names.emplace_back("set" + std::to_string(j + 1) + ".hkl", 1);
  TestRun r = make_run(1, Cell{50, 50, 50, 90, 90, 90}, {{"out.hkl", mode}}, names, measured);
  for (size_t j = 0; j < sets.size(); ++j) {
    DataSet& s = r.tables.sets[j];
    s.crystal_name = sets[j].crystal;
    s.starting_dose = sets[j].starting_dose, s.dose_rate = sets[j].dose_rate;
    s.hold_starting_dose = sets[j].hold_start, s.hold_dose_rate = sets[j].hold_rate;
    s.load.starting_frame = 1;
    for (size_t i = 0; i < j && s.crystal == 0 && !s.crystal_name.empty(); ++i)
      if (r.tables.sets[i].crystal_name == s.crystal_name) s.crystal = r.tables.sets[i].crystal;
    if (s.crystal == 0 && !s.crystal_name.empty()) s.crystal = ++r.tables.run.crystals;
  }
  return r;
}

inline ZeroDoseData zero_dose_data(TestRun& r, const std::vector<float>& shells) { return {r.tables, r.unique, r.obs, shells}; }

// Evenly spread images first, first + step, ... (n of them).
inline std::vector<float> images(float first, float step, int n) {
  std::vector<float> v;
  for (int k = 0; k < n; ++k) v.push_back(first + step * static_cast<float>(k));
  return v;
}

}  // namespace velmar::testing
