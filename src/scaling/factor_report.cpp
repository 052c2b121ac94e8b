// The report block of one correction kind and the images of its cumulative factors.
#include "scaling/factor_report.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "scaling/cbf_image.hpp"

namespace velmar {
namespace {

constexpr int kFileNameLength = 20;
constexpr float kPixelsPerUnit = 1000.0f;
constexpr float kLargestPixel = 32767.0f;

const char* file_stem(CorrectionKind m) {
  switch (m) {
    case CorrectionKind::kDecay:
      return "DECAY";
    case CorrectionKind::kModulation:
      return "MODPIX";
    default:
      return "ABSORP";
  }
}

const char* report_title(CorrectionKind m) {
  switch (m) {
    case CorrectionKind::kDecay:
      return "           CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION";
    case CorrectionKind::kModulation:
      return "  CORRECTION FACTORS AS FUNCTION OF X (fast) & Y(slow) IN THE DETECTOR PLANE";
    default:
      return "   CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & DETECTOR SURFACE POSITION";
  }
}

const char* image_title(CorrectionKind m) {
  switch (m) {
    case CorrectionKind::kDecay:
      return " REC. CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION";
    case CorrectionKind::kModulation:
      return " REC. CORRECTION FACTORS AS FUNCTION OF X (fast) & Y(slow) IN THE DETECTOR PLANE";
    default:
      return " REC. CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & DETECTOR_SURFACE_POSITION";
  }
}

// nint() kept within the int range; a value that is not a number counts as the largest.
int32_t nint_clamped(float v) {
  if (!(v < 2147483520.0f)) return INT32_MAX;
  if (v <= -2147483520.0f) return -INT32_MAX;
  return static_cast<int32_t>(std::lround(v));
}

// A factor as an image pixel: nint(min(1000 G, 32767)); a factor that is not a number
// gives the largest pixel too.
int32_t pixel_value(float g) {
  const float v = kPixelsPerUnit * g;
  return v < kLargestPixel ? nint_clamped(v) : static_cast<int32_t>(kLargestPixel);
}

std::string range_line(const char* lo, float min, const char* hi, float max, const char* count, int n, int d) {
  std::string s(lo);
  put_f(s, min, 8, d);
  s += hi;
  put_f(s, max, 8, d);
  s += count;
  put_i(s, n, 5);
  return s;
}

// The header-contents lines of the image of kind m of data set s; lines 3 on are also
// printed in the report.
std::vector<std::string> header_contents(CorrectionKind m, const DataSet& s, const GridDescriptor& d,
                                         std::span<const float> nodes) {
  std::vector<std::string> lines;
  std::string name = " INPUT_FILE=";
  put_char(name, s.name, kMaxNameLength);
  lines.push_back(name);
  lines.emplace_back(image_title(m));
  const ObservedRanges& r = s.range;
  if (m == CorrectionKind::kModulation) {
    lines.push_back(range_line(" XMIN=", r.x_min, " XMAX=", r.x_max, " NXBIN=", d.n_fast, 1));
    lines.push_back(range_line(" YMIN=", r.y_min, " YMAX=", r.y_max, " NYBIN=", d.n_slow, 1));
    return lines;
  }
  lines.push_back(range_line(" XMIN=", r.z_min, " XMAX=", r.z_max, " NXBIN=", d.n_fast, 1));
  if (m == CorrectionKind::kDecay) {
    lines.push_back(range_line(" YMIN=", r.ss_min, " YMAX=", r.ss_max, " NYBIN=", d.n_slow, 5));
    return lines;
  }
  for (int k = 0; k < d.n_slow; ++k) {
    std::string p = " DETECTOR_SURFACE_POSITION=";
    const size_t at = static_cast<size_t>(d.slow_offset) + 2 * static_cast<size_t>(k);
    put_i(p, nint_clamped(nodes[at]), 8);
    put_i(p, nint_clamped(nodes[at + 1]), 8);
    lines.push_back(p);
  }
  return lines;
}

// The grid must lie inside the factor vector and, for the surface, inside the node array.
void check_grid(CorrectionKind m, const GridDescriptor& d, std::span<const float> nodes,
                std::span<const float> cumulative) {
  const int64_t factors = static_cast<int64_t>(d.n_fast) * d.n_slow;
  bool ok =
      d.base >= 0 && d.n_fast >= 1 && d.n_slow >= 1 && d.base + factors <= static_cast<int64_t>(cumulative.size());
  if (m == CorrectionKind::kAbsorption)
    ok = ok && d.slow_offset >= 0 &&
         d.slow_offset + 2 * static_cast<int64_t>(d.n_slow) <= static_cast<int64_t>(nodes.size());
  if (!ok) assert_violation("LPCORFAC");
}

void write_image(const std::string& name, std::span<const std::string> lines, const GridDescriptor& d,
                 std::span<const float> cumulative) {
  std::vector<int32_t> pixels(static_cast<size_t>(d.n_fast) * static_cast<size_t>(d.n_slow));
  for (size_t k = 0; k < pixels.size(); ++k) pixels[k] = pixel_value(cumulative[static_cast<size_t>(d.base) + k]);
  fcb_write(name, lines, pixels, d.n_fast, d.n_slow);  // a failed image is left out silently
}

void print_banner(const Report& rep, CorrectionKind m) {
  rep.to_file("");
  rep.to_file(frame_line());
  rep.to_file(report_title(m));
  rep.to_file(frame_line());
}

void print_group_summary(const Report& rep, const ControlTables& t, const CorrectionGroup& g, const GroupFit& fit,
                         int cycles) {
  rep.to_file("");
  rep.to_file(" RECIPROCAL CORRECTION FACTORS FOR INPUT DATA SETS MERGED TO");
  std::string s = " OUTPUT FILE: ";
  put_char(s, t.groups[static_cast<size_t>(g.group - 1)].name, kMaxNameLength);
  rep.to_file(s);
  rep.to_file("");
  rep.to_file(g.friedel_halves ? " THE CALCULATIONS ASSUME         FRIEDEL'S_LAW=FALSE"
                               : " THE CALCULATIONS ASSUME         FRIEDEL'S_LAW= TRUE");
  s = " TOTAL NUMBER OF CORRECTION FACTORS DEFINED ";
  put_i(s, fit.factors, 8);
  rep.to_file(s);
  s = " DEGREES OF FREEDOM OF CHI^2 FIT          ";
  put_f(s, fit.dof, 10, 1);
  rep.to_file(s);
  s = " CHI^2-VALUE OF FIT OF CORRECTION FACTORS ";
  put_f(s, fit.chi2, 10, 3);
  rep.to_file(s);
  s = " NUMBER OF CYCLES CARRIED OUT               ";
  put_i(s, cycles, 8);
  rep.to_file(s);
  rep.to_file("");
}

void report_data_set(const Report& rep, const DataSet& s, const std::string& image,
                     const std::vector<std::string>& lines) {
  std::string l = " CORRECTION FACTORS for visual inspection by KVD-Viewer ";
  put_char(l, image, kFileNameLength);
  rep.to_file(l);
  for (size_t i = 2; i < lines.size(); ++i) rep.to_file(lines[i]);
  l = " NUMBER OF REFLECTIONS USED FOR DETERMINING CORRECTION FACTORS ";
  put_i(l, s.usable, 10);
  rep.to_file(l);
  rep.to_file("");
}

// The kind's stem, then ".cbf" for "COLLECTED.HKL" as the only correction group, else "_",
// the data-set number as three digits and ".cbf".
std::string image_file_name(CorrectionKind m, const DataSet& s, int set_number, int correction_groups) {
  std::string name = file_stem(m);
  const std::string_view trimmed = std::string_view(s.name).substr(0, s.name.find_last_not_of(' ') + 1);
  if (trimmed == "COLLECTED.HKL" && correction_groups == 1) return name + ".cbf";
  std::string number = fmt_i(set_number, 3);
  std::replace(number.begin(), number.end(), ' ', '0');
  return name + "_" + number + ".cbf";
}

}  // namespace

void lpcorfac(const Report& rep, CorrectionKind m, const ControlTables& t, std::span<const CorrectionGroup> groups,
              std::span<const GroupFit> fits, int cycles, std::span<const GridDescriptor> desc,
              std::span<const float> nodes, std::span<const float> cumulative) {
  if (fits.size() != groups.size() || desc.size() != t.sets.size()) assert_violation("LPCORFAC");
  for (const CorrectionGroup& g : groups)
    if (g.group < 1 || g.group > static_cast<int>(t.groups.size())) assert_violation("LPCORFAC");
  print_banner(rep, m);
  const int ngroups = static_cast<int>(groups.size());
  for (size_t g = 0; g < groups.size(); ++g) {
    print_group_summary(rep, t, groups[g], fits[g], cycles);
    for (size_t i = 0; i < t.sets.size(); ++i) {
      const DataSet& s = t.sets[i];
      if (s.group != groups[g].group) continue;
      check_grid(m, desc[i], nodes, cumulative);
      const std::string image = image_file_name(m, s, static_cast<int>(i) + 1, ngroups);
      const std::vector<std::string> lines = header_contents(m, s, desc[i], nodes);
      report_data_set(rep, s, image, lines);
      write_image(image, lines, desc[i], cumulative);
    }
  }
}

}  // namespace velmar
