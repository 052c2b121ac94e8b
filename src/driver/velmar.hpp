// The job driver: the whole run from start-up to the timing lines.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/stage_times.hpp"

namespace velmar {

// What the run may use of its surroundings. The program runs with the defaults; tests run
// it in-process with a small memory budget or a silent terminal.
struct RunEnvironment {
  int64_t memory_bytes = -2;       // bytes the observation list may take; -2: ask the system
  std::FILE* terminal = stdout;    // nullptr: no terminal output
  StageTimes* times = nullptr;     // the benchmarks' record of the stages' times
};

// Runs VELMAR in the current directory; returns the process exit status
// (0 after a completed or quietly ended run, 1 after an error message).
int velmar(const RunEnvironment& env = {});

}  // namespace velmar
