// Start-up pieces of the driver: date and version texts, clocks, unit numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

inline constexpr char kVersion[] = "1.0.0";

struct CalendarDate {
  int day, month, year;  // month 1..12
};

// "dd-Mon-yyyy", the day in two columns: " 5-Dec-2026".
std::string run_date_text(const CalendarDate& d);
CalendarDate today();
// Build date as eight digits yyyymmdd.
std::string build_date_text();
// "***** VELMAR ***** (VERSION ...  BUILT=...)  dd-Mon-yyyy"
std::string banner_line(const std::string& run_date);

struct TimeOfDay {
  int hours, minutes, seconds, milliseconds;
};
TimeOfDay time_of_day_now();
// Seconds between two times of day; a negative difference means the run crossed midnight.
double elapsed_wall_seconds(const TimeOfDay& start, const TimeOfDay& end);
double cpu_seconds();

// Bytes the process can still allocate: the system's available memory, or less under an
// address-space limit (ulimit -v); -1 when unknown.
int64_t available_memory_bytes();

// Fortran-style unit numbers 1..200; 5 and 6 are held by the terminal.
class UnitTable {
 public:
  UnitTable();
  // The first n free units in ascending order, or an empty list when fewer are free.
  std::vector<int> find_free(int n) const;
  void open(int unit) { in_use_[static_cast<size_t>(unit)] = true; }
  void close(int unit) { in_use_[static_cast<size_t>(unit)] = false; }

 private:
  std::array<bool, 201> in_use_{};
};

}  // namespace velmar
