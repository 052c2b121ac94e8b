// The key hash table: probe sequence, full tables, rebuilding after deletion and the
// consistency stops.
#include "symmetry/hash64.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/error.hpp"

namespace velmar {
namespace {

std::string stop_text(auto&& f) {
  try {
    f();
  } catch (const VelmarError& e) {
    return e.what();
  }
  return "no stop";
}

// Every empty slot names a distinct free record, and the free records are exactly those
// holding key 0.
void expect_free_records_paired(const HashTable64& t) {
  std::set<int> named;
  for (int s = 1; s <= t.n; ++s) {
    if (t.ptr[static_cast<size_t>(s)] > 0) continue;
    const int j = -t.ptr[static_cast<size_t>(s)];
    ASSERT_GE(j, 1);
    ASSERT_LE(j, t.n);
    EXPECT_EQ(t.key[static_cast<size_t>(j)], 0) << "slot " << s << " names a used record";
    EXPECT_TRUE(named.insert(j).second) << "record " << j << " named twice";
  }
  const auto free = std::count(t.key.begin() + 1, t.key.end(), 0);
  EXPECT_EQ(static_cast<long>(named.size()), free);
}

TEST(Hash64Probing, CollidingKeysTakeQuadraticOffsets) {
  HashTable64 t = new_hash_table(11);
  // Keys 3, 14, 25, 36, 47 share the residue 3 (home slot 4): offsets 0, 1, 4, 9, 16.
  const std::vector<int> expected_slots = {4, 5, 8, 13 - 11, 20 - 11};
  for (size_t i = 0; i < expected_slots.size(); ++i) {
    const int64_t key = 3 + 11 * static_cast<int64_t>(i);
    const int s = hash64(t.n, t.key, t.ptr, key);
    ASSERT_EQ(s, expected_slots[i]) << "key " << key;
    EXPECT_LT(t.ptr[static_cast<size_t>(s)], 0);
    EXPECT_GT(hash64_insert(t, key), 0);
  }
  for (size_t i = 0; i < expected_slots.size(); ++i) {
    const int64_t key = 3 + 11 * static_cast<int64_t>(i);
    const int s = hash64(t.n, t.key, t.ptr, key);
    EXPECT_EQ(s, expected_slots[i]);
    EXPECT_EQ(t.key[static_cast<size_t>(t.ptr[static_cast<size_t>(s)])], key);
  }
  // The probe sequence of residue 3 is used up: a sixth colliding key gets slot 0, while
  // other residues still find room. Negative keys hash by their non-negative residue.
  EXPECT_EQ(hash64(t.n, t.key, t.ptr, 58), 0);
  EXPECT_EQ(hash64_insert(t, 58), 0);
  EXPECT_EQ(hash64(t.n, t.key, t.ptr, -8), 0);
  EXPECT_EQ(hash64(t.n, t.key, t.ptr, 7), 1);  // home slot 8 and slot 9 taken, 8 + 4 wraps to 1
  EXPECT_GT(hash64_insert(t, 7), 0);
  EXPECT_EQ(hash64_find(t, 7), t.ptr[1]);
  EXPECT_EQ(hash64_find(t, 58), 0);
  expect_free_records_paired(t);
}

TEST(Hash64Probing, EmptyAndFullTables) {
  HashTable64 t = new_hash_table(7);
  for (int s = 1; s <= 7; ++s) EXPECT_EQ(t.ptr[static_cast<size_t>(s)], -s);
  expect_free_records_paired(t);
  EXPECT_EQ(rehash64(t.n, t.key, t.ptr), 0);
  expect_free_records_paired(t);
  // Keys 1..7 fill their home slots 2..7, 1, each slot's own free record; with every slot
  // taken no other key fits.
  auto home = [](int64_t key) { return static_cast<int>(key % 7) + 1; };
  for (int64_t key = 1; key <= 7; ++key) EXPECT_EQ(hash64_insert(t, key), home(key)) << key;
  for (int s = 1; s <= 7; ++s) EXPECT_GT(t.ptr[static_cast<size_t>(s)], 0);
  for (int64_t key = 8; key <= 100; ++key) EXPECT_EQ(hash64(t.n, t.key, t.ptr, key), 0) << key;
  for (int64_t key = 1; key <= 7; ++key) EXPECT_EQ(hash64_find(t, key), home(key));
  EXPECT_EQ(rehash64(t.n, t.key, t.ptr), 7);
  for (int64_t key = 1; key <= 7; ++key) EXPECT_EQ(hash64_find(t, key), home(key));
}

TEST(Hash64Rebuild, DeletionThenRebuildKeepsTheOthers) {
  HashTable64 t = new_hash_table(9973);
  std::mt19937_64 rng(7);
  std::set<int64_t> stored;
  while (stored.size() < 4985) {
    const auto key = static_cast<int64_t>(rng() >> 2) | 1;
    ASSERT_GT(hash64_insert(t, key), 0);
    stored.insert(key);
  }
  const std::vector<int64_t> all(stored.begin(), stored.end());
  for (size_t i = 0; i < all.size(); i += 3) {
    t.key[static_cast<size_t>(hash64_find(t, all[i]))] = 0;
    stored.erase(all[i]);
  }
  EXPECT_EQ(rehash64(t.n, t.key, t.ptr), static_cast<int>(stored.size()));
  for (size_t i = 0; i < all.size(); ++i) {
    const int j = hash64_find(t, all[i]);
    if (i % 3 == 0) {
      EXPECT_EQ(j, 0);
    } else {
      ASSERT_GT(j, 0);
      EXPECT_EQ(t.key[static_cast<size_t>(j)], all[i]);
    }
  }
  expect_free_records_paired(t);
}

TEST(Hash64Rebuild, OverfullTableAsksForEnlargement) {
  // N = 11: records 1..5 fill the probe sequence of residue 3, record 6 another slot.
  std::vector<int64_t> key(12, 0);
  std::vector<int32_t> ptr(12, 0);
  for (int i = 0; i < 5; ++i) key[static_cast<size_t>(i + 1)] = 3 + 11 * i;
  key[6] = 1;
  key[7] = 58;  // sixth key of residue 3: no slot left, with 6 >= 11/2 stored
  EXPECT_EQ(rehash64(11, key, ptr), 12);
  key[6] = 0;   // only 5 stored when it fails: the table is not half full
  EXPECT_EQ(stop_text([&] { rehash64(11, key, ptr); }), " ASSERT ERROR 2 IN SUBROUTINE REHASH64");
}

TEST(Hash64Rebuild, ConsistencyStops) {
  std::vector<int64_t> key(8, 0);
  std::vector<int32_t> ptr(8, 0);
  key[2] = -5;
  EXPECT_EQ(stop_text([&] { rehash64(7, key, ptr); }), " ASSERT ERROR 1 IN SUBROUTINE REHASH64");
  key[2] = 12;
  key[5] = 12;
  EXPECT_EQ(stop_text([&] { rehash64(7, key, ptr); }), " ASSERT ERROR 3 IN SUBROUTINE REHASH64");
  key[5] = 0;
  ASSERT_EQ(rehash64(7, key, ptr), 1);
  ptr[6] = 0;  // damage slot 6, home of 12 and of 5
  EXPECT_EQ(stop_text([&] { hash64(7, key, ptr, 5); }), " !!! FATAL ASSERT ERROR IN SUBROUTINE \"HASH64\"");
  EXPECT_EQ(stop_text([&] { hash64(7, key, std::span<const int32_t>(ptr).first(5), 5); }),
            " !!! FATAL ASSERT ERROR IN SUBROUTINE \"HASH64\"");
}

}  // namespace
}  // namespace velmar
