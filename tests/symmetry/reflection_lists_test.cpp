// Lists of reflection keys: the hash table (probing, full tables, stops), both qsortas
// against std::sort with every companion value checked to travel with its record (qsortb:
// through the alien lists of the Wilson tests), and the merge walk over sorted data-set blocks (unique table, merging runs of equal keys).
#include <cmath>

#include "symmetry/asym.hpp"
#include "symmetry/hash64.hpp"
#include "symmetry/qsort.hpp"
#include "symmetry/unique_table.hpp"
#include "symmetry_support.hpp"

namespace velmar::symtest {
namespace {

// Every empty slot (negative pointer) names a distinct free record, and the free records
// are exactly those holding key 0.
void expect_free_records_paired(const HashTable64& t) {
  std::set<int> named;
  for (int s = 1; s <= t.n; ++s) {
    const int j = -t.ptr[static_cast<size_t>(s)];
    EXPECT_TRUE(j < 0 || (j >= 1 && j <= t.n && t.key[static_cast<size_t>(j)] == 0 && named.insert(j).second))
        << "slot " << s << " names record " << j;
  }
  EXPECT_EQ(static_cast<long>(named.size()), std::count(t.key.begin() + 1, t.key.end(), 0));
}

// Keys 3, 14, 25, 36, 47 share the residue 3 of N = 11 and take the five slots of its quadratic
// probe sequence: a sixth such key finds none, while other residues (of negative keys their
// non-negative residue) still find room, also where their probe sequence wraps around.
TEST(Hash64Probing, CollidingKeysUntilTheirProbeSequenceIsUsedUp) {
  HashTable64 t = new_hash_table(11);
  expect_free_records_paired(t);  // no key: every slot empty, each naming its own record
  for (int64_t key : {3, 14, 25, 36, 47}) EXPECT_GT(hash64_insert(t, key), 0) << key;
  EXPECT_EQ(hash64_insert(t, 58), 0);
  EXPECT_EQ(hash64(t.n, t.key, t.ptr, -8), 0);
  EXPECT_GT(hash64_insert(t, 7), 0);
  for (int64_t key : {3, 14, 25, 36, 47, 7, 8}) {
    const int j = hash64_find(t, key);  // the record holding the key, or 0
    EXPECT_TRUE(key == 8 ? j == 0 : j > 0 && t.key[static_cast<size_t>(j)] == key) << key << ": record " << j;
  }
  expect_free_records_paired(t);
}

TEST(Hash64Rebuild, OverfullTablesAndConsistencyStops) {
  // N = 11: records 1..5 fill the probe sequence of residue 3, record 6 another slot.
  std::vector<int64_t> key = {0, 3, 14, 25, 36, 47, 1, 58, 0, 0, 0, 0};
  std::vector<int32_t> ptr(12, 0);
  EXPECT_EQ(rehash64(11, key, ptr), 12);  // sixth key of residue 3 finds no slot, 6 >= 11/2 stored
  key[6] = 0;  // only 5 stored when it fails: the table is not half full
  EXPECT_EQ(stop_text([&] { rehash64(11, key, ptr); }), " ASSERT ERROR 2 IN SUBROUTINE REHASH64");
  key = {0, 0, 12, 0, 0, 0, 0, 0};
  ptr.assign(8, 0);
  ASSERT_EQ(rehash64(7, key, ptr), 1);
  ptr[6] = 0;  // damage slot 6, home of 12 and of 5
  const std::string fatal = " !!! FATAL ASSERT ERROR IN SUBROUTINE \"HASH64\"";
  EXPECT_EQ(stop_text([&] { hash64(7, key, ptr, 5); }), fatal);
  EXPECT_EQ(stop_text([&] { hash64(7, key, std::span<const int32_t>(ptr).first(5), 5); }), fatal);
}

std::vector<ReflKey> random_keys(size_t n, int range, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> v(-range, range);
  std::vector<ReflKey> keys(n);
  for (auto& k : keys) k = {int16_t(v(rng)), int16_t(v(rng)), int16_t(v(rng)), int16_t(v(rng) % 49)};
  return keys;
}

// Sorts the keys with both qsortas: the packed records (intensity = original position i),
// which the program sorts, and the columns (a = i, b = -i, row of x = i + c/8). Both give
// std::sort's order of keys, every record once with its own values.
void expect_qsorta_sorts(const std::vector<ReflKey>& keys, size_t ncol) {
  std::vector<ReflKey> rec = keys, expected = keys;
  std::vector<PackedObservation> packed(keys.size());
  std::vector<float> a(keys.size()), b(keys.size()), x(keys.size() * ncol);
  for (size_t i = 0; i < keys.size(); ++i) {
    packed[i] = {keys[i], static_cast<float>(i), 0.0f, {}}, a[i] = static_cast<float>(i), b[i] = -a[i];
    for (size_t c = 0; c < ncol; ++c) x[i * ncol + c] = a[i] + static_cast<float>(c) / 8.0f;
  }
  qsorta(rec, a, b, x, static_cast<int>(ncol));
  qsorta(packed);
  std::sort(expected.begin(), expected.end(), key_less);
  EXPECT_EQ(rec, expected);
  std::set<size_t> seen, seen_packed;
  size_t strays = 0;
  for (size_t p = 0; p < rec.size(); ++p) {
    const auto o = static_cast<size_t>(a[p]), q = static_cast<size_t>(packed[p].intensity);
    bool ok = o < keys.size() && seen.insert(o).second && rec[p] == keys[o] && b[p] == -a[p] &&
              q < keys.size() && seen_packed.insert(q).second && packed[p].key == keys[q] && keys[q] == rec[p];
    for (size_t c = 0; c < ncol; ++c) ok = ok && x[p * ncol + c] == a[p] + static_cast<float>(c) / 8.0f;
    strays += !ok;
  }
  EXPECT_EQ(strays, 0u);
}

TEST(QsortaOrder, RandomPresortedAndReversedListsAndColumns) {
  // Sizes, value ranges (0: all keys equal) and column counts; each list is also sorted
  // again when already in order and when in reverse order (2 records: a swap).
  struct Case { size_t n; int range; size_t ncol; };
  const Case cases[] = {{1000, 30000, 4}, {5000, 3, 4}, {777, 1, 0}, {2048, 100, 3},
                        {64, 0, 2},       {2, 30000, 2}, {1, 5, 1},  {0, 5, 0}};
  unsigned seed = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE("n " + std::to_string(c.n) + " range " + std::to_string(c.range));
    std::vector<ReflKey> keys = random_keys(c.n, c.range, seed++);
    expect_qsorta_sorts(keys, c.ncol);
    std::sort(keys.begin(), keys.end(), key_less);
    expect_qsorta_sorts(keys, c.ncol);
    std::reverse(keys.begin(), keys.end());
    expect_qsorta_sorts(keys, c.ncol);
  }
}

struct Observation { int h, k, l; float i, sigma; };

// Reduces (P2, unique axis b), sorts and stores the data sets one after the other, each
// closed by its end marker just past the block.
struct Fixture {
  SymopList ops = xsymy(1, {10, 11, 12, 90, 100, 90}, 3).ops;
  Mat3 b = reciprocal_basis({10, 11, 12, 90, 100, 90});
  ObservationList obs;
  std::vector<DataSetBlock> blocks;

