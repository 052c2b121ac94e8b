// Free-form number reading.
#include "common/free_format.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace velmar {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next value of a list: its text, a null value, or the end of the list ("/" or end of
// line). A repeat count r* is split off into `repeat`.
struct Token {
  enum Kind { kValue, kNull, kSlash, kEnd } kind;
  std::string_view text;
  int repeat = 1;
};

class Lister {
 public:
  explicit Lister(std::string_view t) : text_(t) {}

  Token next() {
    while (true) {
      while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
      if (pos_ >= text_.size()) return {Token::kEnd, {}};
      const char c = text_[pos_];
      if (c == '/') return {Token::kSlash, {}};
      if (c == ',') {
        ++pos_;
        if (after_value_) {  // the separator that ends the previous value
          after_value_ = false;
          continue;
        }
        return {Token::kNull, {}};
      }
      return value();
    }
  }

 private:
  Token value() {
    size_t b = pos_;
    while (pos_ < text_.size() && !is_blank(text_[pos_]) && text_[pos_] != ',' && text_[pos_] != '/')
      ++pos_;
    after_value_ = true;
    Token t{Token::kValue, text_.substr(b, pos_ - b)};
    size_t star = t.text.find('*');
    if (star == std::string_view::npos) return t;
    int r = 0;
    if (!parse_int(t.text.substr(0, star), r) || r < 1) return {Token::kValue, "*"};
    t.repeat = r;
    t.text = t.text.substr(star + 1);
    if (t.text.empty()) t.kind = Token::kNull;
    return t;
  }

  std::string_view text_;
  size_t pos_ = 0;
  bool after_value_ = false;
};

// Reads n values; store(i, text) converts and stores value i (false when it is no value of
// its type). Null values leave their item untouched.
template <class Store>
bool read_free(std::string_view text, size_t n, Store store) {
  Lister lister(text);
  size_t i = 0;
  while (i < n) {
    Token t = lister.next();
    if (t.kind == Token::kEnd) return false;
    if (t.kind == Token::kSlash) return true;
    for (int r = 0; r < t.repeat && i < n; ++r, ++i)
      if (t.kind == Token::kValue && !store(i, t.text)) return false;
  }
  return true;
}

// Rewrites a Fortran real (D or Q exponent, or a signed exponent without a letter) into the
// form from_chars reads; false when the text cannot be a real.
bool normalise_real(std::string_view f, std::string& out) {
  out.clear();
  bool seen_digit = false, seen_exp = false;
  for (size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c >= '0' && c <= '9') {
      seen_digit = true;
      out += c;
    } else if (c == '.') {
      out += c;
    } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q') && !seen_exp) {
      seen_exp = true;
      out += 'e';
    } else if ((c == '+' || c == '-') && i > 0 && !seen_exp && seen_digit) {
      seen_exp = true;
      out += 'e';
      out += c;
    } else if ((c == '+' || c == '-') && (i == 0 || (!out.empty() && out.back() == 'e'))) {
      if (c == '-') out += c;
    } else {
      return false;
    }
  }
  return seen_digit;
}

}  // namespace

bool parse_int(std::string_view f, int& v) {
  if (!f.empty() && f.front() == '+') f.remove_prefix(1);
  if (f.empty()) return false;
  auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  return r.ec == std::errc() && r.ptr == f.data() + f.size();
}

bool parse_real(std::string_view f, float& v) {
  if (!f.empty() && f.front() == '+') f.remove_prefix(1);
  if (f.empty()) return false;
  auto r = std::from_chars(f.data(), f.data() + f.size(), v, std::chars_format::general);
  if (r.ec == std::errc() && r.ptr == f.data() + f.size()) return std::isfinite(v);
  // Slow path: Fortran exponent letters, out-of-range values.
  std::string norm;
  if (!normalise_real(f, norm)) return false;
  double d = 0;
  auto rd = std::from_chars(norm.data(), norm.data() + norm.size(), d, std::chars_format::general);
  if (rd.ptr != norm.data() + norm.size()) return false;
  if (rd.ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is no number at all.
    if (norm.find("e-") == std::string::npos) return false;
    d = 0.0;
  } else if (rd.ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max()) return false;
  v = static_cast<float>(d);
  return true;
}

namespace {

// Store v only when f is a value of its type; v stays as it was otherwise.
bool store_int(std::string_view f, int& v) {
  int x = 0;
  if (!parse_int(f, x)) return false;
  v = x;
  return true;
}

bool store_real(std::string_view f, float& v) {
  float x = 0.0f;
  if (!parse_real(f, x)) return false;
  v = x;
  return true;
}

}  // namespace

bool read_free_ints(std::string_view text, std::span<int> out) {
  return read_free(text, out.size(), [&](size_t i, std::string_view f) { return store_int(f, out[i]); });
}

bool read_free_reals(std::string_view text, std::span<float> out) {
  return read_free(text, out.size(), [&](size_t i, std::string_view f) { return store_real(f, out[i]); });
}

bool read_free_ints_reals(std::string_view text, std::span<int> ints, std::span<float> reals) {
  return read_free(text, ints.size() + reals.size(), [&](size_t i, std::string_view f) {
    return i < ints.size() ? store_int(f, ints[i]) : store_real(f, reals[i - ints.size()]);
  });
}

int split_runs(std::string_view text, std::span<std::string_view> out) {
  int n = 0;
  size_t i = 0;
  const size_t len = text.size();
  while (i < len && n < static_cast<int>(out.size())) {
    while (i < len && text[i] == ' ') ++i;
    if (i >= len) break;
    size_t b = i;
    while (i < len && text[i] != ' ') ++i;
    out[static_cast<size_t>(n++)] = text.substr(b, i - b);
  }
  return n;
}

}  // namespace velmar
