// Random half sets of the observations of one reflection, drawn with L'Ecuyer's combined
// multiplicative congruential generator. The generator state belongs to the caller: one
// state per run, started from the fixed seeds and never reseeded, so that a run on the
// same input reproduces its half sets.
#pragma once

#include <cstdint>
#include <span>

namespace velmar {

struct RandomState {
  int32_t s1 = 2147483562;
  int32_t s2 = 2147483398;
};

// The next uniform number in [0,1) (1.0 possible only through rounding to single precision).
float lecuyer_uniform(RandomState& state);

struct HalfSets {
  float i1 = 0.0f, sigma1 = -1.0f;
  float i2 = 0.0f, sigma2 = -1.0f;
  int m = 0;  // observations used
};

// Splits the observations with sigma > 0 and isym * parity >= 0 (parity 0 takes all) at
// random into two halves (the first m/2 after a shuffle, and the rest) and returns the
// inverse-variance weighted mean and its sigma of each. With m < 2 nothing is drawn and
// the halves are (0, -1). `scratch` needs room for isym.size() entries.
HalfSets ransplit(int parity, std::span<const int16_t> isym, std::span<const float> intensity,
                  std::span<const float> sigma, std::span<int32_t> scratch, RandomState& state);

}  // namespace velmar
