// Wall-clock times of the stages of a run, for the benchmarks: each mark records the time
// since the previous one under a name. A null StageTimes* records nothing.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace velmar {

struct StageTimes {
  std::vector<std::pair<std::string, double>> stages;
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
};

inline void mark_stage(StageTimes* t, const char* name) {
  if (!t) return;
  const auto now = std::chrono::steady_clock::now();
  t->stages.emplace_back(name, std::chrono::duration<double>(now - t->last).count());
  t->last = now;
}

}  // namespace velmar
