// What the three passes of the zero-dose stage share: the data they read and change, the
// dose parameters of every data set while they are refined, and the points of the decay
// lines of one reflection, ln I against dose.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/observations.hpp"
#include "common/tables.hpp"
#include "zerodose/log_moment_table.hpp"

namespace velmar {

// The tables of the run the stage reads, and the observations whose correction factors,
// decay constants and sigmas it changes. All owned by the driver.
struct ZeroDoseData {
  ControlTables& tables;
  const UniqueTable& unique;
  ObservationList& obs;
  std::span<const float> shells;  // Angstrom, decreasing
};

// The image number from which a data set's dose is counted: the header's STARTING_FRAME=
// when it gave one, else the smallest image number observed in the data set.
float first_image(const DataSet& s);

// Dose parameters per data set (0-based) while the stage runs: starting dose and dose rate
// in use (the given values, then the refined ones), and the data sets of every crystal.
struct DoseParameters {
  std::vector<float> first_image;
  std::vector<double> starting_dose, dose_rate;
  std::vector<std::vector<int>> crystal_sets;  // [crystal number - 1]: its data sets, in order
};
DoseParameters dose_parameters(const ControlTables& t);

// One observation that can be a point of a decay line: weight, ln I and the measurement.
struct RawPoint {
  float w, y;         // 1/sd^2 and mean of ln J (trunclg of I x F, sigma x F)
  float i, sigma;     // I x F and sigma x F
  float image;        // image number
  int16_t isym;
  int64_t index;      // position in the observation list
};

// Which groups of points a pass fits: at least `min_points` points, and when `need_span`,
// image numbers that differ by more than three.
struct GroupRule {
  int min_points = 2;
  bool need_span = true;
};

// The points of one reflection, group after group (the layout of fitlines and hyptest),
// with work arrays sized for the largest number of observations of any reflection.
struct DecayPoints {
  std::vector<float> w, x, y, i, sigma, f;
  std::vector<int64_t> index;  // observation of each point
  std::vector<int> n;          // points of each group
  std::vector<int> set;        // data set of each group
  std::vector<float> a, sd_a;  // intercept per group from fitlines
  std::vector<RawPoint> raw;   // candidates of the data set being collected
  size_t points = 0;

  DecayPoints(int max_observations, int max_groups);
  void clear() {
    points = 0;
    n.clear();
    set.clear();
  }
  size_t groups() const { return n.size(); }
  std::span<const int> group_sizes() const { return n; }
  std::span<const float> weights() const { return {w.data(), points}; }
  std::span<const float> doses() const { return {x.data(), points}; }
  std::span<const float> logs() const { return {y.data(), points}; }
  std::span<const float> intensities() const { return {i.data(), points}; }
  std::span<const float> sigmas() const { return {sigma.data(), points}; }
  std::span<float> factors() { return {f.data(), points}; }
  std::span<float> intercepts() { return {a.data(), n.size()}; }
  std::span<float> intercept_sds() { return {sd_a.data(), n.size()}; }
};

// Collects into p.raw the observations of unique reflection u in data set j that give a
// point: usable (sigma > 0, not a misfit of the scaling) with a defined sd of ln J.
// Returns their number.
size_t collect_points(const ZeroDoseData& d, const LogMomentTable& table, size_t u, int j, DecayPoints& p);

// Appends the collected points of parity class t (t * isym >= 0; 0 takes all) as one group
// of data set j when they satisfy the rule; each point's dose is
// x = offset + rate (image - first image) (a dose beyond 1E30 in magnitude makes no point).
// Returns true when the group was added.
bool add_group(DecayPoints& p, int t, const GroupRule& rule, int j, double offset, double rate, float first);

}  // namespace velmar
