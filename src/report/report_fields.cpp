// Reading the fixed-column fields of report lines.
#include "report/report_fields.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace velmar::report {

std::string_view column(std::string_view line, size_t start, size_t width) {
  if (start >= line.size()) return {};
  return line.substr(start, width);
}

std::string_view rest(std::string_view line, size_t start) {
  return start >= line.size() ? std::string_view() : line.substr(start);
}

std::string_view trim(std::string_view s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

namespace {

// A value too wide for its field prints as asterisks filling the whole field; a field that
// also holds a blank (a frame line of the report seen through the columns of a table) is
// no value.
bool all_asterisks(std::string_view s) { return !s.empty() && s.find_first_not_of('*') == std::string_view::npos; }

}  // namespace

bool read_real(std::string_view field, float& value) {
  if (all_asterisks(field)) {
    value = std::numeric_limits<float>::quiet_NaN();
    return true;
  }
  std::string_view t = trim(field);
  if (!t.empty() && t.back() == '%') t = trim(t.substr(0, t.size() - 1));
  if (t.empty()) return false;
  const std::string text(t);
  if (text.find_first_not_of("+-.0123456789Ee") != std::string::npos) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) return false;
  value = static_cast<float>(v);
  return true;
}

bool read_int(std::string_view field, long& value) {
  if (all_asterisks(field)) {
    value = -1;
    return true;
  }
  const std::string_view t = trim(field);
  if (t.empty()) return false;
  const std::string text(t);
  if (text.find_first_not_of("+-0123456789") != std::string::npos) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE) return false;
  value = v;
  return true;
}

std::string_view after_label(std::string_view line, std::string_view label, size_t width) {
  const size_t p = line.find(label);
  return p == std::string_view::npos ? std::string_view() : column(line, p + label.size(), width);
}

}  // namespace velmar::report
