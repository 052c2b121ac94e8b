// The numbers of one data line of a text reflection file.
#include "input/line_values.hpp"

#include <cstdint>
#include <span>

#include "common/free_format.hpp"

namespace velmar {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int split_blank_runs(std::string_view line, std::array<std::string_view, kMaxLineValues>& runs) {
  const char* p = line.data();
  const char* const end = p + line.size();
  int n = 0;
  while (n < kMaxLineValues) {
    while (p < end && is_blank(*p)) ++p;
    if (p == end) break;
    const char* b = p;
    while (p < end && !is_blank(*p)) ++p;
    runs[static_cast<size_t>(n++)] = std::string_view(b, static_cast<size_t>(p - b));
  }
  return n;
}

constexpr float kPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                  1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr int kMaxExactPower = 10;
constexpr uint64_t kMaxExactMantissa = uint64_t{1} << 24;

// Digits d...d[.d...d][E[+-]dd] with a mantissa of at most 2^24 and a power of ten of at
// most 10 in magnitude: both are exact floats, so one multiplication or division gives the
// correctly rounded value. False for every other form.
bool read_short_decimal(std::string_view f, float& v) {
  const char* p = f.data();
  const char* const end = p + f.size();
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  uint64_t mantissa = 0;
  int digits = 0, fraction = 0;
  for (; p < end && is_digit(*p); ++p, ++digits) mantissa = mantissa * 10 + uint64_t(*p - '0');
  if (p < end && *p == '.')
    for (++p; p < end && is_digit(*p); ++p, ++digits, ++fraction)
      mantissa = mantissa * 10 + uint64_t(*p - '0');
  if (digits == 0 || digits > 18) return false;
  int exponent = 0;
  if (p < end && (*p == 'E' || *p == 'e')) {
    ++p;
    const bool minus = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    int n = 0;
    for (; p < end && is_digit(*p) && n < 4; ++p, ++n) exponent = exponent * 10 + (*p - '0');
    if (n == 0) return false;
    if (minus) exponent = -exponent;
  }
  if (p != end || mantissa > kMaxExactMantissa) return false;
  const int power = exponent - fraction;
  if (power < -kMaxExactPower || power > kMaxExactPower) return false;
  float r = static_cast<float>(mantissa);
  r = power < 0 ? r / kPowersOfTen[-power] : r * kPowersOfTen[power];
  v = negative ? -r : r;
  return true;
}

}  // namespace

bool read_real_field(std::string_view field, float& v) {
  return read_short_decimal(field, v) || parse_real(field, v);
}

bool read_leading_int(std::string_view line, int& v) {
  return read_free_ints(line, std::span<int>(&v, 1));
}

LineParse read_line_values(std::string_view line, LineValues& out) {
  std::array<std::string_view, kMaxLineValues> runs;
  const int n = split_blank_runs(line, runs);
  const bool plain = n >= 3 && parse_int(runs[0], out.h) && parse_int(runs[1], out.k) &&
                     parse_int(runs[2], out.l);
  int first = 0;
  if (plain) {
    out.value[0] = static_cast<float>(out.h);
    out.value[1] = static_cast<float>(out.k);
    out.value[2] = static_cast<float>(out.l);
    first = 3;
  } else {
    std::array<int, 3> hkl{};
    if (!read_free_ints(line, hkl)) return LineParse::kBadIndices;
    out.h = hkl[0];
    out.k = hkl[1];
    out.l = hkl[2];
  }
  for (int i = first; i < n; ++i)
    if (!read_real_field(runs[static_cast<size_t>(i)], out.value[static_cast<size_t>(i)]))
      return LineParse::kBadValue;
  out.count = n;
  return LineParse::kOk;
}

}  // namespace velmar
