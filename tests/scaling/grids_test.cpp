#include "scaling/grids.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/error.hpp"

namespace velmar {
namespace {

struct SetSpec {
  int64_t usable = 50000;
  Geometry geometry = Geometry::kUnmerged;
  std::string corrections = " DECAY MODULATION ABSORPTION ";
  float oscillation = 0.5f;
  int nbatch = -1;
  float x0 = 0.0f, x1 = 2000.0f, y0 = 0.0f, y1 = 1000.0f, z0 = 1.0f, z1 = 100.0f;
};

DataSet make_set(const SetSpec& p) {
  DataSet s;
  s.usable = p.usable;
  s.load.geometry = p.geometry;
  s.corrections = p.corrections;
  s.load.oscillation_range = p.oscillation;
  s.nbatch = p.nbatch;
  s.range.x_min = p.x0;
  s.range.x_max = p.x1;
  s.range.y_min = p.y0;
  s.range.y_max = p.y1;
  s.range.z_min = p.z0;
  s.range.z_max = p.z1;
  s.range.ss_min = 0.01f;
  s.range.ss_max = 0.25f;
  return s;
}

using Bins = std::array<int, kGridAxes>;  // X, Y, batches, resolution bins, surface nodes

TEST(Grids, BinCounts) {
  struct Case {
    const char* what;
    SetSpec spec;
    Bins bins;
  };
  const std::string all = " DECAY MODULATION ABSORPTION ";
  const Case cases[] = {
      // R = usable / 50
      {"100 images at 0.5 degrees, R = 1000: 10 batches, 100 resolution bins clamped to 20",
       {.corrections = " DECAY "},
       {1, 1, 10, 20, 1}},
      {"all kinds: X and Y bins about square, product near R", {}, {45, 22, 10, 20, 13}},
      {"int(R) = 1 (R = 1.98): a single factor per kind", {.usable = 99}, {1, 1, 1, 1, 1}},
      {"R = 2 is enough", {.usable = 100}, {2, 1, 1, 2, 13}},
      {"detector extent of 1 pixel in x", {.x0 = 10.0f, .x1 = 11.0f}, {1, 1, 10, 20, 13}},
      {"detector extent of 1 pixel in y", {.y0 = 10.0f, .y1 = 11.0f}, {1, 1, 10, 20, 13}},
      {"merged input is never eligible; resolution bins from R alone",
       {.geometry = Geometry::kMerged, .nbatch = 7},
       {1, 1, 1, 20, 1}},
      {"merged input, small R", {.usable = 60, .geometry = Geometry::kMerged}, {1, 1, 1, 1, 1}},
      {"NBATCH= given", {.usable = 5000, .nbatch = 7}, {14, 7, 7, 14, 13}},
      {"no rotation known: one batch per 5 images", {.usable = 200000, .oscillation = -1.0f}, {89, 45, 20, 20, 13}},
      {"batches limited by R/20", {.usable = 5000, .oscillation = 0.0f}, {14, 7, 5, 20, 13}},
      {"MODULATION only: batch scale and one resolution bin", {.corrections = " MODULATION "}, {45, 22, 10, 1, 1}},
      {"ABSORPTION only", {.corrections = " ABSORPTION "}, {1, 1, 10, 1, 13}},
      {"words found by their first six letters", {.corrections = "MODULAABSORP"}, {45, 22, 10, 1, 13}},
      {"no corrections", {.corrections = ""}, {1, 1, 10, 1, 1}},
  };
  for (const Case& c : cases) {
    std::vector<DataSet> sets{make_set(c.spec)};
    const int64_t size = setgrid1(sets, 50);
    const Bins& b = sets[0].grid.bins;
    EXPECT_EQ(b, c.bins) << c.what;
    EXPECT_EQ(size, b[0] + b[1] + b[2] + b[3] + 2 * b[4]) << c.what;
  }
}

TEST(Grids, NodePlacementAndOffsets) {
  std::vector<DataSet> sets{make_set({.corrections = " DECAY "}), make_set({.x0 = 100.0f, .x1 = 1100.0f}),
                            make_set({.usable = 10})};
  const int64_t size = setgrid1(sets, 50);
  ASSERT_EQ(size, (1 + 1 + 10 + 20 + 2) + (32 + 32 + 10 + 20 + 26) + (1 + 1 + 1 + 1 + 2));
  const std::vector<float> nodes = setgrid2(sets, size);
  ASSERT_EQ(static_cast<int64_t>(nodes.size()), size);
  // axis blocks: X of all sets, then Y, image, SS, surface
  const std::array<int, kGridAxes> o0{0, 34, 68, 89, 130}, o1{1, 35, 78, 109, 132}, o2{33, 67, 88, 129, 158};
  EXPECT_EQ(sets[0].grid.node_offset, o0);
  EXPECT_EQ(sets[1].grid.node_offset, o1);
  EXPECT_EQ(sets[2].grid.node_offset, o2);
  // node k at the centre of the k-th of n equal bins
  for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(nodes[68 + k], 1.0f + (k + 0.5f) * 9.9f);
  for (int k = 0; k < 20; ++k) EXPECT_FLOAT_EQ(nodes[89 + k], 0.01f + (k + 0.5f) * 0.012f);
  for (int k = 0; k < 32; ++k) EXPECT_FLOAT_EQ(nodes[1 + k], 100.0f + (k + 0.5f) * 1000.0f / 32.0f);
  EXPECT_FLOAT_EQ(nodes[0], 1000.0f);  // one X node in the middle of the extent
  EXPECT_EQ(nodes[130], 0.0f);         // one surface node at (0, 0)
  EXPECT_EQ(nodes[131], 0.0f);

  EXPECT_THROW(setgrid2(sets, size - 1), VelmarError);
  sets[2].grid.bins[kAxisSS] = 0;
  EXPECT_THROW(setgrid2(sets, size), VelmarError);
}

TEST(Grids, SurfaceNodes) {
  std::vector<DataSet> sets{make_set({.x0 = 100.0f, .x1 = 2100.0f, .y0 = 50.0f, .y1 = 1050.0f})};
  const std::vector<float> nodes = setgrid2(sets, setgrid1(sets, 50));
  ASSERT_EQ(sets[0].grid.bins[kAxisSurface], 13);
  const float* p = nodes.data() + sets[0].grid.node_offset[kAxisSurface];
  const float cx = 1100.0f, cy = 550.0f, hx = 1000.0f, hy = 500.0f;
  EXPECT_EQ(p[0], cx);
  EXPECT_EQ(p[1], cy);
  const double pi = std::acos(-1.0);
  for (int k = 1; k < 13; ++k) {
    const bool inner = k < 5;
    const double r = inner ? std::sqrt(3.0 / 13.0) : 3.0 / std::sqrt(13.0);
    const double a = (inner ? 45.0 + 90.0 * (k - 1) : 22.5 + 45.0 * (k - 5)) * pi / 180.0;
    EXPECT_NEAR(p[2 * k], cx + r * hx * std::cos(a), 1e-3) << "node " << k + 1;
    EXPECT_NEAR(p[2 * k + 1], cy + r * hy * std::sin(a), 1e-3) << "node " << k + 1;
  }
  // the set is symmetric under reflection in x (mirror = -1) and in y (mirror = 1)
  for (int k = 0; k < 13; ++k)
    for (const float mirror : {-1.0f, 1.0f}) {
      const float mx = cx + mirror * (p[2 * k] - cx), my = cy - mirror * (p[2 * k + 1] - cy);
      int found = 0;
      for (int j = 0; j < 13; ++j) found += std::fabs(p[2 * j] - mx) < 1e-3f && std::fabs(p[2 * j + 1] - my) < 1e-3f;
      EXPECT_EQ(found, 1) << "mirror of node " << k + 1;
    }
}

// A grid built from explicit node positions: fast nodes, then slow nodes.
struct TestGrid {
  std::vector<float> nodes;
  GridDescriptor d;
};

TestGrid test_grid(std::vector<float> fast, std::vector<float> slow, int pairs_per_slow_node, int base) {
  TestGrid g;
  g.d.n_fast = static_cast<int>(fast.size());
  g.d.n_slow = static_cast<int>(slow.size()) / pairs_per_slow_node;
  g.d.base = base;
  g.d.fast_offset = 0;
  g.d.slow_offset = static_cast<int>(fast.size());
  g.nodes = fast;
  g.nodes.insert(g.nodes.end(), slow.begin(), slow.end());
  return g;
}

struct Pair {
  int index;
  float weight;
};

void expect_pairs(const FactorWeights& w, const std::vector<Pair>& expected, const char* what) {
  ASSERT_EQ(w.n, static_cast<int>(expected.size())) << what;
  for (int k = 0; k < w.n; ++k) {
    EXPECT_EQ(w.index[k], expected[static_cast<size_t>(k)].index) << what << " pair " << k;
    EXPECT_NEAR(w.weight[k], expected[static_cast<size_t>(k)].weight, 1e-6f) << what << " pair " << k;
  }
}

TEST(Grids, ObservationWeights) {
  // kind 1: image nodes 5, 15, 25, 35; SS nodes 0.125, 0.25, 0.375; factors start at 100
  const TestGrid g = test_grid({5, 15, 25, 35}, {0.125f, 0.25f, 0.375f}, 1, 100);
  struct Case {
    const char* what;
    float z, ss;
    std::vector<Pair> expected;  // slow entries outer, fast inner; index base + i + n_f * j
  };
  const Case cases[] = {
      {"on a node: weight 1; of its equidistant neighbours the lower first",
       15.0f,
       0.25f,
       {{105, 1.0f}, {104, 0.0f}, {101, 0.0f}, {100, 0.0f}}},
      {"equidistant from two nodes: 0.5 each, lower node first",
       20.0f,
       0.375f,
       {{109, 0.5f}, {110, 0.5f}, {105, 0.0f}, {106, 0.0f}}},
      {"inverse-square weights: distances 1 and 9 give 81:1",
       6.0f,
       0.125f,
       {{100, 81.0f / 82.0f}, {101, 1.0f / 82.0f}, {104, 0.0f}, {105, 0.0f}}},
      {"beyond the last node: distances 15 and 25",
       50.0f,
       0.3125f,
       {{107, 0.5f / 1.36f}, {106, 0.5f * 0.36f / 1.36f}, {111, 0.5f / 1.36f}, {110, 0.5f * 0.36f / 1.36f}}},
  };
  for (const Case& c : cases) {
    FactorWeights w;
    wicht(CorrectionKind::kDecay, g.d, g.nodes, 0.0f, 0.0f, c.z, c.ss, w);
    expect_pairs(w, c.expected, c.what);
    wicht_scan(CorrectionKind::kDecay, g.d, g.nodes, 0.0f, 0.0f, c.z, c.ss, w);
    expect_pairs(w, c.expected, c.what);
  }
  // kind 2 takes x on the fast axis and y on the slow one
  FactorWeights w;
  wicht(CorrectionKind::kModulation, g.d, g.nodes, 35.0f, 0.125f, 0.0f, 0.0f, w);
  expect_pairs(w, {{103, 1.0f}, {102, 0.0f}, {107, 0.0f}, {106, 0.0f}}, "kind 2");
  // no factors of the kind
  TestGrid none = g;
  none.d.base = -1;
  EXPECT_EQ(wicht(CorrectionKind::kDecay, none.d, none.nodes, 0, 0, 15, 0.2f, w), 0);
  EXPECT_EQ(w.n, 0);
  // single nodes on both axes: one pair of weight 1
  const TestGrid one = test_grid({50}, {0.0f, 0.0f}, 2, 0);
  EXPECT_EQ(wicht(CorrectionKind::kAbsorption, one.d, one.nodes, 3, 4, 7, 0, w), 1);
  expect_pairs(w, {{0, 1.0f}}, "single factor");
}

TEST(Grids, SurfaceWeightsAndTies) {
  // centred on (0, 0), so that the nodes of a ring lie at exactly equal distances from it
  std::vector<DataSet> sets{
      make_set({.x0 = -1000.0f, .x1 = 1000.0f, .y0 = -1000.0f, .y1 = 1000.0f, .z0 = 1, .z1 = 20})};
  const std::vector<float> nodes = setgrid2(sets, setgrid1(sets, 50));
  GridDescriptor d = grid_descriptor(CorrectionKind::kAbsorption, sets[0]);
  ASSERT_EQ(d.n_slow, 13);
  ASSERT_EQ(d.n_fast, 2);
  d.base = 0;
  FactorWeights w;
  // At the centre: the centre node, then of the four equidistant inner nodes the two
  // lowest-numbered, with weights 1, 0, 0. Image 5.75 is on fast node 1.
  ASSERT_EQ(wicht(CorrectionKind::kAbsorption, d, nodes, 0.0f, 0.0f, 5.75f, 0.0f, w), 6);
  expect_pairs(w, {{0, 1.0f}, {1, 0.0f}, {2, 0.0f}, {3, 0.0f}, {4, 0.0f}, {5, 0.0f}}, "centre");
  // Halfway between the centre and inner node 2: both get the same, largest weight, the
  // centre first; the third nearest (inner node 3, 537 against 240 pixels) weighs 0.2 as much.
  const float* p = nodes.data() + d.slow_offset;
  ASSERT_EQ(wicht(CorrectionKind::kAbsorption, d, nodes, p[2] / 2, p[3] / 2, 5.75f, 0.0f, w), 6);
  EXPECT_EQ(w.index[0], 0);
  EXPECT_EQ(w.index[2], 2);
  EXPECT_EQ(w.index[4], 4);
  EXPECT_EQ(w.weight[0], w.weight[2]);
  EXPECT_NEAR(w.weight[4] / w.weight[0], 0.2f, 1e-3f);
}

TEST(Grids, NearestSelection) {
  struct Case {
    std::vector<float> distances;
    int nmax;
    std::vector<int> nodes;
    std::vector<float> weights;
  };
  const Case cases[] = {
      {{3, 1, 2, 1}, 2, {1, 3}, {0.5f, 0.5f}},
      {{3, 1, 2, 1}, 3, {1, 3, 2}, {1 / 2.25f, 1 / 2.25f, 0.25f / 2.25f}},
      {{2, 2, 2}, 3, {0, 1, 2}, {1 / 3.0f, 1 / 3.0f, 1 / 3.0f}},
      {{0, 0}, 2, {0, 1}, {0.5f, 0.5f}},
      {{5, 0, 5}, 2, {1, 0}, {1.0f, 0.0f}},
      {{4}, 3, {0}, {1.0f}},
  };
  for (const Case& c : cases) {
    AxisSelection s;
    gpadr(c.distances, c.nmax, s);
    ASSERT_EQ(s.n, static_cast<int>(c.nodes.size()));
    std::vector<int> got(s.node.begin(), s.node.begin() + s.n);
    EXPECT_EQ(got, c.nodes);
    for (int k = 0; k < s.n; ++k) EXPECT_NEAR(s.weight[k], c.weights[static_cast<size_t>(k)], 1e-6f);
  }
}

bool same(const FactorWeights& a, const FactorWeights& b) {
  if (a.n != b.n) return false;
  for (int k = 0; k < a.n; ++k)
    if (a.index[k] != b.index[k] || std::memcmp(&a.weight[k], &b.weight[k], sizeof(float)) != 0) return false;
  return true;
}

// Finding the nearest nodes by position gives exactly what scanning every node gives, on
// grids as setgrid2 builds them (also degenerate ones), for random points, points on and
// halfway between nodes and points outside the extents.
TEST(Grids, FindingNodesByPositionEqualsScan) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  int64_t compared = 0, weight_sum_off = 0;
  for (int trial = 0; trial < 150; ++trial) {
    SetSpec p;
    p.usable = 50 * static_cast<int64_t>(2 + rng() % 40000);
    p.oscillation = trial % 7 == 0 ? -1.0f : 0.05f + 2.0f * u(rng);
    p.nbatch = trial % 5 == 0 ? 1 + static_cast<int>(rng() % 300) : -1;
    p.x0 = 4000.0f * u(rng) - 500.0f;
    p.x1 = p.x0 + (trial % 11 == 0 ? 0.0f : 4000.0f * u(rng));
    p.y0 = 4000.0f * u(rng);
    p.y1 = p.y0 + 1.5f + 3000.0f * u(rng);
    p.z0 = std::floor(1000.0f * u(rng));
    p.z1 = p.z0 + (trial % 13 == 0 ? 0.0f : std::floor(3600.0f * u(rng)));
    const bool few_ulps = trial % 19 == 0;  // nodes that coincide in part
    if (few_ulps) p.z1 = p.z0 + 0.00025f * std::max(1.0f, p.z0);
    std::vector<DataSet> sets{make_set(p)};
    sets[0].range.ss_min = 0.001f + 0.01f * u(rng);
    sets[0].range.ss_max = sets[0].range.ss_min + (trial % 17 == 0 ? 0.0f : 0.5f * u(rng));
    if (few_ulps) sets[0].range.ss_max = sets[0].range.ss_min * 1.000001f;
    const std::vector<float> nodes = setgrid2(sets, setgrid1(sets, 50));
    for (const CorrectionKind m : kCorrectionKinds) {
      GridDescriptor d = grid_descriptor(m, sets[0]);
      d.base = 7;
      const float* fast = nodes.data() + d.fast_offset;
      const float* slow = nodes.data() + d.slow_offset;
      for (int i = 0; i < 300; ++i) {
        const ObservedRanges& r = sets[0].range;
        const float t = 1.4f * u(rng) - 0.2f;
        float x = r.x_min + t * (r.x_max - r.x_min), y = r.y_min + (1.4f * u(rng) - 0.2f) * (r.y_max - r.y_min);
        float z = r.z_min + t * (r.z_max - r.z_min + 1.0f);
        float ss = r.ss_min + (1.4f * u(rng) - 0.2f) * (r.ss_max - r.ss_min);
        if (i % 4 == 1 || i % 4 == 2) {  // on a node, or halfway between two neighbours
          const int k = static_cast<int>(rng() % static_cast<unsigned>(d.n_fast));
          const int k2 = std::min(k + (i % 4 == 2 ? 1 : 0), d.n_fast - 1);
          const float c = (fast[k] + fast[k2]) / 2.0f;
          (m == CorrectionKind::kModulation ? x : z) = c;
          if (m != CorrectionKind::kAbsorption) {
            const int j = static_cast<int>(rng() % static_cast<unsigned>(d.n_slow));
            const int j2 = std::min(j + (i % 4 == 2 ? 1 : 0), d.n_slow - 1);
            (m == CorrectionKind::kDecay ? ss : y) = (slow[j] + slow[j2]) / 2.0f;
          }
        }
        const bool unknown = i % 97 == 5;  // coordinates that are not numbers
        if (unknown) x = y = z = ss = std::nanf("");
        FactorWeights a, b;
        wicht(m, d, nodes, x, y, z, ss, a);
        wicht_scan(m, d, nodes, x, y, z, ss, b);
        ASSERT_TRUE(same(a, b)) << "trial " << trial << " kind " << static_cast<int>(m) << " x " << x << " y " << y
                                << " z " << z << " ss " << ss;
        float sum = 0.0f;
        for (int k = 0; k < a.n; ++k) {
          sum += a.weight[k];
          ASSERT_GE(a.index[k], d.base);
          ASSERT_LT(a.index[k], d.base + d.n_fast * d.n_slow);
        }
        weight_sum_off += !unknown && !(std::fabs(sum - 1.0f) <= 1e-5f);
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 150 * 3 * 300);
  EXPECT_EQ(weight_sum_off, 0);
}

}  // namespace
}  // namespace velmar
