#include "scaling/grids.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/error.hpp"

namespace velmar {
namespace {

struct SetSpec {
  int64_t usable = 50000;  // R = 1000 with 50 reflections per factor
  Geometry geometry = Geometry::kUnmerged;
  std::string corrections = " DECAY MODULATION ABSORPTION ";
  float oscillation = 0.5f;
  int nbatch = -1;
  float x0 = 0, x1 = 2000, y0 = 0, y1 = 1000, z0 = 1, z1 = 100;
};

DataSet make_set(const SetSpec& p) {
  DataSet s;
  s.usable = p.usable;
  s.load.geometry = p.geometry;
  s.corrections = p.corrections;
  s.load.oscillation_range = p.oscillation;
  s.nbatch = p.nbatch;
  s.range = {0.01f, 0.25f, p.x0, p.x1, p.y0, p.y1, p.z0, p.z1, 0.0f, -0.9f};
  return s;
}

TEST(Grids, BinCounts) {
  struct Case {
    const char* what;
    SetSpec spec;
    std::array<int, kGridAxes> bins;  // X, Y, batches, resolution bins, surface nodes
  } const cases[] = {
      {"100 images of 0.5 degrees, R = 1000: 10 batches, 20 of 100 resolution bins",
       {.corrections = " DECAY "},
       {1, 1, 10, 20, 1}},
      {"all kinds: X and Y bins of about equal spacing", {}, {45, 22, 10, 20, 13}},
      {"int(R) = 1: one factor per kind", {.usable = 99}, {1, 1, 1, 1, 1}},
      {"int(R) = 2 is eligible", {.usable = 100}, {2, 1, 1, 2, 13}},
      {"x extent of 1 pixel", {.x0 = 10, .x1 = 11}, {1, 1, 10, 20, 13}},
      {"y extent of 1 pixel", {.y0 = 10, .y1 = 11}, {1, 1, 10, 20, 13}},
      {"merged input, NBATCH= ignored", {.geometry = Geometry::kMerged, .nbatch = 7}, {1, 1, 1, 20, 1}},
      {"NBATCH= given", {.usable = 5000, .nbatch = 7}, {14, 7, 7, 14, 13}},
      {"rotation unknown: a batch per 5 images", {.usable = 200000, .oscillation = -1}, {89, 45, 20, 20, 13}},
      {"batches limited to R/20", {.usable = 5000, .oscillation = 0}, {14, 7, 5, 20, 13}},
      {"words found by their first six letters", {.corrections = "MODULAABSORP"}, {45, 22, 10, 1, 13}},
      {"no corrections: batch scale only", {.corrections = ""}, {1, 1, 10, 1, 1}},
  };
  for (const Case& c : cases) {
    std::vector<DataSet> sets{make_set(c.spec)};
    const int64_t size = setgrid1(sets, 50);
    const auto& b = sets[0].grid.bins;
    EXPECT_EQ(b, c.bins) << c.what;
    EXPECT_EQ(size, b[0] + b[1] + b[2] + b[3] + 2 * b[4]) << c.what;
  }
}

TEST(Grids, NodePlacement) {
  std::vector<DataSet> sets{make_set({.corrections = " DECAY "}),
                            make_set({.x0 = 100, .x1 = 2100, .y0 = 50, .y1 = 1050}), make_set({.usable = 10})};
  const int64_t size = setgrid1(sets, 50);  // 34 + 45 + 22 + 10 + 20 + 26 + 6
  ASSERT_EQ(size, 163);
  const std::vector<float> nodes = setgrid2(sets, size);
  // axis blocks: X of all data sets, then Y, image, SS, surface
  using Offsets = std::array<int, kGridAxes>;
  EXPECT_EQ(sets[0].grid.node_offset, (Offsets{0, 47, 71, 92, 133}));
  EXPECT_EQ(sets[1].grid.node_offset, (Offsets{1, 48, 81, 112, 135}));
  EXPECT_EQ(sets[2].grid.node_offset, (Offsets{46, 70, 91, 132, 161}));
  for (int k = 0; k < 10; ++k) EXPECT_FLOAT_EQ(nodes[71 + k], 1.0f + (k + 0.5f) * 9.9f);     // bin centres
  for (int k = 0; k < 20; ++k) EXPECT_FLOAT_EQ(nodes[92 + k], 0.01f + (k + 0.5f) * 0.012f);  // SS
  EXPECT_FLOAT_EQ(nodes[0], 1000.0f);
  // 13 surface nodes: centre, inner ring from 45 degrees, outer ring from 22.5 degrees,
  // counter-clockwise, on an ellipse of the detector extents (a single node: see the report)
  const float* p = nodes.data() + 135;
  const double cx = 1100, cy = 550, pi = std::acos(-1.0);
  for (int k = 0; k < 13; ++k) {
    const double r = k == 0 ? 0.0 : (k < 5 ? std::sqrt(3.0 / 13.0) : 3.0 / std::sqrt(13.0));
    const double a = (k < 5 ? 45.0 + 90.0 * (k - 1) : 22.5 + 45.0 * (k - 5)) * pi / 180.0;
    EXPECT_NEAR(p[2 * k], cx + r * 1000 * std::cos(a), 1e-3) << "node " << k + 1;
    EXPECT_NEAR(p[2 * k + 1], cy + r * 500 * std::sin(a), 1e-3) << "node " << k + 1;
  }
  EXPECT_THROW(setgrid2(sets, size - 1), VelmarError);
  sets[2].grid.bins[kAxisSS] = 0;
  EXPECT_THROW(setgrid2(sets, size), VelmarError);
}

TEST(Grids, ObservationWeights) {
  // image nodes 5, 15, 25, 35 (fast), SS nodes 0.125, 0.25, 0.375 (slow), factors from 100
  const std::vector<float> nodes{5, 15, 25, 35, 0.125f, 0.25f, 0.375f};
  const GridDescriptor d{4, 3, 100, 0, 4};
  struct Case {
    const char* what;
    float z, ss;
    std::vector<std::pair<int, float>> pairs;  // slow entries outer; index base + i + 4 j
  } const cases[] = {
      {"on a node: weight 1; of two equidistant neighbours the lower first", 15, 0.25f,
       {{105, 1}, {104, 0}, {101, 0}, {100, 0}}},
      {"equidistant from two nodes: 0.5 each", 20, 0.375f, {{109, 0.5f}, {110, 0.5f}, {105, 0}, {106, 0}}},
      {"distances 1 and 9: weights 81:1", 6, 0.125f, {{100, 81 / 82.0f}, {101, 1 / 82.0f}, {104, 0}, {105, 0}}},
      {"beyond the last node: distances 15 and 25", 50, 0.3125f,
       {{107, 0.5f / 1.36f}, {106, 0.18f / 1.36f}, {111, 0.5f / 1.36f}, {110, 0.18f / 1.36f}}},
  };
  FactorWeights w;
  for (const Case& c : cases)
    for (const auto weights : {wicht, wicht_scan}) {
      ASSERT_EQ(weights(CorrectionKind::kDecay, d, nodes, 0, 0, c.z, c.ss, w), static_cast<int>(c.pairs.size()));
      for (int k = 0; k < w.n; ++k) {
        EXPECT_EQ(w.index[k], c.pairs[static_cast<size_t>(k)].first) << c.what;
        EXPECT_NEAR(w.weight[k], c.pairs[static_cast<size_t>(k)].second, 1e-6f) << c.what;
      }
    }
  wicht(CorrectionKind::kModulation, d, nodes, 35, 0.125f, 0, 0, w);  // x fast, y slow
  EXPECT_EQ(w.index[0], 103);
  EXPECT_EQ(wicht(CorrectionKind::kDecay, {4, 3, -1, 0, 4}, nodes, 0, 0, 15, 0.2f, w), 0);  // no factors

  // surface, centred on (0, 0) so that the nodes of a ring are exactly equidistant from it
  std::vector<DataSet> sets{make_set({.x0 = -1000, .x1 = 1000, .y0 = -1000, .y1 = 1000, .z0 = 1, .z1 = 20})};
  const std::vector<float> grid = setgrid2(sets, setgrid1(sets, 50));
  GridDescriptor s = grid_descriptor(CorrectionKind::kAbsorption, sets[0]);
  ASSERT_EQ(s.n_fast * s.n_slow, 2 * 13);
  s.base = 0;
  // at the centre: the centre node, then the two lowest-numbered of four equidistant ones
  ASSERT_EQ(wicht(CorrectionKind::kAbsorption, s, grid, 0, 0, 5.75f, 0, w), 6);
  EXPECT_EQ(std::vector<int>(w.index.begin(), w.index.end()), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(std::vector<float>(w.weight.begin(), w.weight.end()), (std::vector<float>{1, 0, 0, 0, 0, 0}));
  // halfway to inner node 2: equal weights; the third nearest is 537 against 240 pixels away
  const float* p = grid.data() + s.slow_offset;
  wicht(CorrectionKind::kAbsorption, s, grid, p[2] / 2, p[3] / 2, 5.75f, 0, w);
  EXPECT_EQ(w.weight[0], w.weight[2]);
  EXPECT_NEAR(w.weight[4] / w.weight[0], 0.2f, 1e-3f);
}

// Finding the nearest nodes by position gives bit for bit what the scan of every node gives,
// on grids as setgrid2 builds them (also with coinciding nodes), for random points, points on
// and halfway between nodes, points outside the extents and coordinates that are not numbers.
TEST(Grids, FindingNodesByPositionEqualsScan) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  const auto around = [&](float lo, float hi) { return lo + (1.4f * u(rng) - 0.2f) * (hi - lo); };  // 20 % beyond
  for (int trial = 0; trial < 150; ++trial) {
    SetSpec p{.usable = 50 * static_cast<int64_t>(2 + rng() % 40000),
              .oscillation = trial % 7 == 0 ? -1.0f : 0.05f + 2.0f * u(rng),
              .nbatch = trial % 5 == 0 ? 1 + static_cast<int>(rng() % 300) : -1};
    p.x0 = 4000 * u(rng) - 500, p.x1 = p.x0 + (trial % 11 == 0 ? 0.0f : 4000 * u(rng));
    p.y0 = 4000 * u(rng), p.y1 = p.y0 + 1.5f + 3000 * u(rng);
    p.z0 = std::floor(1000 * u(rng)), p.z1 = p.z0 + (trial % 13 == 0 ? 0.0f : std::floor(3600 * u(rng)));
    const bool few_ulps = trial % 19 == 0;  // nodes that partly coincide
    if (few_ulps) p.z1 = p.z0 + 0.00025f * std::max(1.0f, p.z0);
    std::vector<DataSet> sets{make_set(p)};
    ObservedRanges& r = sets[0].range;
    r.ss_min = 0.001f + 0.01f * u(rng);
    r.ss_max = few_ulps ? r.ss_min * 1.000001f : r.ss_min + (trial % 17 == 0 ? 0.0f : 0.5f * u(rng));
    const std::vector<float> nodes = setgrid2(sets, setgrid1(sets, 50));
    for (const CorrectionKind m : kCorrectionKinds) {
      GridDescriptor d = grid_descriptor(m, sets[0]);
      d.base = 7;
      const float* fast = nodes.data() + d.fast_offset;
      const float* slow = nodes.data() + d.slow_offset;
      for (int i = 0; i < 300; ++i) {
        float x = around(r.x_min, r.x_max), y = around(r.y_min, r.y_max), z = around(r.z_min, r.z_max + 1),
              ss = around(r.ss_min, r.ss_max);
        if (i % 4 == 1 || i % 4 == 2) {  // on a node, or halfway between two neighbours
          const int k = static_cast<int>(rng() % static_cast<unsigned>(d.n_fast)),
                    k2 = std::min(k + i % 4 - 1, d.n_fast - 1);
          (m == CorrectionKind::kModulation ? x : z) = (fast[k] + fast[k2]) / 2;
          const int j = static_cast<int>(rng() % static_cast<unsigned>(d.n_slow)),
                    j2 = std::min(j + i % 4 - 1, d.n_slow - 1);
          if (m != CorrectionKind::kAbsorption) (m == CorrectionKind::kDecay ? ss : y) = (slow[j] + slow[j2]) / 2;
        }
        if (i % 97 == 5) x = y = z = ss = std::nanf("");
        FactorWeights a, b;
        wicht(m, d, nodes, x, y, z, ss, a);
        wicht_scan(m, d, nodes, x, y, z, ss, b);
        ASSERT_EQ(a.n, b.n);
        ASSERT_TRUE(std::memcmp(a.index.data(), b.index.data(), sizeof(int32_t) * a.n) == 0 &&
                    std::memcmp(a.weight.data(), b.weight.data(), sizeof(float) * a.n) == 0)
            << "trial " << trial << " kind " << static_cast<int>(m) << " x " << x << " y " << y << " z " << z << " ss "
            << ss;
        if (i % 97 == 5) continue;  // no position: weights need not sum to 1
        ASSERT_NEAR(std::accumulate(a.weight.begin(), a.weight.begin() + a.n, 0.0f), 1.0f, 1e-5f);
      }
    }
  }
}

}  // namespace
}  // namespace velmar
