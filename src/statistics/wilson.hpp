// Wilson statistics of a list of unique reflection intensities: the Wilson line
// log<I> = A - 2 B SS over 19 resolution shells, the higher moments and the cumulative
// distributions of normalised intensities of centric and acentric reflections against their
// theoretical values, and the reflections too strong to be likely under that distribution.
#pragma once

#include <cstdint>
#include <string>

#include "common/report.hpp"
#include "symmetry/symop.hpp"

namespace velmar {

// What one line of the list holds after h, k, l: one intensity and its sigma, or the
// intensities and sigmas of both Friedel mates (I(+), sigma(+), I(-), sigma(-)).
enum class WilsonRecord { kOneIntensity, kTwoIntensities };

// kReport prints the whole analysis on the report file; kSilent prints only error messages.
enum class WilsonPrint { kSilent, kReport };

struct WilsonInput {
  WilsonRecord record = WilsonRecord::kOneIntensity;
  int space_group = 0;
  Cell cell{};
  float ss_min = 0.0f;  // squared resolution range (1/d)^2 of the reflections used
  float ss_max = 0.0f;
};

inline constexpr int kWilsonOk = 0;
inline constexpr int kWilsonReadError = -1;
inline constexpr int kWilsonBadSymmetry = -2;
inline constexpr int kWilsonNoData = -3;

struct WilsonResult {
  float a = 0.0f;     // intercept A of the Wilson line; 0 with fewer than 3 usable shells
  float b = 0.0f;     // B of the Wilson line
  float correlation = 0.0f;  // as printed: positive for a falling line
  int64_t used = 0;   // reflections used
  int status = kWilsonOk;
};

// Reads the list file twice (each line cut to 80 characters, numbers in free format) and
// analyses it. Failures are reported (report file and terminal) and returned as a status;
// the routine never stops the run.
WilsonResult wilson(const Report& rep, WilsonPrint print, const std::string& list_name, const WilsonInput& in);

}  // namespace velmar
