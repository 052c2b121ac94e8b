#include "symmetry/qsort.hpp"

#include <algorithm>
#include <bit>
#include <tuple>
#include <utility>

#include "common/error.hpp"

namespace velmar {

namespace {

constexpr int kStackSize = 32;

// Sorts positions 0..n-1 of a list. Access provides key(i), a value ordered by operator<,
// and swap(i, j), which exchanges two records together with their companions.
// Partitioning runs from both ends around the key of the middle record; the larger part
// goes on the stack and the smaller one is sorted next, so 32 entries cover any list.
template <typename Access>
void quicksort(int64_t n, const Access& acc, const char* overflow_message) {
  std::array<std::pair<int64_t, int64_t>, kStackSize> stack;
  int top = 0;
  auto push = [&](int64_t first, int64_t last) {
    if (top == kStackSize) stop_verbatim(overflow_message);
    stack[static_cast<size_t>(top++)] = {first, last};
  };
  int64_t lo = 0, hi = n - 1;
  for (;;) {
    while (lo < hi) {
      const auto pivot = acc.key((lo + hi) / 2);
      int64_t i = lo, j = hi;
      do {
        while (acc.key(i) < pivot) ++i;
        while (pivot < acc.key(j)) --j;
        if (i <= j) {
          if (i < j) acc.swap(i, j);
          ++i;
          --j;
        }
      } while (i <= j);
      if (j - lo < hi - i) {
        if (i < hi) push(i, hi);
        hi = j;
      } else {
        if (lo < j) push(lo, j);
        lo = i;
      }
    }
    if (top == 0) return;
    std::tie(lo, hi) = stack[static_cast<size_t>(--top)];
  }
}

// The four key fields as one unsigned integer whose order is that of the signed fields
// compared in turn: h in the top 16 bits, isym in the lowest, each biased by 2^15.
// The sort rewrites every record in place into this form, sorts the integers and turns
// them back, so a comparison costs one load.
static_assert(sizeof(ReflKey) == sizeof(uint64_t));

inline uint64_t ordered_key(const ReflKey& r) {
  auto biased = [](int16_t v) { return static_cast<uint64_t>(static_cast<uint16_t>(v) ^ 0x8000u); };
  return biased(r.h) << 48 | biased(r.k) << 32 | biased(r.l) << 16 | biased(r.isym);
}

inline ReflKey key_of_ordered(uint64_t u) {
  auto field = [u](int shift) {
    return static_cast<int16_t>(static_cast<uint16_t>((u >> shift) & 0xFFFFu) ^ 0x8000u);
  };
  return ReflKey{field(48), field(32), field(16), field(0)};
}

void encode_key(ReflKey& r) { r = std::bit_cast<ReflKey>(ordered_key(r)); }
void decode_key(ReflKey& r) { r = key_of_ordered(std::bit_cast<uint64_t>(r)); }

// Records of qsorta (keys already in ordered form) with NCOL companion columns; NCOL < 0
// means a run-time column count.
template <int NCOL>
struct KeyRecords {
  ReflKey* rec;
  float* a;
  float* b;
  float* x;
  int64_t ncol;

  uint64_t key(int64_t i) const { return std::bit_cast<uint64_t>(rec[i]); }
  void swap(int64_t i, int64_t j) const {
    std::swap(rec[i], rec[j]);
    std::swap(a[i], a[j]);
    std::swap(b[i], b[j]);
    const int64_t nc = NCOL >= 0 ? NCOL : ncol;
    std::swap_ranges(x + i * nc, x + (i + 1) * nc, x + j * nc);
  }
};

// Whole 32-byte observations whose keys are in ordered form.
struct PackedRecords {
  PackedObservation* rec;

  uint64_t key(int64_t i) const { return std::bit_cast<uint64_t>(rec[i].key); }
  void swap(int64_t i, int64_t j) const { std::swap(rec[i], rec[j]); }
};

struct RealRecords {
  std::array<float, 4>* r4;
  std::array<int16_t, 3>* r3;  // null when nothing is carried
  float sign;
  size_t field;

  float key(int64_t i) const { return sign * r4[i][field]; }
  void swap(int64_t i, int64_t j) const {
    std::swap(r4[i], r4[j]);
    if (r3 != nullptr) std::swap(r3[i], r3[j]);
  }
};

}  // namespace

void qsorta(std::span<ReflKey> rec, std::span<float> a, std::span<float> b, std::span<float> x,
            int ncol) {
  const size_t n = rec.size();
  if (a.size() != n || b.size() != n || ncol < 0 || x.size() != n * static_cast<size_t>(ncol)) {
    assert_violation("QSORTA");
  }
  if (n < 2) return;
  const char* overflow = " STACK OVERFLOW IN \"QSORTA\"";
  const auto count = static_cast<int64_t>(n);
  for (ReflKey& r : rec) encode_key(r);
  if (ncol == 4) {
    quicksort(count, KeyRecords<4>{rec.data(), a.data(), b.data(), x.data(), 4}, overflow);
  } else if (ncol == 0) {
    quicksort(count, KeyRecords<0>{rec.data(), a.data(), b.data(), x.data(), 0}, overflow);
  } else {
    quicksort(count, KeyRecords<-1>{rec.data(), a.data(), b.data(), x.data(), ncol}, overflow);
  }
  for (ReflKey& r : rec) decode_key(r);
}

void qsorta(std::span<PackedObservation> rec) {
  if (rec.size() < 2) return;
  for (PackedObservation& r : rec) encode_key(r.key);
  quicksort(static_cast<int64_t>(rec.size()), PackedRecords{rec.data()}, " STACK OVERFLOW IN \"QSORTA\"");
  for (PackedObservation& r : rec) decode_key(r.key);
}

void qsortb(int sign, std::span<std::array<float, 4>> r4, int field,
            std::span<std::array<int16_t, 3>> r3) {
  if (field < 1 || field > 4 || (!r3.empty() && r3.size() != r4.size())) {
    assert_violation("QSORTB");
  }
  if (r4.size() < 2) return;
  const RealRecords records{r4.data(), r3.empty() ? nullptr : r3.data(), static_cast<float>(sign),
                            static_cast<size_t>(field - 1)};
  quicksort(static_cast<int64_t>(r4.size()), records, " STACK OVERFLOW IN \"QSORTB\" ");
}

}  // namespace velmar
