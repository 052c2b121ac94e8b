// Bin counts and node placement of the correction-factor grids (setgrid1, setgrid2).
#include "scaling/grids.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string_view>

#include "common/error.hpp"

namespace velmar {
namespace {

constexpr int kMaxResolutionBins = 20;
constexpr int kSurfaceNodes = 13;

// Unit-circle directions of the 13 surface nodes: the centre, the inner ring at 45, 135, 225,
// 315 degrees and the outer ring at 22.5, 67.5, ..., 337.5 degrees (counter-clockwise).
constexpr float kC45 = 0.70710678f;
constexpr float kC22 = 0.92387953f;  // cos 22.5
constexpr float kS22 = 0.38268343f;  // sin 22.5
constexpr float kSurfaceCos[kSurfaceNodes] = {0.0f,  kC45,  -kC45, -kC45, kC45, kC22, kS22,
                                              -kS22, -kC22, -kC22, -kS22, kS22, kC22};
constexpr float kSurfaceSin[kSurfaceNodes] = {0.0f, kC45, kC45,  -kC45, -kC45, kS22, kC22,
                                              kC22, kS22, -kS22, -kC22, -kC22, -kS22};
// Relative radii sqrt(3/13) (inner ring) and 3/sqrt(13) (outer ring).
constexpr float kInnerRadius = 0.48038447f;
constexpr float kOuterRadius = 0.8320503f;

// nint(): rounding half away from zero, kept within the int range (a value that is not a
// number counts as 0).
int nint(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483520.0f) return INT_MAX;
  if (v <= -2147483520.0f) return -INT_MAX;
  return static_cast<int>(std::lround(v));
}

// int(): truncation towards zero, kept within the int range.
int int_part(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483520.0f) return INT_MAX;
  if (v <= -2147483520.0f) return -INT_MAX;
  return static_cast<int>(v);
}

bool requests(const DataSet& s, std::string_view word) { return s.corrections.find(word) != std::string::npos; }

int batch_count(const DataSet& s, bool eligible, float r) {
  if (!eligible) return 1;
  if (s.nbatch >= 1) return s.nbatch;
  float t = (s.range.z_max + 1.0f - s.range.z_min) / 5.0f;             // one batch per 5 images ...
  if (s.load.oscillation_range > 0.0f) t *= s.load.oscillation_range;  // ... or per 5 degrees
  t = std::min(t, r / 20.0f);
  return std::max(1, nint(t));
}

void set_bins(DataSet& s, int reflections_per_factor) {
  const float r = static_cast<float>(s.usable) / static_cast<float>(reflections_per_factor);
  const bool eligible = static_cast<int>(s.load.geometry) >= 2 && int_part(r) >= 2;
  std::array<int, kGridAxes>& bins = s.grid.bins;
  bins.fill(1);
  const float dx = s.range.x_max - s.range.x_min;
  const float dy = s.range.y_max - s.range.y_min;
  if (eligible && requests(s, "MODULA") && dx > 1.0f && dy > 1.0f) {
    bins[kAxisX] = std::max(1, nint(std::sqrt(r * dx / dy)));
    bins[kAxisY] = std::max(1, nint(std::sqrt(r * dy / dx)));
  }
  bins[kAxisImage] = batch_count(s, eligible, r);
  if (requests(s, "DECAY"))
    bins[kAxisSS] = std::min(kMaxResolutionBins, std::max(1, int_part(r / static_cast<float>(bins[kAxisImage]))));
  if (eligible && requests(s, "ABSORP")) bins[kAxisSurface] = kSurfaceNodes;
}

int64_t node_floats(const CorrectionGrid& g) {
  int64_t n = 0;
  for (int a = 0; a < kGridAxes; ++a) n += (a == kAxisSurface ? 2 : 1) * static_cast<int64_t>(g.bins[a]);
  return n;
}

// Lower and upper limit of axis a (X, Y, image or SS) of a data set.
std::array<float, 2> axis_limits(const DataSet& s, int a) {
  const ObservedRanges& r = s.range;
  switch (a) {
    case kAxisX:
      return {r.x_min, r.x_max};
    case kAxisY:
      return {r.y_min, r.y_max};
    case kAxisImage:
      return {r.z_min, r.z_max};
    default:
      return {r.ss_min, r.ss_max};
  }
}

// Node k of n lies at the centre of the k-th of n equal bins between the limits.
void place_axis(float* out, int n, float lower, float upper) {
  const float step = upper - lower;
  for (int k = 1; k <= n; ++k) out[k - 1] = lower + (static_cast<float>(k) - 0.5f) * step / static_cast<float>(n);
}

// One node at (0, 0), or the centre and two elliptic rings over the detector extent.
void place_surface(float* out, int n, const ObservedRanges& r) {
  if (n == 1) {
    out[0] = out[1] = 0.0f;
    return;
  }
  const float cx = (r.x_min + r.x_max) / 2.0f, cy = (r.y_min + r.y_max) / 2.0f;
  const float hx = (r.x_max - r.x_min) / 2.0f, hy = (r.y_max - r.y_min) / 2.0f;
  for (int k = 0; k < kSurfaceNodes; ++k) {
    const float radius = k == 0 ? 0.0f : (k < 5 ? kInnerRadius : kOuterRadius);
    out[2 * k] = cx + radius * hx * kSurfaceCos[k];
    out[2 * k + 1] = cy + radius * hy * kSurfaceSin[k];
  }
}

// setgrid2 stops without a message when handed counts that setgrid1 cannot produce.
[[noreturn]] void plain_stop() { stop_verbatim(""); }

}  // namespace

int64_t setgrid1(std::span<DataSet> sets, int reflections_per_factor) {
  int64_t size = 0;
  for (DataSet& s : sets) {
    set_bins(s, std::max(1, reflections_per_factor));
    size += node_floats(s.grid);
  }
  return size;
}

std::vector<float> setgrid2(std::span<DataSet> sets, int64_t capacity) {
  std::vector<float> nodes(static_cast<size_t>(std::max<int64_t>(capacity, 0)), 0.0f);
  int64_t used = 0;
  for (int a = 0; a < kGridAxes; ++a) {
    const int64_t width = a == kAxisSurface ? 2 : 1;
    for (DataSet& s : sets) {
      const int n = s.grid.bins[a];
      if (n < 1 || (a == kAxisSurface && n != 1 && n != kSurfaceNodes)) plain_stop();
      if (used + width * n > capacity) plain_stop();
      s.grid.node_offset[a] = static_cast<int>(used);
      float* out = nodes.data() + used;
      if (a == kAxisSurface) {
        place_surface(out, n, s.range);
      } else {
        const std::array<float, 2> lim = axis_limits(s, a);
        place_axis(out, n, lim[0], lim[1]);
      }
      used += width * n;
    }
  }
  return nodes;
}

GridDescriptor grid_descriptor(CorrectionKind m, const DataSet& s) {
  const int k = kind_index(m);
  GridDescriptor d;
  d.n_fast = s.grid.bins[IFAST[k]];
  d.n_slow = s.grid.bins[ISLOW[k]];
  d.base = -1;
  d.fast_offset = s.grid.node_offset[IFAST[k]];
  d.slow_offset = s.grid.node_offset[ISLOW[k]];
  return d;
}

}  // namespace velmar
