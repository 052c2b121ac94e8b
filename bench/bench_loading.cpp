// Benchmark of the whole loading stage: parse, reindex, reduce, scratch write and read-back,
// sort and unique-reflection table, on one core.
//
//   bench_loading [observations (default 5000000)] [space group (default 96)]
//
// The input file is made by velmar_synth (found next to this program) in a temporary
// directory, with the 12 items of a measured file (no truth items). Prints the time of each step, observations per second and the peak resident
// memory per observation.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/observations.hpp"
#include "driver/assembly.hpp"
#include "driver/control_file.hpp"
#include "input/loader.hpp"

namespace fs = std::filesystem;
using namespace velmar;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long peak_rss_kib() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const long long nobs = argc > 1 ? std::atoll(argv[1]) : 5000000;
  const int sg = argc > 2 ? std::atoi(argv[2]) : 96;
  const fs::path tool = fs::canonical("/proc/self/exe").parent_path() / "velmar_synth";
  const fs::path dir = fs::temp_directory_path() / ("velmar_bench_loading_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);
  const std::string cmd = tool.string() + " -o bench.hkl --sg " + std::to_string(sg) +
                          " --dmin 1.2 --obs " + std::to_string(nobs) + " --seed 3 --no-truth 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "cannot run %s\n", cmd.c_str());
    return 1;
  }
  const long rss_before = peak_rss_kib();

  Report quiet{nullptr, nullptr};
  ControlTables t;
  const std::string control = "OUTPUT_FILE=out.hkl\nINPUT_FILE=bench.hkl\n";
  t.capacity = prescan_capacity(control);
  pvelmar(control, quiet, kMaxShells, t);

  const auto t0 = std::chrono::steady_clock::now();
  UnitTable units;
  std::vector<LoadingJob> jobs = make_loading_jobs(t.run.processors, static_cast<int>(t.sets.size()), units);
  readhkl1(quiet, t, jobs);
  const double t_load = seconds_since(t0);
  const std::vector<DataSetBlock> blocks = observation_blocks(t.sets);
  ObservationList obs;
  read_back_observations(jobs, blocks, obs, -1);
  const double t_read = seconds_since(t0);
  const double t_sort = t_read;
  UniqueTable unique;
  build_unique_table(t.ops, t.run.cell, blocks, obs, unique);
  const double t_all = seconds_since(t0);

  const double n = static_cast<double>(t.sets[0].load.nrec);
  std::printf("observations accepted      %12.0f\n", n);
  std::printf("unique reflections         %12zu\n", unique.size());
  std::printf("parse+reduce+scratch write %9.3f s\n", t_load);
  std::printf("scratch read-back and sort %9.3f s\n", t_read - t_load);
  std::printf("unique table               %9.3f s\n", t_all - t_sort);
  std::printf("whole loading stage        %9.3f s  = %.2f million observations per second\n", t_all,
              n / t_all / 1e6);
  std::printf("peak resident memory       %9.1f MiB (%.1f bytes per observation; %.1f MiB before loading)\n",
              static_cast<double>(peak_rss_kib()) / 1024.0, static_cast<double>(peak_rss_kib()) * 1024.0 / n,
              static_cast<double>(rss_before) / 1024.0);
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(dir);
  return 0;
}
