// Factor indices and interpolation weights of one observation (wicht, gpadr): on each grid
// axis the nearest nodes get inverse-square-distance weights, and the pairs of the two axes
// are combined.
#include <algorithm>
#include <cmath>
#include <limits>

#include "scaling/grids.hpp"

namespace velmar {
namespace {

constexpr int kFastNearest = 2;
constexpr float kMinWeightSum = 1e-6f;

// Inserts node k with squared distance d2 into the list kept sorted by squared distance:
// before the first entry that is strictly farther, so that of equal distances the node
// scanned first stays first; a node that would land beyond place nmax is dropped.
inline void insert_nearest(AxisSelection& s, int nmax, int k, float d2) {
  int pos = 0;
  while (pos < s.n && !(s.weight[pos] > d2)) ++pos;
  if (pos >= nmax) return;
  for (int j = std::min(s.n, nmax - 1); j > pos; --j) {
    s.node[j] = s.node[j - 1];
    s.weight[j] = s.weight[j - 1];
  }
  s.node[pos] = k;
  s.weight[pos] = d2;
  if (s.n < nmax) ++s.n;
}

// Turns the kept squared distances into weights d1^2/dk^2 (1 on a node), summing to 1.
inline void to_weights(AxisSelection& s) {
  const float d1 = s.weight[0];
  float sum = 0.0f;
  for (int i = 0; i < s.n; ++i) {
    s.weight[i] = s.weight[i] <= 0.0f ? 1.0f : d1 / s.weight[i];
    sum += s.weight[i];
  }
  if (sum > kMinWeightSum)
    for (int i = 0; i < s.n; ++i) s.weight[i] /= sum;
}

inline void scan_line(const float* p, int n, float c, int nmax, AxisSelection& s) {
  s.n = 0;
  for (int k = 0; k < n; ++k) {
    const float d = p[k] - c;
    insert_nearest(s, nmax, k, d * d);
  }
}

// What insert_nearest keeps of nodes lo..hi for nmax = 2, without its general loop: a node
// goes first when strictly nearer than the first, second when strictly nearer than the
// second (or there is no second yet).
inline void keep_nearest_two(const float* p, int lo, int hi, float c, AxisSelection& s) {
  float v0 = 0.0f, v1 = 0.0f;
  int i0 = -1, i1 = -1;
  for (int j = lo; j <= hi; ++j) {
    const float d = p[j] - c, v = d * d;
    if (i0 < 0) {
      i0 = j, v0 = v;
    } else if (v < v0) {
      i1 = i0, v1 = v0, i0 = j, v0 = v;
    } else if (i1 < 0 || v < v1) {
      i1 = j, v1 = v;
    }
  }
  s.n = i1 < 0 ? 1 : 2;
  s.node[0] = i0, s.node[1] = i1;
  s.weight[0] = v0, s.weight[1] = v1;
}

// The nearest nodes of an axis whose node positions do not decrease (as setgrid2 places
// them): the node nearest by position and its two neighbours are examined, and the result
// is accepted when the nodes just outside that window cannot come before the kept ones in
// the scan order (left: strictly farther, right: not nearer; beyond them distances only
// grow). Otherwise the axis is scanned, so the result is always that of the scan.
inline void find_line(const float* p, int n, float c, int nmax, AxisSelection& s) {
  if (n <= 3 || !(p[n - 1] > p[0])) {
    scan_line(p, n, c, nmax, s);
    return;
  }
  const float t = (c - p[0]) * static_cast<float>(n - 1) / (p[n - 1] - p[0]);
  if (!(t == t)) {
    scan_line(p, n, c, nmax, s);
    return;
  }
  const int k = t <= 0.0f ? 0 : (t >= static_cast<float>(n - 1) ? n - 1 : static_cast<int>(t + 0.5f));
  const int lo = std::max(0, k - 1), hi = std::min(n - 1, k + 1);
  if (nmax == 2) {
    keep_nearest_two(p, lo, hi, c, s);
  } else {
    s.n = 0;
    for (int j = lo; j <= hi; ++j) {
      const float d = p[j] - c;
      insert_nearest(s, nmax, j, d * d);
    }
  }
  const float last = s.weight[s.n - 1];
  bool exact = s.n == nmax;
  if (exact && lo > 0) {
    const float d = p[lo - 1] - c;
    exact = p[lo - 1] <= c && d * d > last;
  }
  if (exact && hi < n - 1) {
    const float d = p[hi + 1] - c;
    exact = p[hi + 1] >= c && d * d >= last;
  }
  if (!exact) scan_line(p, n, c, nmax, s);
}

// Surface nodes hold (x, y) pairs; the distance is the Euclidean one in pixels.
inline void scan_surface(const float* p, int n, float x, float y, int nmax, AxisSelection& s) {
  s.n = 0;
  for (int k = 0; k < n; ++k) {
    const float dx = p[2 * k] - x, dy = p[2 * k + 1] - y;
    const float dist = std::sqrt(dx * dx + dy * dy);
    insert_nearest(s, nmax, k, dist * dist);
  }
}

// The same selection as scan_surface without the general insertion: the nearest 3 of the
// surface nodes by (squared distance, node number), which is what the insertion keeps. The
// distances are computed first and the three kept by selects rather than branches, since
// which node is nearer changes from one observation to the next. Distances that do not
// compare (NaN) leave places empty; the scan then decides as always.
inline void nearest_surface(const float* p, int n, float x, float y, AxisSelection& s) {
  constexpr int kMaxSurface = 16;
  if (n > kMaxSurface) {
    scan_surface(p, n, x, y, 3, s);
    return;
  }
  float v[kMaxSurface];
  for (int k = 0; k < n; ++k) {
    const float dx = p[2 * k] - x, dy = p[2 * k + 1] - y;
    const float dist = std::sqrt(dx * dx + dy * dy);
    v[k] = dist * dist;
  }
  constexpr float kFar = std::numeric_limits<float>::infinity();
  float v0 = kFar, v1 = kFar, v2 = kFar;
  int i0 = -1, i1 = -1, i2 = -1;
  for (int k = 0; k < n; ++k) {
    const float d = v[k];
    const bool c0 = d < v0, c1 = d < v1, c2 = d < v2;
    v2 = c1 ? v1 : (c2 ? d : v2);
    i2 = c1 ? i1 : (c2 ? k : i2);
    v1 = c0 ? v0 : (c1 ? d : v1);
    i1 = c0 ? i0 : (c1 ? k : i1);
    v0 = c0 ? d : v0;
    i0 = c0 ? k : i0;
  }
  s.n = std::min(n, 3);
  if ((s.n > 0 && i0 < 0) || (s.n > 1 && i1 < 0) || (s.n > 2 && i2 < 0)) {
    scan_surface(p, n, x, y, 3, s);
    return;
  }
  s.node = {i0, i1, i2};
  s.weight = {v0, v1, v2};
}

// All (fast, slow) combinations, slow entries outer, with weights normalised again.
inline int combine(const GridDescriptor& d, const AxisSelection& f, const AxisSelection& s, FactorWeights& w) {
  int n = 0;
  float sum = 0.0f;
  for (int j = 0; j < s.n; ++j)
    for (int i = 0; i < f.n; ++i) {
      w.index[n] = d.base + f.node[i] + d.n_fast * s.node[j];
      w.weight[n] = f.weight[i] * s.weight[j];
      sum += w.weight[n];
      ++n;
    }
  if (sum > kMinWeightSum)
    for (int k = 0; k < n; ++k) w.weight[k] /= sum;
  w.n = n;
  return n;
}

template <bool kScanOnly>
inline void nearest_on_line(const float* p, int n, float c, int nmax, AxisSelection& s) {
  if constexpr (kScanOnly)
    scan_line(p, n, c, nmax, s);
  else
    find_line(p, n, c, nmax, s);
}

template <bool kScanOnly>
int weights(CorrectionKind m, const GridDescriptor& d, std::span<const float> nodes, float x, float y, float z,
            float ss, FactorWeights& w) {
  if (d.base < 0) {
    w.n = 0;
    return 0;
  }
  const float* base = nodes.data();
  AxisSelection f, s;
  nearest_on_line<kScanOnly>(base + d.fast_offset, d.n_fast, m == CorrectionKind::kModulation ? x : z, kFastNearest, f);
  if (m == CorrectionKind::kAbsorption) {
    if constexpr (kScanOnly)
      scan_surface(base + d.slow_offset, d.n_slow, x, y, 3, s);
    else
      nearest_surface(base + d.slow_offset, d.n_slow, x, y, s);
  } else
    nearest_on_line<kScanOnly>(base + d.slow_offset, d.n_slow, m == CorrectionKind::kDecay ? ss : y, 2, s);
  to_weights(f);
  to_weights(s);
  return combine(d, f, s, w);
}

}  // namespace

void gpadr(std::span<const float> distances, int nmax, AxisSelection& sel) {
  nmax = std::clamp(nmax, 0, static_cast<int>(sel.node.size()));
  sel.n = 0;
  for (size_t k = 0; k < distances.size(); ++k)
    insert_nearest(sel, nmax, static_cast<int>(k), distances[k] * distances[k]);
  to_weights(sel);
}

int wicht(CorrectionKind m, const GridDescriptor& d, std::span<const float> nodes, float x, float y, float z, float ss,
          FactorWeights& w) {
  return weights<false>(m, d, nodes, x, y, z, ss, w);
}

int wicht_scan(CorrectionKind m, const GridDescriptor& d, std::span<const float> nodes, float x, float y, float z,
               float ss, FactorWeights& w) {
  return weights<true>(m, d, nodes, x, y, z, ss, w);
}

}  // namespace velmar
