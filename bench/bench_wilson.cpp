// Benchmark of the Wilson stages on one core: the mean-intensity list, the Wilson statistics
// read back from it, the absolute-scale step and the Wilson section of the report.
//
//   bench_wilson [unique reflections (default 1000000)] [space group (default 19)]
//
// Builds a data set of Wilson-distributed intensities, two observations per unique
// reflection, in memory, and prints the time of each step in CPU seconds, and
// unique reflections per second.
// Scratch and report files are written to the temporary directory and removed.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "driver/wilson_steps.hpp"
#include "statistics/mean_intensity_list.hpp"
#include "statistics/wilson.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"
#include "symmetry/unique_table.hpp"

using namespace velmar;

namespace {

// Process CPU seconds: the machine is shared, wall-clock times vary with its load.
double cpu_now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
double seconds_since(double t0) { return cpu_now() - t0; }

// Unique reflections of the group out to the resolution that holds about n of them, each
// observed twice; the list sorted by key and closed by its end marker.
void build_data(ControlTables& t, int64_t n, ObservationList& obs, UniqueTable& unique) {
  const Mat3 b = reciprocal_basis(t.run.cell);
  const double volume = cell_volume(t.run.cell);
  // About (4/3) pi V / d^3 / (2 NEQ) unique reflections inside d.
  const double inv_d = std::cbrt(static_cast<double>(n) * 2.0 * static_cast<double>(t.ops.size()) * 3.0 /
                                 (4.0 * M_PI * volume));
  const float ss_max = static_cast<float>(inv_d * inv_d);
  const int hmax = static_cast<int>(std::max({t.run.cell[0], t.run.cell[1], t.run.cell[2]}) * inv_d) + 1;
  std::mt19937 rng(1);
  std::exponential_distribution<float> draw;
  std::vector<PackedObservation> rec;
  for (int h = -hmax; h <= hmax; ++h)
    for (int k = -hmax; k <= hmax; ++k)
      for (int l = -hmax; l <= hmax; ++l) {
        const float ss = one_over_d_squared(b, h, k, l);
        if (ss == 0.0f || ss > ss_max) continue;
        const ReflKey key = iasym(h, k, l, t.ops);
        if (key.h != h || key.k != k || key.l != l || sysabs(h, k, l, t.ops) < 0) continue;
        const float i = 20000.0f * std::exp(-10.0f * ss) * draw(rng);
        const float sigma = std::sqrt(i + 100.0f);
        rec.push_back({key, i - sigma, sigma, {100.0f, 100.0f, 1.0f, 0.0f}});
        rec.push_back({key, i + sigma, sigma, {200.0f, 200.0f, 2.0f, 0.0f}});
      }
  std::sort(rec.begin(), rec.end(), [](const PackedObservation& x, const PackedObservation& y) {
    return key_less(x.key, y.key);
  });
  obs.resize(rec.size() + 1);
  for (size_t i = 0; i < rec.size(); ++i) {
    obs.key[i] = rec[i].key;
    obs.intensity[i] = rec[i].intensity;
    obs.sigma[i] = rec[i].sigma;
    obs.pos[i] = rec[i].pos;
  }
  obs.key.back() = ReflKey::end_marker();
  obs.sigma.back() = -1.0f;
  const std::vector<DataSetBlock> blocks{{0, static_cast<int64_t>(rec.size())}};
  const UniqueCount count = nhklu(blocks, obs.key);
  setctrl(t.ops, b, blocks, obs.key, count.nunique, unique);
  unique.max_observations = count.max_observations;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t n = argc > 1 ? std::atoll(argv[1]) : 1000000;
  ControlTables t;
  t.run.space_group = argc > 2 ? std::atoi(argv[2]) : 19;
  t.run.cell = {100.0f, 120.0f, 140.0f, 90.0f, 90.0f, 90.0f};
  t.ops = xsymy(1, t.run.cell, t.run.space_group).ops;
  if (t.ops.empty()) {
    std::fprintf(stderr, "space group %d does not fit the cell 100 120 140 90 90 90\n", t.run.space_group);
    return 2;
  }
  const std::string dir = std::filesystem::temp_directory_path().string();
  const std::string tag = std::to_string(getpid());
  const std::string scratch = dir + "/bench_wilson_" + tag + ".tmp";
  t.groups.emplace_back().name = dir + "/bench_wilson_" + tag + ".hkl";
  t.sets.emplace_back().group = 1;

  ObservationList obs;
  UniqueTable unique;
  double t0 = cpu_now();
  build_data(t, n, obs, unique);
  std::printf("space group %d: %zu unique reflections, %zu observations (built in %.2f s)\n", t.run.space_group,
              unique.size(), obs.size() - 1, seconds_since(t0));

  std::FILE* lp = std::tmpfile();
  const Report rep{lp, nullptr};
  int status = 0;
  try {
    t0 = cpu_now();
    const MeanIntensityList list = makref(t, unique, obs, 0, scratch);
    const double t_list = seconds_since(t0);
    const WilsonInput in{WilsonRecord::kOneIntensity, t.run.space_group, t.run.cell, list.ss_min, list.ss_max};
    t0 = cpu_now();
    const WilsonResult silent = wilson(rep, WilsonPrint::kSilent, scratch, in);
    const double t_silent = seconds_since(t0);
    t0 = cpu_now();
    wilson(rep, WilsonPrint::kReport, scratch, in);
    const double t_printed = seconds_since(t0);
    std::remove(scratch.c_str());
    std::printf("mean-intensity list: %.3f s (%lld lines)\n", t_list, static_cast<long long>(list.lines));
    std::printf("wilson, silent:      %.3f s (%lld used, A = %.3f, B = %.3f), %.2f million reflections/s\n", t_silent,
                static_cast<long long>(silent.used), silent.a, silent.b,
                static_cast<double>(list.lines) / t_silent / 1e6);
    std::printf("wilson, printed:     %.3f s\n", t_printed);
    t0 = cpu_now();
    place_on_absolute_scale(rep, t, unique, obs, scratch);
    const double t_scale = seconds_since(t0);
    t0 = cpu_now();
    print_wilson_sections(rep, t, unique, obs, scratch);
    const double t_sections = seconds_since(t0);
    std::printf("absolute-scale step: %.3f s, Wilson sections: %.3f s, both: %.3f s\n", t_scale, t_sections,
                t_scale + t_sections);
  } catch (const VelmarError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = 1;
  }
  std::remove(scratch.c_str());
  if (lp) std::fclose(lp);
  return status;
}
