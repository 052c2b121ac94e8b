// Benchmark of a whole run with full scaling, stage by stage, on one core.
//
//   bench_scaling [observations (default 5000000)] [directory]
//
// Four sweeps of one crystal (P2_12_12_1, 100 x 100 x 150 A, 1.6 A: about 200,000 unique
// reflections) with different K and B, decay, modulation, absorption and an error model are
// made by velmar_synth (found next to this program) in the directory (default: a new
// temporary one; existing sweep files there are reused), then the program runs on them in
// this process. Prints the time of every stage (the correction kinds summed over both
// passes), observations per second and the peak resident memory per observation.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "driver/velmar.hpp"

namespace fs = std::filesystem;

namespace {

long peak_rss_kib() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

bool make_sweeps(const fs::path& tool, long long nobs) {
  if (fs::exists("s4.hkl")) return true;
  const std::string per_sweep = std::to_string(nobs / 4);
  const std::string cmd =
      tool.string() + " --sg 19 --cell 100 100 150 90 90 90 --dmin 1.6 --seed 3 --images 360 --oscillation 0.5 --obs " +
      per_sweep +
      " --no-truth --decay 0.2 0.8 --modulation 0.05 --absorption 0.1 --error-model 1.2 0.0004"
      " -o s1.hkl -o s2.hkl --k 0.8 --b 2 -o s3.hkl --k 1.3 --b -1 -o s4.hkl --k 0.6 --b 4 2>/dev/null";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long long nobs = argc > 1 ? std::atoll(argv[1]) : 5000000;
  const fs::path tool = fs::canonical("/proc/self/exe").parent_path() / "velmar_synth";
  const bool temporary = argc <= 2;
  const fs::path dir = temporary ? fs::temp_directory_path() / ("velmar_bench_scaling_" + std::to_string(getpid()))
                                 : fs::path(argv[2]);
  fs::create_directories(dir);
  fs::current_path(dir);
  if (!make_sweeps(tool, nobs)) {
    std::fprintf(stderr, "cannot make the sweeps with %s\n", tool.c_str());
    return 1;
  }
  std::FILE* control = std::fopen("VELMAR.INP", "w");
  std::fputs("OUTPUT_FILE=merged.hkl\nMERGE=TRUE\nINPUT_FILE=s1.hkl\nINPUT_FILE=s2.hkl\nINPUT_FILE=s3.hkl\n"
             "INPUT_FILE=s4.hkl\n",
             control);
  std::fclose(control);

  velmar::StageTimes times;
  const auto t0 = std::chrono::steady_clock::now();
  const int status = velmar::velmar({.terminal = nullptr, .times = &times});
  const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (status != 0) {
    std::fprintf(stderr, "the run failed; see %s/VELMAR.LP\n", dir.c_str());
    return 1;
  }
  std::map<std::string, double> summed;
  std::vector<std::string> order;
  for (const auto& [name, seconds] : times.stages) {
    if (!summed.count(name)) order.push_back(name);
    summed[name] += seconds;
  }
  std::printf("%-42s %9s %6s\n", "stage", "seconds", "share");
  for (const std::string& name : order)
    std::printf("%-42s %9.3f %5.1f%%\n", name.c_str(), summed[name], 100.0 * summed[name] / total);
  std::printf("%-42s %9.3f  = %.2f million observations per second\n", "whole run", total,
              static_cast<double>(nobs) / total / 1e6);
  std::printf("peak resident memory %.1f MiB = %.1f bytes per observation\n", static_cast<double>(peak_rss_kib()) / 1024.0,
              static_cast<double>(peak_rss_kib()) * 1024.0 / static_cast<double>(nobs));
  if (temporary) {
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir);
  }
  return 0;
}
