// Fortran edit descriptors I, F, E, ES and A for fixed-column output.
#include "common/fortran_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
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

void put_exponent_form(std::string& s, double v, int w, int d, bool scientific) {
  if (!std::isfinite(v)) {
    put_special(s, v, w);
    return;
  }
  if (d < 0) d = 0;
  const int ndig = scientific ? d + 1 : (d > 0 ? d : 1);
  Digits g = significant_digits(v, ndig);
  int e = scientific ? g.exp10 - 1 : g.exp10;
  if (v == 0.0) e = 0;
  std::string body;
  if (std::signbit(v)) body += '-';
  const size_t mantissa_start = body.size();
  if (scientific) {
    body += g.d[0];
    body += '.';
    body.append(g.d + 1, static_cast<size_t>(d));
  } else {
    body += "0.";
    body.append(g.d, static_cast<size_t>(d));
  }
  const int ae = std::abs(e);
  if (ae > 999) {
    put_stars(s, w);
    return;
  }
  char exp[8];
  if (ae <= 99)
    std::snprintf(exp, sizeof exp, "E%c%02d", e < 0 ? '-' : '+', ae);
  else
    std::snprintf(exp, sizeof exp, "%c%03d", e < 0 ? '-' : '+', ae);
  body += exp;
  if (!scientific && static_cast<int>(body.size()) > w && body[mantissa_start] == '0')
    body.erase(mantissa_start, 1);  // the optional leading zero goes first
  put_right(s, body, w);
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
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed, d);
  if (r.ec != std::errc()) {
    put_stars(s, w);
    return;
  }
  std::string_view digits(buf, static_cast<size_t>(r.ptr - buf));
  std::string body;
  if (std::signbit(v)) body += '-';
  if (d == 0) {
    body.append(digits);
    body += '.';
  } else if (digits.size() > static_cast<size_t>(d) + 1 && digits[0] == '0' && digits[1] == '.') {
    // |v| < 1: the zero before the point is printed only when the field has room for it.
    if (static_cast<int>(body.size() + digits.size()) > w) digits.remove_prefix(1);
    body.append(digits);
  } else {
    body.append(digits);
  }
  put_right(s, body, w);
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

}  // namespace velmar
