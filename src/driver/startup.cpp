#include "driver/startup.hpp"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <string>

#include "common/fortran_format.hpp"

#ifndef VELMAR_BUILD_DATE
#define VELMAR_BUILD_DATE "00000000"
#endif

namespace velmar {

std::string run_date_text(const CalendarDate& d) {
  static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string s;
  put_i(s, d.day, 2);
  s += '-';
  s += kMonths[(d.month - 1) % 12];
  s += '-';
  put_i(s, d.year, 4);
  return s;
}

CalendarDate today() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900};
}

std::string build_date_text() { return VELMAR_BUILD_DATE; }

std::string banner_line(const std::string& run_date) {
  return "***** VELMAR ***** (VERSION " + std::string(kVersion) + "  BUILT=" + build_date_text() + ")  " +
         run_date;
}

TimeOfDay time_of_day_now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return {tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ts.tv_nsec / 1000000)};
}

double elapsed_wall_seconds(const TimeOfDay& start, const TimeOfDay& end) {
  auto ms = [](const TimeOfDay& t) {
    return t.hours * 3600000L + t.minutes * 60000L + t.seconds * 1000L + t.milliseconds;
  };
  long diff = ms(end) - ms(start);
  if (diff < 0) diff += 86400000L;
  return static_cast<double>(diff) / 1000.0;
}

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

namespace {

// A "Name: value kB" entry of a /proc file, in bytes; -1 when absent.
int64_t proc_entry_bytes(const char* file, const std::string& entry) {
  std::ifstream in(file);
  std::string name, unit;
  int64_t kib = 0;
  while (in >> name >> kib >> unit)
    if (name == entry) return kib * 1024;
  return -1;
}

}  // namespace

int64_t available_memory_bytes() {
  int64_t available = proc_entry_bytes("/proc/meminfo", "MemAvailable:");
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const int64_t used = std::max<int64_t>(proc_entry_bytes("/proc/self/status", "VmSize:"), 0);
    const int64_t left = std::max<int64_t>(static_cast<int64_t>(limit.rlim_cur) - used, 0);
    available = available < 0 ? left : std::min(available, left);
  }
  return available;
}

UnitTable::UnitTable() {
  in_use_[5] = true;  // standard input
  in_use_[6] = true;  // standard output
}

std::vector<int> UnitTable::find_free(int n) const {
  std::vector<int> units;
  for (int u = 1; u <= 200 && static_cast<int>(units.size()) < n; ++u)
    if (!in_use_[static_cast<size_t>(u)]) units.push_back(u);
  if (static_cast<int>(units.size()) < n) units.clear();
  return units;
}

}  // namespace velmar