  explicit Fixture(const std::vector<std::vector<Observation>>& sets) {
    for (const auto& set : sets) {
      std::vector<PackedObservation> recs;
      for (const Observation& o : set) recs.push_back({iasym(o.h, o.k, o.l, ops), o.i, o.sigma, {1, 2, 3, 4}});
      qsorta(recs);
      recs.push_back({ReflKey::end_marker(), 0.0f, -1.0f, {1, 2, 3, 4}});
      blocks.push_back({static_cast<int64_t>(obs.size()), static_cast<int64_t>(set.size())});
      for (const PackedObservation& r : recs)
        obs.key.push_back(r.key), obs.intensity.push_back(r.intensity), obs.sigma.push_back(r.sigma), obs.pos.push_back(r.pos);
    }
    obs.resize(obs.key.size());  // the other columns
  }
};

std::vector<Observation> random_set(unsigned seed, size_t n) {  // indices -3..3
  std::mt19937 rng(seed);
  std::vector<Observation> set(n);
  for (auto& o : set) o = {int(rng() % 7) - 3, int(rng() % 7) - 3, int(rng() % 7) - 3, 100.0f, 10.0f};
  return set;
}

TEST(MergeWalkTable, CountsFirstPositionsClassesAndResolution) {
  Fixture f({random_set(1, 120), {}, random_set(2, 40), {{1, 2, 3, 5.0f, 1.0f}}});
  // Expected: per distinct (h,k,l), per data set, the list positions holding it.
  std::map<Hkl, std::array<std::vector<int32_t>, 4>> where;
  for (size_t j = 0; j < f.blocks.size(); ++j)
    for (auto p = f.blocks[j].start; p < f.blocks[j].start + f.blocks[j].nrec; ++p) {
      const ReflKey& r = f.obs.key[static_cast<size_t>(p)];
      where[{r.h, r.k, r.l}][j].push_back(static_cast<int32_t>(p));
    }
  const UniqueCount c = nhklu(f.blocks, f.obs.key);
  ASSERT_EQ(c.nunique, static_cast<int64_t>(where.size()));
  UniqueTable t;
  setctrl(f.ops, f.b, f.blocks, f.obs.key, c.nunique, t);
  ASSERT_EQ(std::make_pair(t.size(), t.nset), std::make_pair(where.size(), 4));
  int largest = 0, total = 0, centric = 0;
  for (size_t u = 0; const auto& [hkl, sets] : where) {
    const UniqueTable::Entry& e = t.uniq[u];
    SCOPED_TRACE("reflection " + text({e.h, e.k, e.l}));
    ASSERT_EQ((Hkl{e.h, e.k, e.l}), hkl);
    EXPECT_EQ(e.cls, hkltyp(f.ops, e.h, e.k, e.l));
    EXPECT_EQ(t.ss[u], one_over_d_squared(f.b, e.h, e.k, e.l));
    int n = 0;
    for (int j = 0; j < t.nset; ++j) {
      const auto& pos = sets[static_cast<size_t>(j)];
      const ReflKey& at = f.obs.key[static_cast<size_t>(t.first(u, j))];
      EXPECT_EQ(t.count(u, j), static_cast<int32_t>(pos.size()));
      // Where the data set stands: its first record of this reflection, or the one past it.
      if (pos.empty()) {
        EXPECT_TRUE(at.is_end_marker() || (Hkl{at.h, at.k, at.l} > hkl)) << j << ": at " << text({at.h, at.k, at.l});
      } else {
        EXPECT_EQ(t.first(u, j), pos[0]) << j;
      }
      n += t.count(u, j);
    }
    largest = std::max(largest, n), total += n, centric += e.cls == 180;
    ++u;
  }
  EXPECT_EQ(total, 120 + 40 + 1) << "every observation in exactly one reflection";
  EXPECT_EQ(std::make_pair(c.max_observations, t.max_observations), std::make_pair(largest, largest));
  EXPECT_GT(centric, 0) << "(h,0,l) reflections of P2 are centric with phase code 180";
}

TEST(MergeWalkTable, ParitiesShareAnEntryAndBrokenInputStops) {
  // (2,1,3) and its Friedel mate (-2,-1,-3): one entry, the "-" record first in the run.
  Fixture one({{{2, 1, 3, 10.0f, 1.0f}, {-2, -1, -3, 20.0f, 1.0f}, {-2, 1, -3, 30.0f, 1.0f}}});
  const UniqueCount u = nhklu(one.blocks, one.obs.key);
  EXPECT_EQ(std::make_pair(u.nunique, u.max_observations), std::make_pair(int64_t{1}, 3));
  EXPECT_TRUE(one.obs.key[0].isym < 0 && one.obs.key[2].isym > 0);

  Fixture f({random_set(3, 30), random_set(4, 30)});
  const int64_t n = nhklu(f.blocks, f.obs.key).nunique;
  UniqueTable t;
  const std::string setctrl_stop = " !!! ERROR !!! ASSERT VIOLATION IN \"SETCTRL\"";
  const std::string nhklu_stop = " !!! ERROR !!! ASSERT VIOLATION IN \"NHKLU\"";
  EXPECT_EQ(stop_text([&] { setctrl(f.ops, f.b, f.blocks, f.obs.key, n - 1, t); }), setctrl_stop);
  std::vector<DataSetBlock> broken = f.blocks;
  broken[1].nrec -= 1;  // the record past the block is not an end marker
  EXPECT_EQ(stop_text([&] { nhklu(broken, f.obs.key); }), nhklu_stop);
  EXPECT_EQ(stop_text([&] { setctrl(f.ops, f.b, broken, f.obs.key, n, t); }), setctrl_stop);
  broken[1].nrec += 5;  // past the end of the list
  EXPECT_EQ(stop_text([&] { nhklu(broken, f.obs.key); }), nhklu_stop);
  EXPECT_EQ(nhklu({}, f.obs.key).nunique, 0);
}

TEST(MergeWalkCollaps, RunsBecomeWeightedMeans) {
  Fixture f({{{1, 1, 1, 7.0f, 1.0f}},
             {{1, 0, 0, 20.0f, 2.0f}, {-1, 0, 0, 10.0f, 1.0f}, {1, 0, 0, 40.0f, 2.0f},
              {2, 1, 0, 5.0f, 0.5f}, {3, 1, 1, 8.0f, -1.0f}}});
  const ObservationList before = f.obs;
  const int64_t n = collaps(f.obs, f.blocks[1]);
  const auto s = static_cast<size_t>(f.blocks[1].start);
  ASSERT_EQ(std::make_pair(n, s), std::make_pair(int64_t{3}, size_t{2}));
  // Keys of the runs' first records, the sentinel; inverse-variance means, zeroed positions.
  const std::vector<ReflKey> keys = {before.key[s], before.key[s + 3], before.key[s + 4], ReflKey::end_marker()};
  EXPECT_EQ(std::vector<ReflKey>(f.obs.key.begin() + 2, f.obs.key.begin() + 6), keys);
  EXPECT_NEAR(f.obs.intensity[s], (10.0 + 20.0 / 4 + 40.0 / 4) / 1.5, 1e-5);
  EXPECT_NEAR(f.obs.sigma[s], 1.0 / std::sqrt(1.5), 1e-6);
  EXPECT_EQ(f.obs.pos[s], Position{});
  EXPECT_EQ(std::make_pair(f.obs.intensity[s + 1], f.obs.sigma[s + 1]), std::make_pair(5.0f, 0.5f));
  EXPECT_EQ(f.obs.sigma[s + 2], -1.0f) << "a run without a usable sigma stays unusable";
  EXPECT_EQ(std::make_pair(f.obs.intensity[s + 3], f.obs.sigma[s + 3]), std::make_pair(0.0f, -1.0f))
      << "sentinel record";
  EXPECT_EQ(std::make_pair(f.obs.key[0], f.obs.intensity[0]), std::make_pair(before.key[0], 7.0f)) << "other data sets untouched";
  f.blocks[1].nrec = n;  // the shortened block walks like any other
  const UniqueCount c = nhklu(f.blocks, f.obs.key);
  EXPECT_EQ(std::make_pair(c.nunique, c.max_observations), std::make_pair(int64_t{4}, 1));
}

}  // namespace
}  // namespace velmar::symtest
