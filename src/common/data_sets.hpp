// The per-data-set table of the run: one row per input data set holding everything the
// stages know about it, from the control file through loading, scaling and zero-dose
// correction. Owned by the driver; each stage fills its own part of the row.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

namespace velmar {

// The error model of a data set: v(I) = a (v0(I) + b I^2).
struct ErrorModel {
  float a = 1.0f, b = 0.0f;
};

// The error-model sigma sigma0 sqrt(a + a b (I/sigma0)^2), or -1 when sigma0 <= 0 or the
// root argument is not positive (`getesd`).
inline float getesd(float intensity, float sigma0, const ErrorModel& m) {
  if (!(sigma0 > 0.0f)) return -1.0f;
  const float q = intensity / sigma0;
  const float arg = m.a * m.b * q * q + m.a;
  return arg > 0.0f ? sigma0 * std::sqrt(arg) : -1.0f;
}

// Outcome of loading one data set.
enum class LoadStatus : int {
  kUsable = 0,
  kInconsistent = 1,    // usable, but space group or cell differ from the run's
  kScratchFailed = -1,  // the scratch file could not be written
  kUnreadable = -2,     // the input file could not be opened or read
  kUseless = -3,        // mean intensity <= 0
  kIndexOverflow = -4,  // indices beyond what a reflection key holds
  kBeyondLimit = -5,    // a reflection with d < lambda/2, which no diffraction experiment records
};

// A data set that stops the run.
inline bool failed(LoadStatus s) { return static_cast<int>(s) < 0; }

// Geometry code of the input: unmerged data (MERGE=FALSE or DIRECT) can get grid
// corrections over images and the detector, merged data cannot.
enum class Geometry : int { kMerged = 1, kUnmerged = 6 };

// What the loader found in the data set's file.
struct LoadedData {
  int64_t nrec = 0;           // observations written, end marker not counted
  float mean_intensity = 0.0f;
  int64_t rejected = 0;       // observations rejected by "REMOVE.HKL"
  LoadStatus status = LoadStatus::kUnreadable;
  Geometry geometry = Geometry::kMerged;
  float oscillation_range = -1.0f;  // degrees per image, < 0 unknown
  float wavelength = -1.0f;         // Angstrom, < 0 unknown
  int starting_frame = -1;          // STARTING_FRAME= of the header, < 0 not given
  ErrorModel input_model{-1.0f, 0.0f};  // VARIANCE_MODEL= of the header; a <= 0 unknown
};

// Ranges over the data set's observations of reflections that are not systematically absent.
struct ObservedRanges {
  float ss_min = 1e10f, ss_max = -1e10f;  // (1/d)^2
  float x_min = 1e10f, x_max = -1e10f;
  float y_min = 1e10f, y_max = -1e10f;
  float z_min = 1e10f, z_max = -1e10f;
  float max_i_over_sigma = 0.0f;
  float b_min = -0.9f;                    // lower bound of the error-model parameter b
};

// Grid axes of the correction factors.
enum GridAxis : int { kAxisX = 0, kAxisY = 1, kAxisImage = 2, kAxisSS = 3, kAxisSurface = 4, kGridAxes = 5 };

// The correction-factor grid of a data set: node counts per axis and the start of each
// axis's nodes in the run's node coordinate array.
struct CorrectionGrid {
  std::array<int, kGridAxes> bins{1, 1, 1, 1, 1};
  std::array<int, kGridAxes> node_offset{};
};

// The dose parameters the zero-dose correction used (refined where that succeeded).
struct DoseUsed {
  bool corrected = false;
  float starting_dose = 0.0f;
  float dose_rate = 0.0f;
  float first_image = 0.0f;
};

struct DataSet {
  // From the control file.
  std::string name;
  std::string kind = "KVD_ASCII";
  int group = 0;                      // 1-based output group
  float res_low = 1000000.0f;         // accepted resolution range, Angstrom
  float res_high = 1.0e-6f;
  std::string crystal_name;
  int crystal = 0;                    // crystal number, 0 = none
  float starting_dose = 0.0f;
  float dose_rate = 1.0f;
  int hold_starting_dose = 0;         // 1 when the value carried a "*"
  int hold_dose_rate = 0;
  float weight = 1.0f;
  int nbatch = -1;
  std::string corrections = "ALL";

  // From loading and assembly.
  LoadedData load;
  ObservedRanges range;

  // From scaling.
  float k = 1.0f, b = 0.0f;           // overall factor K exp(B SS) applied to intensities
  ErrorModel model;                   // refined error model (a1, b1)
  int64_t usable = 0;                 // usable observation count
  CorrectionGrid grid;

  // From zero-dose correction.
  DoseUsed dose;
};

}  // namespace velmar
