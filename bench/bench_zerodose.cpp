// Time and memory of the zero-dose stage on one core.
//
// Usage: bench_zerodose [observations]
// Builds an observation list (default 5,000,000 observations) of two crystals with two data
// sets of 3600 images each, space group P2(1)2(1)2(1), 1.5 Angstrom, every reflection decaying
// with its own constant, the second sweep of each crystal given a 20 % low dose rate; runs
// the whole stage (decay factors, dose refinement, correction, sigma rescaling) and prints
// its time and the growth of the resident memory per observation during the stage.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_observations.hpp"
#include "common/error.hpp"
#include "common/report.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"
#include "symmetry/unique_table.hpp"
#include "zerodose/zerodose.hpp"

namespace {

using bench::fill_list;
using bench::Lcg;
using bench::random_reflection;
using bench::Raw;

constexpr int kSets = 4;        // data sets 1, 2 of crystal A and 3, 4 of crystal B
constexpr float kImages = 3600.0f;

// A deterministic number in [0, 1) per reflection and purpose.
double hashed(const velmar::ReflKey& k, uint64_t salt) {
  uint64_t x = (uint64_t(uint16_t(k.h)) * 73856093u) ^ (uint64_t(uint16_t(k.k)) * 19349663u) ^
               (uint64_t(uint16_t(k.l)) * 83492791u) ^ (salt * 0x9E3779B97F4A7C15ULL);
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 32;
  return double(x >> 11) / double(uint64_t{1} << 53);
}

// Observations of one sweep: dose = start + image/3600 (true rate 1/3600 per image).
std::vector<Raw> sweep(long n, const velmar::SymopList& ops, const velmar::Mat3& b, float ss_max, int hmax,
                       double start, Lcg& rng) {
  std::vector<Raw> out;
  out.reserve(size_t(n));
  while (long(out.size()) < n) {
    float ss = 0.0f;
    const velmar::ReflKey key = random_reflection(ops, b, ss_max, hmax, rng, ss);
    const double i0 = 20000.0 * std::exp(-20.0 * ss) * -std::log(std::max(hashed(key, 1), 1e-6));
    const double decay = 0.3 + 2.0 * ss * (0.5 + hashed(key, 2));
    const float z = float(1.0 + rng.next() * (kImages - 1.0));
    const double e = i0 * std::exp(-decay * (start + (z - 1.0) / kImages));
    const double sigma = std::sqrt(e + 100.0) + 0.02 * e;
    out.push_back({key, float(e + sigma * rng.normal()), float(sigma),
                   {float(rng.next() * 4096.0), float(rng.next() * 4096.0), z, 0.0f}});
  }
  return out;
}

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), -1 when unknown.
long status_kib(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long v = -1;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, field, n) == 0) v = std::atol(line + n);
  std::fclose(f);
  return v;
}

// Starts a new peak of the resident memory (Linux: VmHWM falls back to VmRSS).
void reset_peak() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return;
  std::fputs("5", f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::atol(argv[1]) : 5000000L;
  velmar::ControlTables t;
  t.run.space_group = 19;
  t.run.cell = {100.0f, 120.0f, 140.0f, 90.0f, 90.0f, 90.0f};
  t.run.crystals = 2;
  t.ops = velmar::xsymy(1, t.run.cell, t.run.space_group).ops;
  t.groups.push_back({});
  t.groups[0].name = "bench.hkl";
  t.groups[0].mode = -1;
  for (int j = 0; j < kSets; ++j) {
    velmar::DataSet s;
    s.name = "set" + std::to_string(j + 1) + ".hkl";
    s.group = 1;
    s.crystal = j / 2 + 1;
    s.crystal_name.assign(1, static_cast<char>('A' + j / 2));
    s.starting_dose = float(j % 2);
    s.dose_rate = j % 2 == 0 ? 1.0f / kImages : 0.8f / kImages;
    s.load.starting_frame = 1;
    t.sets.push_back(s);
  }
  const velmar::Mat3 b = velmar::reciprocal_basis(t.run.cell);
  const float dmin = 1.5f, ss_max = 1.0f / (dmin * dmin);
  Lcg rng(123456789);
  std::printf("building %ld observations ...\n", n);
  std::vector<std::vector<Raw>> raw;
  for (int j = 0; j < kSets; ++j) raw.push_back(sweep(n / kSets, t.ops, b, ss_max, 95, j % 2, rng));
  velmar::ObservationList obs;
  std::vector<velmar::DataSetBlock> blocks;
  fill_list(raw, obs, blocks);
  raw = {};
  velmar::UniqueTable unique;
  const velmar::UniqueCount count = velmar::nhklu(blocks, obs.key);
  velmar::setctrl(t.ops, b, blocks, obs.key, count.nunique, unique);
  unique.max_observations = count.max_observations;
  for (velmar::DataSet& s : t.sets) s.range.ss_min = 1.0f / (50.0f * 50.0f), s.range.ss_max = ss_max;
  std::vector<float> shells;
  for (int k = 1; k <= 10; ++k) shells.push_back(1.0f / std::sqrt(float(k) / (10.0f * dmin * dmin)));
  std::printf("%lld unique reflections, at most %d observations of one\n", (long long)count.nunique,
              count.max_observations);

  reset_peak();
  const long before = status_kib("VmRSS:");
  std::FILE* lp = std::tmpfile();
  const velmar::Report rep{lp, nullptr};
  const std::string scratch = "/tmp/velmar_bench_zd_" + std::to_string(getpid()) + ".tmp";
  const auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  try {
    velmar::zerodose(rep, t, unique, obs, shells, scratch);
  } catch (const velmar::VelmarError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = 1;
  }
  const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
  const long after = status_kib("VmHWM:");
  if (lp) std::fclose(lp);
  std::printf("zero-dose stage: %.3f s, %.2f million observations/s\n", dt.count(), double(n) / dt.count() / 1e6);
  std::printf("resident memory: %.1f bytes/observation before the stage, peak %.1f during it (growth %.1f)\n",
              1024.0 * double(before) / double(n), 1024.0 * double(after) / double(n),
              1024.0 * double(after - before) / double(n));
  for (const velmar::DataSet& s : t.sets)
    std::printf("%s crystal %s: starting dose %.4f, dose rate %.4g per image (true %.4g)\n", s.name.c_str(),
                s.crystal_name.c_str(), s.dose.starting_dose, s.dose.dose_rate, 1.0 / kImages);
  return status;
}
