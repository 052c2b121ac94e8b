#include "symmetry/hash64.hpp"

#include <string>

#include "common/error.hpp"

namespace velmar {

namespace {

[[noreturn]] void hash64_fault() { stop_verbatim(" !!! FATAL ASSERT ERROR IN SUBROUTINE \"HASH64\""); }

[[noreturn]] void rehash64_fault(int n) {
  stop_verbatim(" ASSERT ERROR " + std::to_string(n) + " IN SUBROUTINE REHASH64");
}

bool storage_fits(int n, size_t nkey, size_t nptr) {
  return n >= 1 && nkey > static_cast<size_t>(n) && nptr > static_cast<size_t>(n);
}

// Home slot of a key: its residue modulo n in 0..n-1, plus 1.
int home_slot(int n, int64_t k) {
  int64_t r = k % n;
  if (r < 0) r += n;
  return static_cast<int>(r) + 1;
}

}  // namespace

int hash64(int n, std::span<const int64_t> key, std::span<const int32_t> ptr, int64_t k) {
  if (!storage_fits(n, key.size(), ptr.size())) hash64_fault();
  int s = home_slot(n, k);
  int d = 1;
  for (;;) {
    const int32_t p = ptr[static_cast<size_t>(s)];
    if (p < 0) return s;
    if (p == 0 || p > n) hash64_fault();
    if (key[static_cast<size_t>(p)] == k) return s;
    s += d;
    if (s > n) s -= n;
    d += 2;
    if (d >= n) return 0;
  }
}

int rehash64(int n, std::span<const int64_t> key, std::span<int32_t> ptr) {
  if (!storage_fits(n, key.size(), ptr.size())) hash64_fault();
  for (int s = 1; s <= n; ++s) ptr[static_cast<size_t>(s)] = -1;
  int count = 0;
  for (int j = 1; j <= n; ++j) {
    const int64_t k = key[static_cast<size_t>(j)];
    if (k == 0) continue;
    if (k < 0) rehash64_fault(1);
    const int s = hash64(n, key, ptr, k);
    if (s == 0) {
      if (n <= 2 * count) return n + 1;
      rehash64_fault(2);
    }
    if (ptr[static_cast<size_t>(s)] > 0) rehash64_fault(3);
    ptr[static_cast<size_t>(s)] = j;
    ++count;
  }
  int s = 1;
  for (int j = 1; j <= n; ++j) {
    if (key[static_cast<size_t>(j)] != 0) continue;
    while (s <= n && ptr[static_cast<size_t>(s)] > 0) ++s;
    if (s > n) rehash64_fault(4);
    ptr[static_cast<size_t>(s)] = -j;
    ++s;
  }
  return count;
}

HashTable64 new_hash_table(int n) {
  if (n < 1) hash64_fault();
  HashTable64 t;
  t.n = n;
  t.key.assign(static_cast<size_t>(n) + 1, 0);
  t.ptr.assign(static_cast<size_t>(n) + 1, 0);
  rehash64(n, t.key, t.ptr);
  return t;
}

int hash64_insert(HashTable64& t, int64_t k) {
  const int s = hash64(t.n, t.key, t.ptr, k);
  if (s == 0) return 0;
  int32_t& p = t.ptr[static_cast<size_t>(s)];
  if (p < 0) {
    p = -p;
    t.key[static_cast<size_t>(p)] = k;
  }
  return p;
}

int hash64_find(const HashTable64& t, int64_t k) {
  const int s = hash64(t.n, t.key, t.ptr, k);
  if (s == 0) return 0;
  const int32_t p = t.ptr[static_cast<size_t>(s)];
  return p > 0 ? p : 0;
}

}  // namespace velmar
