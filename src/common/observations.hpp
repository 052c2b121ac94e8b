// The observation list and the unique-reflection table, owned by the driver.
#pragma once

#include <cstdint>
#include <vector>

#include "common/reflection_key.hpp"

namespace velmar {

// Where and when an observation was recorded: detector x, y (pixels; 0 when unknown), image
// number z (0 when unknown) and the azimuthal angle psi (degrees, 9999 = unknown).
struct Position {
  float x = 0.0f, y = 0.0f, z = 0.0f, psi = 0.0f;
  bool operator==(const Position&) const = default;
};
inline constexpr float kPsiUnknown = 9999.0f;

// One observation as a 32-byte record: the form of the loader's scratch records.
struct PackedObservation {
  ReflKey key;
  float intensity, sigma;
  Position pos;
};
static_assert(sizeof(PackedObservation) == 32);

// One entry per scratch record of all data sets, data set after data set, each block sorted
// by key and closed by an end marker. Indices are 0-based.
struct ObservationList {
  std::vector<ReflKey> key;
  std::vector<float> intensity;
  std::vector<float> sigma;       // <= 0 marks an unusable or rejected observation
  std::vector<Position> pos;
  std::vector<float> corr;        // observation correction factor F, starts at 1
  std::vector<float> decay;       // decay constant b(h), 0 unless zero-dose corrected
  std::vector<uint8_t> misfit;    // 1 = misfit found by the scaling

  size_t size() const { return key.size(); }
  void resize(size_t n) {
    key.resize(n);
    intensity.resize(n);
    sigma.resize(n);
    pos.resize(n);
    corr.assign(n, 1.0f);
    decay.assign(n, 0.0f);
    misfit.assign(n, 0);
  }
};

template <class Column>
inline constexpr int64_t kEntryBytes = sizeof(typename Column::value_type);

// Bytes one entry of the observation list takes over all its columns.
inline constexpr int64_t kBytesPerObservation =
    kEntryBytes<decltype(ObservationList::key)> + kEntryBytes<decltype(ObservationList::intensity)> +
    kEntryBytes<decltype(ObservationList::sigma)> + kEntryBytes<decltype(ObservationList::pos)> +
    kEntryBytes<decltype(ObservationList::corr)> + kEntryBytes<decltype(ObservationList::decay)> +
    kEntryBytes<decltype(ObservationList::misfit)>;

// Per data set: NREC records starting at START (0-based), followed by the end marker.
struct DataSetBlock {
  int64_t start = 0;
  int64_t nrec = 0;
};

// One entry per unique reflection in ascending key order.
struct UniqueTable {
  struct Entry {
    int16_t h, k, l;
    int16_t cls;  // reflection class code: -1 absent, 0 acentric, 1..180 centric
  };
  int nset = 0;
  std::vector<Entry> uniq;
  std::vector<float> ss;          // (1/d)^2
  // count and first observation (0-based list index) of reflection u in data set j (0-based):
  // ctrl[2*(u*nset + j)] = count, ctrl[2*(u*nset + j) + 1] = first.
  std::vector<int32_t> ctrl;
  int max_observations = 0;       // largest observation count of one reflection (all sets)

  size_t size() const { return uniq.size(); }
  int32_t count(size_t u, int j) const { return ctrl[2 * (u * static_cast<size_t>(nset) + static_cast<size_t>(j))]; }
  int32_t first(size_t u, int j) const { return ctrl[2 * (u * static_cast<size_t>(nset) + static_cast<size_t>(j)) + 1]; }
};

}  // namespace velmar
