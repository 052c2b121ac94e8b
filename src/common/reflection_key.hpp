// The reflection key: reduced indices and the signed number of the reducing operator.
#pragma once

#include <cstdint>
#include <cstring>

namespace velmar {

// h, k, l of the asymmetric-unit representative and isym = +-n, n the 1-based number of the
// operator that produced it (negative for the Friedel mate). h = kEndMarkerH ends a sorted list.
struct ReflKey {
  int16_t h = 0, k = 0, l = 0, isym = 0;

  // The four fields as one little-endian 64-bit integer: the hash key.
  int64_t packed() const {
    uint64_t u = static_cast<uint16_t>(h) | static_cast<uint64_t>(static_cast<uint16_t>(k)) << 16 |
                 static_cast<uint64_t>(static_cast<uint16_t>(l)) << 32 |
                 static_cast<uint64_t>(static_cast<uint16_t>(isym)) << 48;
    int64_t s;
    std::memcpy(&s, &u, sizeof s);
    return s;
  }
  bool is_end_marker() const { return h == kEndMarkerH; }
  bool same_hkl(const ReflKey& o) const { return h == o.h && k == o.k && l == o.l; }

  static constexpr int16_t kEndMarkerH = 32767;
  static ReflKey end_marker() { return ReflKey{kEndMarkerH, 0, 0, 0}; }
};

// Ascending order of the four fields compared in turn as signed integers.
inline bool key_less(const ReflKey& a, const ReflKey& b) {
  if (a.h != b.h) return a.h < b.h;
  if (a.k != b.k) return a.k < b.k;
  if (a.l != b.l) return a.l < b.l;
  return a.isym < b.isym;
}

inline bool operator==(const ReflKey& a, const ReflKey& b) {
  return a.h == b.h && a.k == b.k && a.l == b.l && a.isym == b.isym;
}

}  // namespace velmar
