// One observation line (or record) of an input reflection file, as the loader receives it.
#pragma once

#include <array>

#include "common/observations.hpp"

namespace velmar {

enum class ReadResult {
  kData,        // `DataLine` holds the next line
  kEnd,         // end of the data
  kUnreadable,  // the file cannot be read: the data set is unusable
};

inline constexpr float kSigmaAbsent = -1.0f;

// h, k, l as read (not reindexed). The first intensity is I, or I(+) of a file that keeps
// Friedel mates apart; the second is I(-), carried with sigma -1 when there is none. A sigma
// <= 0 means the intensity is not used. x, y (pixels) and z (image number) are 0 when the
// file does not give them, psi is 9999 when unknown.
struct DataLine {
  int h = 0, k = 0, l = 0;
  float intensity = 0.0f, sigma = kSigmaAbsent;
  float intensity2 = 0.0f, sigma2 = kSigmaAbsent;
  float x = 0.0f, y = 0.0f, z = 0.0f, psi = kPsiUnknown;
  // DIRECT records only, raw: rotation-axis direction as two angles (S11, S12) and rotation
  // angle about it (S14), all in hundredths of a degree, and the incident beam (R4..R6).
  int axis_angle1 = 0, axis_angle2 = 0, axis_rotation = 0;
  std::array<float, 3> beam{};
};

}  // namespace velmar
