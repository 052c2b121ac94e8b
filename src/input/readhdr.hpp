// The header of an input reflection file.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "input/line_source.hpp"
#include "symmetry/symop.hpp"

namespace velmar {

// The header values of one reflection file; each starts at the value it has when its
// keyword is absent. Item numbers are 1-based columns of the data records, 0 when not given.
struct HeaderValues {
  bool merge = true;                     // MERGE=
  bool friedel = true;                   // FRIEDEL'S_LAW=
  int nx = -1, ny = -1;                  // NX= NY=
  float qx = -1.0f, qy = -1.0f;          // QX= QY=
  float orgx = -1.0f, orgy = -1.0f;      // ORGX= ORGY=
  float detector_distance = 0.0f;        // DETECTOR_DISTANCE=
  std::array<float, 3> detector_x_axis{};  // DIRECTION_OF_DETECTOR_X-AXIS=
  std::array<float, 3> detector_y_axis{};  // DIRECTION_OF_DETECTOR_Y-AXIS=
  std::array<float, 3> rotation_axis{};    // ROTATION_AXIS=
  float oscillation_range = -1.0f;       // OSCILLATION_RANGE=
  float starting_angle = 0.0f;           // STARTING_ANGLE=
  int starting_frame = -1;               // STARTING_FRAME=
  std::array<float, 3> incident_beam{};  // INCIDENT_BEAM_DIRECTION=
  int space_group = -1;                  // SPACE_GROUP_NUMBER=
  Cell cell{-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f};  // UNIT_CELL_CONSTANTS=
  float wavelength = -1.0f;              // X-RAY_WAVELENGTH=
  float res_low = 1000000.0f;            // INCLUDE_RESOLUTION_RANGE= low limit
  float res_high = 1.0e-6f;              //   and high limit (Angstrom)
  float variance_a0 = -1.0f;             // VARIANCE_MODEL=
  float variance_b0 = 0.0f;
  int items = 0;                         // NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=
  int item_h = 0, item_k = 0, item_l = 0;
  int item_iobs = 0, item_sigma = 0;
  int item_xd = 0, item_yd = 0, item_zd = 0;
  int item_psi = 0;
  int status = -2;                       // 0 usable, -2 not
};

// Reads the header of `file_name` of the given kind (a control-file kind word). The file is
// opened and closed here. KVD_ASCII files have a header; the other kinds have none and get
// the defaults (MERGE=FALSE for DIRECT, FRIEDEL'S_LAW=FALSE for ANOMAL) with status 0 once
// the file opens.
HeaderValues readhdr(const std::string& file_name, std::string_view kind);

inline constexpr size_t kHeaderBufferBytes = 64 * 1024;

// Same for a stream that is already open (a file, or a memory buffer through fmemopen),
// read through a buffer of `buffer_bytes` bytes and closed here; status -2 when `file` is
// null.
HeaderValues readhdr(FileHandle file, std::string_view kind, size_t buffer_bytes = kHeaderBufferBytes);

}  // namespace velmar
