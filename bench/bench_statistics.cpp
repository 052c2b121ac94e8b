// Throughput of the output writer and the data-set statistics on one core.
//
// Usage: bench_statistics [observations [output file]]
// Builds a synthetic data set (default 4,000,000 observations, two data sets, space group
// P2(1)2(1)2(1), 1.5 Angstrom, about 6 observations per reflection and parity), writes the
// unmerged output file without Friedel's law and accumulates the shell statistics (rstat),
// three times, and prints the best rate in observations per second.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_observations.hpp"
#include "common/error.hpp"
#include "common/report.hpp"
#include "statistics/statistics.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"
#include "symmetry/unique_table.hpp"

namespace {

using bench::fill_list;
using bench::Lcg;
using bench::random_reflection;
using bench::Raw;

// A deterministic "true" intensity per reflection.
double true_intensity(const velmar::ReflKey& k, float ss) {
  uint64_t x = uint64_t(uint16_t(k.h)) * 73856093u ^ uint64_t(uint16_t(k.k)) * 19349663u ^
               uint64_t(uint16_t(k.l)) * 83492791u;
  x ^= x >> 13;
  x *= 0x9E3779B97F4A7C15ULL;
  const double u = double(x >> 11) / double(uint64_t{1} << 53);
  return 20000.0 * std::exp(-20.0 * ss) * (-std::log(std::max(u, 1e-6)));
}

std::vector<Raw> make_observations(long n, const velmar::SymopList& ops, const velmar::Mat3& b, float ss_max,
                                   int hmax, Lcg& rng) {
  std::vector<Raw> out;
  out.reserve(size_t(n));
  while (long(out.size()) < n) {
    float ss = 0.0f;
    const velmar::ReflKey key = random_reflection(ops, b, ss_max, hmax, rng, ss);
    const double t = true_intensity(key, ss);
    const double sigma = std::sqrt(t + 100.0) + 0.03 * t;
    const float z = float(1.0 + rng.next() * 3599.0);
    out.push_back({key, float(t + sigma * rng.normal()), float(sigma),
                   {float(rng.next() * 4096.0), float(rng.next() * 4096.0), z, float(rng.next() * 180.0)}});
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::atol(argv[1]) : 4000000L;
  const std::string out_name =
      argc > 2 ? argv[2] : "/tmp/velmar_bench_st_" + std::to_string(getpid()) + ".hkl";
  velmar::ControlTables t;
  t.run.space_group = 19;
  t.run.cell = {100.0f, 120.0f, 140.0f, 90.0f, 90.0f, 90.0f};
  t.run.wfac1 = 1.5f;
  t.ops = velmar::xsymy(1, t.run.cell, t.run.space_group).ops;
  t.inverse = velmar::mlinv(t.ops);
  t.groups.push_back({});
  t.groups[0].name = out_name;
  t.groups[0].mode = -2;
  for (int j = 0; j < 2; ++j) {
    velmar::DataSet s;
    s.name = "set" + std::to_string(j + 1) + ".hkl";
    s.group = 1;
    t.sets.push_back(s);
  }
  const velmar::Mat3 b = velmar::reciprocal_basis(t.run.cell);
  const float dmin = 1.5f;
  Lcg rng(987654321);
  std::printf("building %ld observations ...\n", n);
  std::vector<std::vector<Raw>> raw;
  raw.push_back(make_observations(n / 2, t.ops, b, 1.0f / (dmin * dmin), 95, rng));
  raw.push_back(make_observations(n - n / 2, t.ops, b, 1.0f / (dmin * dmin), 95, rng));
  velmar::ObservationList obs;
  std::vector<velmar::DataSetBlock> blocks;
  fill_list(raw, obs, blocks);
  raw.clear();
  velmar::UniqueTable unique;
  const velmar::UniqueCount count = velmar::nhklu(blocks, obs.key);
  velmar::setctrl(t.ops, b, blocks, obs.key, count.nunique, unique);
  unique.max_observations = count.max_observations;
  std::printf("%lld unique reflections, at most %d observations of one\n", (long long)count.nunique,
              count.max_observations);
  std::vector<float> shells;
  for (int k = 1; k <= 10; ++k) shells.push_back(1.0f / std::sqrt(float(k) / (10.0f * dmin * dmin)));
  for (velmar::DataSet& s : t.sets) s.load.wavelength = 0.9f;
  const velmar::ScaledData data{t, unique, obs, "1.0.0", " 5-Dec-2026"};

  double best = 0.0;
  int status = 0;
  for (int pass = 0; pass < 3; ++pass) {
    std::FILE* lp = std::tmpfile();
    const velmar::Report rep{lp, nullptr};
    velmar::RandomState random;
    const auto t0 = std::chrono::steady_clock::now();
    try {
      velmar::rstat(rep, data, shells, random);
    } catch (const velmar::VelmarError& e) {
      std::fprintf(stderr, "%s\n", e.what());
      status = 1;
    }
    const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    if (lp) std::fclose(lp);
    if (status != 0) break;
    const double rate = double(n) / dt.count();
    best = std::max(best, rate);
    std::printf("pass %d: %.3f s, %.2f million observations/s\n", pass + 1, dt.count(), rate / 1e6);
  }
  if (status == 0) {  // the two parts on their own
    const auto t0 = std::chrono::steady_clock::now();
    const velmar::OutputCounts c = velmar::vmrhkl(data, 1);
    const auto t1 = std::chrono::steady_clock::now();
    velmar::RandomState random;
    const velmar::GroupStatistics st = velmar::shell_statistics(data, 1, shells, random);
    const auto t2 = std::chrono::steady_clock::now();
    std::printf("writer: %.3f s (%lld records), statistics: %.3f s (%lld unique)\n",
                std::chrono::duration<double>(t1 - t0).count(), (long long)c.written,
                std::chrono::duration<double>(t2 - t1).count(), (long long)st.shell.back().unique);
  }
  if (argc <= 2) std::remove(out_name.c_str());
  if (status == 0) std::printf("best: %.2f million observations/s (writing + statistics)\n", best / 1e6);
  return status;
}
