// Time per observation of the interpolation weights (wicht) against the scan of every node.
//
// Usage: bench_wicht [observations]
// One data set of 1,000,000 usable observations (REFLECTIONS/CORRECTION_FACTOR= 50, so
// R = 20000), 3600 images of 0.1 degrees on a 4000 x 4000 pixel detector: 72 batches,
// 20 resolution bins, 141 x 141 detector nodes, 13 surface nodes. Random observations
// (default 10,000,000) over the extents; prints nanoseconds per call of each kind, both ways,
// best of three in CPU time, and a checksum that both ways must share.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "scaling/grids.hpp"

namespace {

struct Lcg {
  uint64_t s = 12345;
  float next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<float>(s >> 40) / static_cast<float>(1 << 24);
  }
};

struct Obs {
  float x, y, z, ss;
};

// CPU time of this thread: the machine is shared, so wall time would count other work.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <typename F>
double time_calls(F&& weights, velmar::CorrectionKind m, const velmar::GridDescriptor& d,
                  const std::vector<float>& nodes, const std::vector<Obs>& obs, double& checksum) {
  double best = 1e30;
  for (int rep = 0; rep < 3; ++rep) {
    velmar::FactorWeights w;
    double sum = 0.0;
    const double t0 = cpu_seconds();
    for (const Obs& o : obs) {
      weights(m, d, nodes, o.x, o.y, o.z, o.ss, w);
      sum += w.index[0] + w.weight[0];
    }
    best = std::min(best, cpu_seconds() - t0);
    checksum = sum;
  }
  return best * 1e9 / static_cast<double>(obs.size());
}

}  // namespace

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::atol(argv[1]) : 10000000;
  std::vector<velmar::DataSet> sets(1);
  velmar::DataSet& s = sets[0];
  s.usable = 1000000;
  s.load.geometry = velmar::Geometry::kUnmerged;
  s.load.oscillation_range = 0.1f;
  s.corrections = " DECAY MODULATION ABSORPTION ";
  s.range = {0.002f, 0.44f, 0.0f, 4000.0f, 0.0f, 4000.0f, 1.0f, 3600.0f, 0.0f, -0.9f};
  const std::vector<float> nodes = velmar::setgrid2(sets, velmar::setgrid1(sets, 50));
  std::printf("bins X %d Y %d batches %d resolution %d surface %d\n", s.grid.bins[0], s.grid.bins[1], s.grid.bins[2],
              s.grid.bins[3], s.grid.bins[4]);

  Lcg rng;
  std::vector<Obs> obs(static_cast<size_t>(n));
  for (Obs& o : obs)
    o = {4000.0f * rng.next(), 4000.0f * rng.next(), 1.0f + 3599.0f * rng.next(), 0.002f + 0.438f * rng.next()};
  for (const velmar::CorrectionKind m : velmar::kCorrectionKinds) {
    velmar::GridDescriptor d = velmar::grid_descriptor(m, s);
    d.base = 0;
    double c1 = 0.0, c2 = 0.0;
    const double fast = time_calls(velmar::wicht, m, d, nodes, obs, c1);
    const double scan = time_calls(velmar::wicht_scan, m, d, nodes, obs, c2);
    std::printf("kind %d grid %4d x %3d: wicht %6.1f ns, scan %6.1f ns per observation%s\n", static_cast<int>(m),
                d.n_fast, d.n_slow, fast, scan, c1 == c2 ? "" : "  CHECKSUMS DIFFER");
  }
  return 0;
}
