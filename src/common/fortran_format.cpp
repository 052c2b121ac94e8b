// Fortran edit descriptors I, F, E, ES and A for fixed-column output.
#include "common/fortran_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace velmar {
namespace {

void put_stars(std::string& s, int w) { s.append(static_cast<size_t>(w > 0 ? w : 0), '*'); }

void put_right(std::string& s, std::string_view body, int w) {
  if (static_cast<int>(body.size()) > w) {
    put_stars(s, w);
    return;
  }
  s.append(static_cast<size_t>(w) - body.size(), ' ');
  s.append(body);
}

// Infinity and NaN as the Fortran runtime prints them in a numeric field.
void put_special(std::string& s, double v, int w) {
  if (std::isnan(v)) {
    put_right(s, "NaN", w);
    return;
  }
  const bool neg = std::signbit(v);
  if (w >= (neg ? 9 : 8))
    put_right(s, neg ? "-Infinity" : "Infinity", w);
  else
    put_right(s, neg ? "-Inf" : "Inf", w);
}

// Decimal digits and exponent of |v| rounded to n significant digits:
// |v| ~= 0.d1d2...dn x 10^exp10.
struct Digits {
  char d[40];
  int n;
  int exp10;
};

Digits significant_digits(double v, int n) {
  Digits out{};
  out.n = n;
  if (v == 0.0) {
    for (int i = 0; i < n; ++i) out.d[i] = '0';
    out.exp10 = 0;
    return out;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, n - 1);
  // buf holds d[.ddd]e[+-]xx
  const char* p = buf;
  int k = 0;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') out.d[k++] = *p;
  int e = 0;
  const char* q = p + 1;
  if (q < r.ptr && *q == '+') ++q;
  std::from_chars(q, r.ptr, e);
  out.exp10 = e + 1;
  return out;
}

// Powers of ten that are exact in double precision.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxPow10 = 22;

// Distance from a half-integer below which the fast paths defer to the exact conversion.
// The scaled values they round stay below 1e9 and carry one rounding of at most 2^-53
// relative, so a larger distance decides the rounding exactly as the exact conversion does.
constexpr double kTieGuard = 1e-6;

// Rounds y (0 <= y < 1e9) half to even into q; false when y is too close to a tie.
bool round_clear_of_tie(double y, long long& q) {
  q = static_cast<long long>(y);
  const double frac = y - static_cast<double>(q);
  if (std::fabs(frac - 0.5) < kTieGuard) return false;
  if (frac > 0.5) ++q;
  return true;
}

// |v| * 10^p with one rounding; false when 10^|p| is not exact.
bool scale10(double a, int p, double& y) {
  if (p > kMaxPow10 || p < -kMaxPow10) return false;
  y = p >= 0 ? a * kPow10[p] : a / kPow10[-p];
  return true;
}

// The fast form of significant_digits for n <= 9 digits of a finite nonzero v: scales |v|
// into [10^(n-1), 10^n) and rounds half to even. False when the result could differ from
// the exact conversion (near ties and decade limits, extreme exponents).
bool fast_significant_digits(double v, int n, Digits& out) {
  if (n < 1 || n > 9 || !std::isnormal(v)) return false;
  const double a = std::fabs(v);
  int be = 0;
  std::frexp(a, &be);  // a in [2^(be-1), 2^be): the decimal exponent is this or one more
  int e = static_cast<int>(std::floor((be - 1) * 0.30102999566398120));
  const double lo = kPow10[n - 1], hi = kPow10[n];
  double y = 0.0;
  if (!scale10(a, n - 1 - e, y)) return false;
  if (y < lo) {
    --e;
    if (!scale10(a, n - 1 - e, y)) return false;
  } else if (y >= hi) {
    ++e;
    if (!scale10(a, n - 1 - e, y)) return false;
  }
  long long q = 0;
  if (y < lo || y >= hi || y - lo < kTieGuard || !round_clear_of_tie(y, q)) return false;
  if (q >= static_cast<long long>(hi)) {
    q /= 10;
    ++e;
  }
  for (int i = n - 1; i >= 0; --i, q /= 10) out.d[i] = static_cast<char>('0' + q % 10);
  out.n = n;
  out.exp10 = e + 1;
  return true;
}

// Appends "E+dd" or, for three-digit exponents, "+ddd".
char* put_exponent_digits(char* p, int e) {
  const int ae = std::abs(e);
  if (ae <= 99) *p++ = 'E';
  *p++ = e < 0 ? '-' : '+';
  if (ae > 99) *p++ = static_cast<char>('0' + ae / 100);
  *p++ = static_cast<char>('0' + ae / 10 % 10);
  *p++ = static_cast<char>('0' + ae % 10);
  return p;
}

void put_exponent_form(std::string& s, double v, int w, int d, bool scientific) {
  if (!std::isfinite(v)) {
    put_special(s, v, w);
    return;
  }
  if (d < 0) d = 0;
  const int ndig = scientific ? d + 1 : (d > 0 ? d : 1);
  if (ndig > 39) {  // beyond the digit buffer; no field of the program comes near it
    put_stars(s, w);
    return;
  }
  Digits g{};
  if (!fast_significant_digits(v, ndig, g)) g = significant_digits(v, ndig);
  int e = scientific ? g.exp10 - 1 : g.exp10;
  if (v == 0.0) e = 0;
  if (std::abs(e) > 999) {
    put_stars(s, w);
    return;
  }
  char body[48];
  char* p = body;
  if (std::signbit(v)) *p++ = '-';
  char* const mantissa = p;
  if (scientific) {
    *p++ = g.d[0];
    *p++ = '.';
    for (int i = 1; i <= d; ++i) *p++ = g.d[i];
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < d; ++i) *p++ = g.d[i];
  }
  p = put_exponent_digits(p, e);
  std::string_view text(body, static_cast<size_t>(p - body));
  if (!scientific && static_cast<int>(text.size()) > w) {  // the optional leading zero goes first
    std::memmove(mantissa, mantissa + 1, static_cast<size_t>(p - mantissa - 1));
    text.remove_suffix(1);
  }
  put_right(s, text, w);
}

