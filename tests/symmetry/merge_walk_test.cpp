// The merge walk over sorted data-set blocks: unique count, the unique-reflection table,
// and the merging of runs of equal indices.
#include "symmetry/unique_table.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/qsort.hpp"
#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

const Cell kCell{10, 11, 12, 90, 100, 90};

std::string stop_text(auto&& f) {
  try {
    f();
  } catch (const VelmarError& e) {
    return e.what();
  }
  return "no stop";
}

struct Observation {
  int h, k, l;
  float i, sigma;
};

// Reduces, sorts and stores the data sets one after the other, each closed by its marker.
struct Fixture {
  SymopList ops = xsymy(1, kCell, 3).ops;  // P2, unique axis b
  Mat3 b = reciprocal_basis(kCell);
  ObservationList obs;
  std::vector<DataSetBlock> blocks;

  explicit Fixture(const std::vector<std::vector<Observation>>& sets) {
    for (const auto& set : sets) {
      DataSetBlock blk{static_cast<int64_t>(obs.size()), static_cast<int64_t>(set.size())};
      std::vector<ReflKey> keys;
      std::vector<float> in, sg, x;
      for (const Observation& o : set) {
        keys.push_back(iasym(o.h, o.k, o.l, ops));
        in.push_back(o.i), sg.push_back(o.sigma);
        x.insert(x.end(), {1.0f, 2.0f, 3.0f, 4.0f});
      }
      qsorta(keys, in, sg, x, 4);
      keys.push_back(ReflKey::end_marker()), in.push_back(0.0f), sg.push_back(-1.0f);
      x.insert(x.end(), {1.0f, 2.0f, 3.0f, 4.0f});
      const size_t base = obs.size();
      obs.resize(base + keys.size());  // resize keeps earlier entries of the key/I/sigma/aux columns
      for (size_t i = 0; i < keys.size(); ++i) {
        obs.key[base + i] = keys[i];
        obs.intensity[base + i] = in[i];
        obs.sigma[base + i] = sg[i];
        obs.aux[base + i] = {x[4 * i], x[4 * i + 1], x[4 * i + 2], x[4 * i + 3]};
      }
      blocks.push_back(blk);
    }
  }
};

std::vector<Observation> random_set(unsigned seed, int n) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> v(-3, 3);
  std::vector<Observation> set;
  for (int i = 0; i < n; ++i) set.push_back({v(rng), v(rng), v(rng), 100.0f, 10.0f});
  return set;
}

using Hkl = std::array<int16_t, 3>;

TEST(MergeWalkTable, CountsFirstPositionsClassesAndResolution) {
  Fixture f({random_set(1, 120), {}, random_set(2, 40), {{1, 2, 3, 5.0f, 1.0f}}});
  // Expected: per distinct (h,k,l), per data set, the list positions holding it.
  std::map<Hkl, std::vector<std::vector<int32_t>>> where;
  for (size_t j = 0; j < f.blocks.size(); ++j) {
    for (int64_t p = f.blocks[j].start; p < f.blocks[j].start + f.blocks[j].nrec; ++p) {
      const ReflKey& r = f.obs.key[static_cast<size_t>(p)];
      auto& sets = where[{r.h, r.k, r.l}];
      sets.resize(f.blocks.size());
      sets[j].push_back(static_cast<int32_t>(p));
    }
  }
  const UniqueCount c = nhklu(f.blocks, f.obs.key);
  ASSERT_EQ(c.nunique, static_cast<int64_t>(where.size()));
  UniqueTable t;
  setctrl(f.ops, f.b, f.blocks, f.obs.key, c.nunique, t);
  ASSERT_EQ(t.size(), where.size());
  ASSERT_EQ(t.nset, 4);
  int largest = 0;
  int64_t total = 0;
  size_t u = 0;
  for (const auto& [hkl, sets] : where) {
    const UniqueTable::Entry& e = t.uniq[u];
    SCOPED_TRACE("reflection " + std::to_string(e.h) + " " + std::to_string(e.k) + " " + std::to_string(e.l));
    ASSERT_EQ((Hkl{e.h, e.k, e.l}), hkl);
    EXPECT_EQ(e.cls, hkltyp(f.ops, e.h, e.k, e.l));
    EXPECT_EQ(t.ss[u], one_over_d_squared(f.b, e.h, e.k, e.l));
    int n = 0;
    for (int j = 0; j < t.nset; ++j) {
      const auto& pos = sets[static_cast<size_t>(j)];
      EXPECT_EQ(t.count(u, j), static_cast<int32_t>(pos.size()));
      if (!pos.empty()) {
        EXPECT_EQ(t.first(u, j), pos.front());
        EXPECT_EQ(pos.back() - pos.front() + 1, static_cast<int32_t>(pos.size())) << "run not contiguous";
      } else {
        // The walk notes where the data set stands: its first record past this reflection.
        const ReflKey& next = f.obs.key[static_cast<size_t>(t.first(u, j))];
        EXPECT_TRUE(next.is_end_marker() || (Hkl{next.h, next.k, next.l} > hkl));
      }
      n += t.count(u, j);
    }
    largest = std::max(largest, n);
    total += n;
    ++u;
  }
  EXPECT_EQ(total, 120 + 40 + 1) << "every observation in exactly one reflection";
  EXPECT_EQ(c.max_observations, largest);
  EXPECT_EQ(t.max_observations, largest);
  // (h,0,l) reflections of P2 are centric with phase code 180 and none is absent here.
  const auto centric = std::count_if(t.uniq.begin(), t.uniq.end(), [](const auto& e) { return e.cls == 180; });
  EXPECT_GT(centric, 0);
}

