// The synthetic-data generator's files in tests: sweep files with the truth items of every
// record, the crystal's truth file, and observations merged with given factors.
#pragma once

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "symmetry/asym.hpp"

namespace velmar::testing {

// One record of a sweep file: the measurement and the truth beside it.
struct SynthRecord {
  int h = 0, k = 0, l = 0;
  float i = 0, sigma = 0, x = 0, y = 0, z = 0;
  float true_i = 0, factor = 0, b = 0;  // true intensity of the half, true total factor, b(h)
  bool outlier = false;
};

struct SynthSweep {
  std::map<std::string, std::vector<double>> truth;  // the values of "!TRUTH_<NAME>=" by NAME
  std::vector<SynthRecord> records;

  double value(const std::string& name, size_t n = 0) const {
    const auto it = truth.find(name);
    return it != truth.end() && n < it->second.size() ? it->second[n] : std::nan("");
  }
};

// The leading run of numbers in text.
inline std::vector<double> numbers_in(const std::string& text) {
  std::vector<double> v;
  const char* p = text.c_str();
  for (char* end = nullptr;; p = end) {
    const double x = std::strtod(p, &end);
    if (end == p) return v;
    v.push_back(x);
  }
}

// The name between `prefix` and "=" and the numbers after the "=".
inline bool keyword_line(const std::string& line, const std::string& prefix, std::string& name,
                         std::vector<double>& values) {
  const size_t eq = line.find('=');
  if (!line.starts_with(prefix) || eq == std::string::npos) return false;
  name = line.substr(prefix.size(), eq - prefix.size());
  values = numbers_in(line.substr(eq + 1));
  return true;
}

inline SynthSweep read_sweep(const std::string& path) {
  SynthSweep s;
  std::map<std::string, size_t> item;  // 0-based column by item name
  std::ifstream in(path);
  std::string name;
  std::vector<double> v;
  for (std::string line; std::getline(in, line);) {
    if (line.find('!') != std::string::npos) {
      if (keyword_line(line, "!TRUTH_", name, v)) s.truth[name] = v;
      if (keyword_line(line, "!ITEM_", name, v) && !v.empty()) item[name] = static_cast<size_t>(v[0]) - 1;
      continue;
    }
    v = numbers_in(line);
    auto at = [&](const char* n) { return item.count(n) && item[n] < v.size() ? static_cast<float>(v[item[n]]) : 0.0f; };
    SynthRecord r;
    r.h = static_cast<int>(at("H")), r.k = static_cast<int>(at("K")), r.l = static_cast<int>(at("L"));
    r.i = at("IOBS"), r.sigma = at("SIGMA(IOBS)"), r.x = at("XD"), r.y = at("YD"), r.z = at("ZD");
    r.true_i = at("TRUE_I"), r.factor = at("TRUE_FACTOR"), r.b = at("TRUE_BDECAY");
    r.outlier = at("TRUE_OUTLIER") != 0.0f;
    s.records.push_back(r);
  }
  return s;
}

// One line of the truth file.
struct TruthReflection {
  float ss = 0, i_plus = 0, i_minus = 0, b = 0;
  bool centric = false, alien = false, ice = false;
};
using TruthTable = std::map<std::array<int, 3>, TruthReflection>;  // by representative h, k, l

inline TruthTable read_truth(const std::string& path) {
  TruthTable t;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const std::vector<double> v = numbers_in(line);
    if (line.starts_with("!") || v.size() != 10) continue;
    t[{int(v[0]), int(v[1]), int(v[2])}] = {float(v[3]), float(v[4]), float(v[5]), float(v[6]),
                                            v[7] != 0, v[8] != 0, v[9] != 0};
  }
  return t;
}

// A unique reflection and half: representative h, k, l and +1 ("+") or -1 ("-"); always +1
// under Friedel's law.
// Sums for the correlation of y with x and the slope of the regression of y on x.
struct Pairs {
  double n = 0, x = 0, y = 0, xx = 0, yy = 0, xy = 0;
  void add(double a, double b) { n += 1, x += a, y += b, xx += a * a, yy += b * b, xy += a * b; }
  double slope() const { return n > 1 ? (xy - x * y / n) / (xx - x * x / n) : 0.0; }
  double r() const { return (xy - x * y / n) / std::sqrt((xx - x * x / n) * (yy - y * y / n)); }
};

using HalfKey = std::array<int, 4>;

inline HalfKey half_of(int h, int k, int l, std::span<const Symop> ops, bool friedel) {
  const ReflKey key = iasym(h, k, l, ops);
  return {key.h, key.k, key.l, friedel || key.isym > 0 ? 1 : -1};
}

inline float true_intensity(const TruthTable& t, const HalfKey& key) {
  const auto it = t.find({key[0], key[1], key[2]});
  if (it == t.end()) return std::nan("");
  return key[3] > 0 ? it->second.i_plus : it->second.i_minus;
}

struct MergedHalf {
  double i = 0, sigma = 0;
  int n = 0;
};

// Weighted mean of I/factor per unique reflection and half, weights (factor/sigma)^2, from
// the records with a positive sigma and factor.
inline std::map<HalfKey, MergedHalf> merge(const std::vector<SynthRecord>& records, std::span<const float> factors,
                                           std::span<const Symop> ops, bool friedel) {
  std::map<HalfKey, std::array<double, 3>> sums;  // sum w, sum w I/f, count
  for (size_t n = 0; n < records.size(); ++n) {
    const SynthRecord& r = records[n];
    if (r.sigma <= 0 || factors[n] <= 0) continue;
    const double f = factors[n], w = f * f / (double(r.sigma) * r.sigma);
    std::array<double, 3>& s = sums[half_of(r.h, r.k, r.l, ops, friedel)];
    s[0] += w, s[1] += w * r.i / f, s[2] += 1;
  }
  std::map<HalfKey, MergedHalf> out;
  for (const auto& [key, s] : sums) out[key] = {s[1] / s[0], 1 / std::sqrt(s[0]), int(s[2])};
  return out;
}

}  // namespace velmar::testing
