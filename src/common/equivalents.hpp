// The observations of one unique reflection as every stage that compares equivalent
// observations sees them (statistics, output writer, scaling, Wilson, zero dose): gathered
// from some data sets with scaled intensity and sigma, split into parity classes and passed
// through the outlier test.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/observations.hpp"
#include "common/reject.hpp"
#include "common/tables.hpp"

namespace velmar {

// Work arrays for the observations of one unique reflection; their capacity is fixed when
// they are sized (the largest observation count of any unique reflection).
struct Equivalents {
  std::vector<int16_t> isym;     // signed operator number; its sign is the parity
  std::vector<float> intensity;  // I x F
  std::vector<float> sigma;      // sigma x F, negated when rejected
  std::vector<int32_t> set;      // 0-based data set
  std::vector<int64_t> index;    // 0-based position in the observation list
  size_t n = 0;                  // observations held

  explicit Equivalents(int capacity);
  size_t capacity() const { return isym.size(); }
  std::span<const int16_t> isym_list() const { return {isym.data(), n}; }
  std::span<const float> intensity_list() const { return {intensity.data(), n}; }
  std::span<float> sigma_list() { return {sigma.data(), n}; }
  std::span<const float> sigma_list() const { return {sigma.data(), n}; }
};

// The data sets (0-based, in data-set order) whose output group is `group` (1-based).
std::vector<int> group_sets(const ControlTables& t, int group);

// How gathered sigmas are formed. By default sigma x F as stored, with misfits (observations
// whose misfit mark the scaling set) flagged as rejected.
struct GatherRule {
  // Per data set (indexed by data-set number); when not empty the sigma is the error-model
  // sigma getesd(I, sigma, model) x F, and -1 where that is undefined.
  std::span<const ErrorModel> model;
  bool keep_misfits = false;  // true: misfits keep their sigma
};

// Collects the observations of unique reflection u from the given data sets, in data-set
// order and list order within a data set. Returns false (eq.n = 0) when they do not fit.
bool gather_equivalents(const UniqueTable& unique, const ObservationList& obs, std::span<const int> sets,
                        size_t u, Equivalents& eq, const GatherRule& rule = {});

// Parity selectors of the classes of one reflection: {0} (all observations) with Friedel's
// law (output mode +-1), else {-1, +1} (the "-" observations first).
std::span<const int> parity_classes(int mode);

// The final rejection of one class (t * isym >= 0): `reject` with criterion wc and quantile
// index 1, then the -3 sigma test: a class whose mean is below -3 times its sigma has all
// its observations flagged and m = 0 (mean and sigma are returned as found).
RejectResult reject_class(int t, Equivalents& eq, float wc);

// True when the class mean passes the -3 sigma test (never for a failed rejection).
inline bool above_noise_floor(const RejectResult& r) { return r.mean >= -3.0f * r.sigma; }

}  // namespace velmar
