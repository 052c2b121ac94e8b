// Generated observations for the benchmarks that drive one stage on an observation list
// built in memory: a seeded random number generator, the raw records and their layout as
// the loader leaves it (per data set sorted by key, each block closed by an end marker).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "common/observations.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"

namespace bench {

struct Lcg {
  uint64_t s;
  explicit Lcg(uint64_t seed) : s(seed) {}
  double next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return double(s >> 11) / double(uint64_t{1} << 53);
  }
  double normal() {  // Box-Muller, one of the pair
    const double u = std::max(next(), 1e-300), v = next();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  }
};

// A reflection drawn uniformly from the index cube |h|, |k|, |l| <= hmax until one lies
// within ss_max and is not systematically absent: its key and SS.
inline velmar::ReflKey random_reflection(const velmar::SymopList& ops, const velmar::Mat3& b, float ss_max, int hmax,
                                         Lcg& rng, float& ss) {
  for (;;) {
    const int h = int(rng.next() * (2 * hmax + 1)) - hmax;
    const int k = int(rng.next() * (2 * hmax + 1)) - hmax;
    const int l = int(rng.next() * (2 * hmax + 1)) - hmax;
    ss = velmar::one_over_d_squared(b, h, k, l);
    if (ss > 0.0f && ss <= ss_max && velmar::hkltyp(ops, h, k, l) >= 0) return velmar::iasym(h, k, l, ops);
  }
}

struct Raw {
  velmar::ReflKey key;
  float i, sigma;
  velmar::Position pos;
};

// Sorts each data set's records by key and lays them out with end markers.
inline void fill_list(std::vector<std::vector<Raw>>& sets, velmar::ObservationList& obs,
                      std::vector<velmar::DataSetBlock>& blocks) {
  size_t m = 0;
  for (const auto& s : sets) m += s.size() + 1;
  obs.resize(m);
  size_t p = 0;
  for (auto& s : sets) {
    std::sort(s.begin(), s.end(), [](const Raw& a, const Raw& c) { return velmar::key_less(a.key, c.key); });
    blocks.push_back({int64_t(p), int64_t(s.size())});
    for (const Raw& r : s) {
      obs.key[p] = r.key;
      obs.intensity[p] = r.i;
      obs.sigma[p] = r.sigma;
      obs.pos[p] = r.pos;
      ++p;
    }
    obs.key[p] = velmar::ReflKey::end_marker();
    obs.sigma[p] = -1.0f;
    ++p;
  }
}

}  // namespace bench
