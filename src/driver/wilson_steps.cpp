#include "driver/wilson_steps.hpp"

#include <algorithm>
#include <cmath>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "common/scratch_files.hpp"
#include "statistics/mean_intensity_list.hpp"
#include "statistics/wilson.hpp"
#include "symmetry/cell_geometry.hpp"

namespace velmar {
namespace {

// ln(1.09172 V) is the Wilson intercept of a protein crystal with 50 % solvent.
constexpr double kProteinScale = 1.09172;
constexpr double kLargestLogFactor = 23.0;

// Writes the list of `group` and runs the Wilson statistics on it. Returns false when the
// list is empty; stops when the Wilson run fails. The scratch file is removed on return.
bool analyse_group(const Report& rep, WilsonPrint print, const ControlTables& t, const UniqueTable& unique,
                   const ObservationList& obs, int group, const std::string& scratch_name, WilsonResult& result) {
  const ScratchFileGuard guard(scratch_name);
  const MeanIntensityList list = makref(t, unique, obs, group, guard.name());
  if (list.lines == 0) return false;
  const WilsonInput in{WilsonRecord::kOneIntensity, t.run.space_group, t.run.cell, list.ss_min, list.ss_max};
  result = wilson(rep, print, guard.name(), in);
  if (result.status != kWilsonOk)
    stop("!!! ERROR !!! CANNOT OPEN OR READ FILE  " + fmt_char(guard.name(), kMaxNameLength));
  return true;
}

bool has_name(const OutputGroup& g) { return g.name.find_first_not_of(' ') != std::string::npos; }

}  // namespace

double cell_volume(const Cell& cell) {
  double c[3];
  for (size_t i = 0; i < 3; ++i) c[i] = std::cos(cell[3 + i] / static_cast<double>(kDegreesPerRadian));
  const double radicand = 1.0 - c[0] * c[0] - c[1] * c[1] - c[2] * c[2] + 2.0 * c[0] * c[1] * c[2];
  return static_cast<double>(cell[0]) * cell[1] * cell[2] * std::sqrt(std::max(radicand, 0.0));
}

float absolute_scale_factor(float a, double volume) {
  const double t = volume > 0.0 ? std::log(kProteinScale * volume) - a : 0.0;
  return std::fabs(t) > kLargestLogFactor ? 1.0f : static_cast<float>(std::exp(t));
}

bool place_on_absolute_scale(const Report& rep, const ControlTables& t, const UniqueTable& unique,
                             ObservationList& obs, const std::string& scratch_name) {
  WilsonResult w;
  if (!analyse_group(rep, WilsonPrint::kSilent, t, unique, obs, 0, scratch_name, w)) return false;
  const float f = absolute_scale_factor(w.a, cell_volume(t.run.cell));
  std::string s = "FACTOR TO PLACE ALL DATA SETS TO AN APPROXIMATE ABSOLUTE SCALE";
  put_e(s, f, 13, 4);
  rep.both("");
  rep.both(s);
  rep.both("(ASSUMING A PROTEIN WITH 50% SOLVENT)");
  for (float& c : obs.corr) c *= f;
  return true;
}

bool print_wilson_sections(const Report& rep, const ControlTables& t, const UniqueTable& unique,
                           const ObservationList& obs, const std::string& scratch_name) {
  for (size_t g = 0; g < t.groups.size(); ++g) {
    if (!has_name(t.groups[g])) continue;
    rep.to_file("");
    rep.to_file("");
    rep.to_file(frame_line());
    rep.to_file("    WILSON STATISTICS OF SCALED DATA SET: " + fmt_char(t.groups[g].name, kMaxNameLength));
    rep.to_file(frame_line());
    WilsonResult w;
    if (!analyse_group(rep, WilsonPrint::kReport, t, unique, obs, static_cast<int>(g) + 1, scratch_name, w))
      return false;
  }
  return true;
}

}  // namespace velmar