// Fw.d digits of |v| (d > 0: "i.fff", d = 0: "i") from an integer rounding of |v| 10^d;
// false when that could differ from the exact conversion. Returns the length in `len`.
bool fast_fixed_digits(double a, int d, char* buf, size_t& len) {
  if (d > 8) return false;
  const double y = a * kPow10[d];
  long long q = 0;
  if (!(y < 1e9) || !round_clear_of_tie(y, q)) return false;
  char frac[8];
  for (int i = d - 1; i >= 0; --i, q /= 10) frac[i] = static_cast<char>('0' + q % 10);
  auto r = std::to_chars(buf, buf + 16, q);
  char* p = r.ptr;
  if (d > 0) {
    *p++ = '.';
    for (int i = 0; i < d; ++i) *p++ = frac[i];
  }
  len = static_cast<size_t>(p - buf);
  return true;
}

}  // namespace

void put_i(std::string& s, long long v, int w) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  put_right(s, std::string_view(buf, static_cast<size_t>(r.ptr - buf)), w);
}

void put_f(std::string& s, double v, int w, int d) {
  if (!std::isfinite(v)) {
    put_special(s, v, w);
    return;
  }
  if (d < 0) d = 0;
  char buf[400];
  size_t n = 0;
  if (!fast_fixed_digits(std::fabs(v), d, buf, n)) {
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed, d);
    if (r.ec != std::errc()) {
      put_stars(s, w);
      return;
    }
    n = static_cast<size_t>(r.ptr - buf);
  }
  std::string_view digits(buf, n);
  char body[416];
  size_t len = 0;
  if (std::signbit(v)) body[len++] = '-';
  if (d > 0 && digits.size() > static_cast<size_t>(d) + 1 && digits[0] == '0' && digits[1] == '.' &&
      static_cast<int>(len + digits.size()) > w)
    digits.remove_prefix(1);  // |v| < 1: the zero before the point only when the field has room
  std::memcpy(body + len, digits.data(), digits.size());
  len += digits.size();
  if (d == 0) body[len++] = '.';
  put_right(s, std::string_view(body, len), w);
}

void put_e(std::string& s, double v, int w, int d) { put_exponent_form(s, v, w, d, false); }

void put_es(std::string& s, double v, int w, int d) { put_exponent_form(s, v, w, d, true); }

void put_a(std::string& s, std::string_view t, int w) {
  if (static_cast<int>(t.size()) >= w) {
    s.append(t.substr(0, static_cast<size_t>(w)));
  } else {
    s.append(static_cast<size_t>(w) - t.size(), ' ');
    s.append(t);
  }
}

void put_char(std::string& s, std::string_view t, int len) {
  const size_t n = static_cast<size_t>(len > 0 ? len : 0);
  s.append(t.substr(0, n));
  if (t.size() < n) s.append(n - t.size(), ' ');
}

void put_x(std::string& s, int n) { s.append(static_cast<size_t>(n > 0 ? n : 0), ' '); }

std::string fmt_i(long long v, int w) { std::string s; put_i(s, v, w); return s; }
std::string fmt_f(double v, int w, int d) { std::string s; put_f(s, v, w, d); return s; }
std::string fmt_e(double v, int w, int d) { std::string s; put_e(s, v, w, d); return s; }
std::string fmt_es(double v, int w, int d) { std::string s; put_es(s, v, w, d); return s; }
std::string fmt_a(std::string_view t, int w) { std::string s; put_a(s, t, w); return s; }
std::string fmt_char(std::string_view t, int len) { std::string s; put_char(s, t, len); return s; }

}  // namespace velmar
