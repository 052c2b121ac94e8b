#include "symmetry/asym.hpp"

#include <cmath>

namespace velmar {

namespace {

// (h,k,l) carried by the rotation part of an operator (row vector times matrix) and the
// phase shift in twelfths of a cycle.
struct Image {
  int h, k, l, phase;
};

Image apply(const Symop& m, int h, int k, int l) {
  return {m[0] * h + m[4] * k + m[8] * l, m[1] * h + m[5] * k + m[9] * l,
          m[2] * h + m[6] * k + m[10] * l, m[3] * h + m[7] * k + m[11] * l};
}

bool same(const Image& a, int h, int k, int l) { return a.h == h && a.k == k && a.l == l; }
bool opposite(const Image& a, int h, int k, int l) { return a.h == -h && a.k == -k && a.l == -l; }

// True when (h1,k1,l1,n1) is lexicographically greater than (h0,k0,l0,n0).
bool greater(int h1, int k1, int l1, int n1, int h0, int k0, int l0, int n0) {
  if (h1 != h0) return h1 > h0;
  if (k1 != k0) return k1 > k0;
  if (l1 != l0) return l1 > l0;
  return n1 > n0;
}

}  // namespace

ReflKey iasym(int h, int k, int l, std::span<const Symop> ops) {
  int bh = h, bk = k, bl = l, bn = 1;
  for (size_t n = 0; n < ops.size(); ++n) {
    const Image r = apply(ops[n], h, k, l);
    const int num = static_cast<int>(n) + 1;
    if (greater(-r.h, -r.k, -r.l, -num, bh, bk, bl, bn)) {
      bh = -r.h, bk = -r.k, bl = -r.l, bn = -num;
    }
    if (greater(r.h, r.k, r.l, num, bh, bk, bl, bn)) {
      bh = r.h, bk = r.k, bl = r.l, bn = num;
    }
  }
  return ReflKey{static_cast<int16_t>(bh), static_cast<int16_t>(bk), static_cast<int16_t>(bl),
                 static_cast<int16_t>(bn)};
}

int hkltyp(std::span<const Symop> ops, int h, int k, int l) {
  int code = 0;
  for (const Symop& m : ops) {
    const Image r = apply(m, h, k, l);
    if (same(r, h, k, l) && r.phase % 12 != 0) return -1;
    if (opposite(r, h, k, l)) {
      code = 15 * (r.phase % 12);
      if (code < 1) code += 180;
    }
  }
  return code;
}

int sysabs(int h, int k, int l, std::span<const Symop> ops) {
  int count = 0;
  for (const Symop& m : ops) {
    const Image r = apply(m, h, k, l);
    if (!same(r, h, k, l)) continue;
    if (r.phase % 12 != 0) return -1;
    ++count;
  }
  return count;
}

int genabs(int centring, int h, int k, int l) {
  auto odd = [](int v) { return v % 2 != 0; };
  switch (centring) {
    case 1: return odd(h + k) ? 1 : 0;
    case 2: return odd(h + l) ? 1 : 0;
    case 3: return odd(k + l) ? 1 : 0;
    case 4: return odd(h + k + l) ? 1 : 0;
    case 5: return (-h + k + l) % 3 != 0 ? 1 : 0;
    case 6: return odd(h + k) || odd(h + l) ? 1 : 0;
    default: return 0;
  }
}

AnomalousPair u2ano(int cls, float i, float sigma, float d, float v) {
  AnomalousPair p;
  if (v > 0.0f) {
    const float s = std::sqrt(sigma * sigma + 0.25f * v * v);
    p = {i + 0.5f * d, s, i - 0.5f * d, s};
  } else if (v == 0.0f) {
    if (cls >= 1) p = {i, sigma, 0.0f, 0.0f};
  } else if (d < 0.0f) {
    p.i_minus = i, p.sigma_minus = sigma;
  } else if (d > 0.0f) {
    p.i_plus = i, p.sigma_plus = sigma;
  }
  return p;
}

}  // namespace velmar