TEST(MergeWalkTable, ParitiesOfOneReflectionShareAnEntry) {
  // (2,1,3) and its Friedel mate (-2,-1,-3): one entry, the "-" record first in the run.
  Fixture f({{{2, 1, 3, 10.0f, 1.0f}, {-2, -1, -3, 20.0f, 1.0f}, {-2, 1, -3, 30.0f, 1.0f}}});
  const UniqueCount c = nhklu(f.blocks, f.obs.key);
  EXPECT_EQ(c.nunique, 1);
  EXPECT_EQ(c.max_observations, 3);
  EXPECT_LT(f.obs.key[0].isym, 0);
  EXPECT_GT(f.obs.key[2].isym, 0);
}

TEST(MergeWalkTable, WrongCountOrBrokenBlocksStop) {
  Fixture f({random_set(3, 30), random_set(4, 30)});
  const UniqueCount c = nhklu(f.blocks, f.obs.key);
  UniqueTable t;
  const std::string violation = " !!! ERROR !!! ASSERT VIOLATION IN \"SETCTRL\"";
  EXPECT_EQ(stop_text([&] { setctrl(f.ops, f.b, f.blocks, f.obs.key, c.nunique - 1, t); }), violation);
  EXPECT_EQ(stop_text([&] { setctrl(f.ops, f.b, f.blocks, f.obs.key, c.nunique + 1, t); }), violation);
  std::vector<DataSetBlock> broken = f.blocks;
  broken[1].nrec -= 1;  // its last record is not an end marker
  EXPECT_EQ(stop_text([&] { nhklu(broken, f.obs.key); }), " !!! ERROR !!! ASSERT VIOLATION IN \"NHKLU\"");
  EXPECT_EQ(stop_text([&] { setctrl(f.ops, f.b, broken, f.obs.key, c.nunique, t); }), violation);
  broken[1].nrec += 5;  // past the end of the list
  EXPECT_EQ(stop_text([&] { nhklu(broken, f.obs.key); }), " !!! ERROR !!! ASSERT VIOLATION IN \"NHKLU\"");
  EXPECT_EQ(nhklu({}, f.obs.key).nunique, 0);
}

TEST(MergeWalkCollaps, RunsBecomeWeightedMeans) {
  Fixture f({{{1, 1, 1, 7.0f, 1.0f}},
             {{1, 0, 0, 20.0f, 2.0f}, {-1, 0, 0, 10.0f, 1.0f}, {1, 0, 0, 40.0f, 2.0f},
              {2, 1, 0, 5.0f, 0.5f}, {3, 1, 1, 8.0f, -1.0f}}});
  const ObservationList before = f.obs;
  const int64_t n = collaps(f.obs, f.blocks[1]);
  ASSERT_EQ(n, 3);
  const auto s = static_cast<size_t>(f.blocks[1].start);
  EXPECT_EQ(f.obs.key[s], before.key[s]) << "key of the run's first record";
  EXPECT_NEAR(f.obs.intensity[s], (10.0 + 20.0 / 4 + 40.0 / 4) / 1.5, 1e-5);
  EXPECT_NEAR(f.obs.sigma[s], 1.0 / std::sqrt(1.5), 1e-6);
  EXPECT_EQ(f.obs.aux[s], (AuxRow{0, 0, 0, 0}));
  EXPECT_EQ(f.obs.key[s + 1], before.key[s + 3]);
  EXPECT_FLOAT_EQ(f.obs.intensity[s + 1], 5.0f);
  EXPECT_FLOAT_EQ(f.obs.sigma[s + 1], 0.5f);
  EXPECT_EQ(f.obs.sigma[s + 2], -1.0f) << "a run without a usable sigma stays unusable";
  EXPECT_TRUE(f.obs.key[s + 3].is_end_marker());
  EXPECT_EQ(f.obs.intensity[s + 3], 0.0f);
  EXPECT_EQ(f.obs.sigma[s + 3], -1.0f);
  EXPECT_EQ(f.obs.key[0], before.key[0]) << "other data sets untouched";
  EXPECT_EQ(f.obs.intensity[0], 7.0f);
  // The shortened block walks like any other.
  f.blocks[1].nrec = n;
  const UniqueCount c = nhklu(f.blocks, f.obs.key);
  EXPECT_EQ(c.nunique, 4);
  EXPECT_EQ(c.max_observations, 1);
}

}  // namespace
}  // namespace velmar
