// Open-addressing hash table of 64-bit reflection keys with quadratic probing.
//
// A table of size N (a prime, chosen by the caller) consists of N records and N slots.
// Both are numbered 1..N; the vectors are of length N+1 and element 0 is not used.
//   key[j]  64-bit key stored in record j, 0 when the record is free;
//   ptr[s]  > 0: number of the record stored under slot s;
//           < 0: slot s is empty and -ptr[s] is the free record an insertion here uses.
// Deletion is by zeroing key[j] and rebuilding with rehash64.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velmar {

// Slot of `key`: ptr[s] > 0 when the key is stored in record ptr[s], ptr[s] < 0 when it is
// absent (insert it into record -ptr[s] and set ptr[s] to that record). 0 when the probe
// sequence is exhausted without meeting the key or an empty slot (table full).
int hash64(int n, std::span<const int64_t> key, std::span<const int32_t> ptr, int64_t k);

// Rebuilds ptr from key and pairs every empty slot with its own free record. Returns the
// number of stored keys, or n+1 when a key found no slot in a table that is at least half
// full (the caller must enlarge the table).
int rehash64(int n, std::span<const int64_t> key, std::span<int32_t> ptr);

// A table with its storage, for callers that keep one together.
struct HashTable64 {
  int n = 0;
  std::vector<int64_t> key;  // key[1..n]
  std::vector<int32_t> ptr;  // ptr[1..n]
};

// An empty table of size n (> 0).
HashTable64 new_hash_table(int n);

// Stores k (non-zero) unless present. Returns the record number holding it, or 0 when the
// table is full.
int hash64_insert(HashTable64& t, int64_t k);

// Record number holding k, or 0 when absent.
int hash64_find(const HashTable64& t, int64_t k);

}  // namespace velmar
