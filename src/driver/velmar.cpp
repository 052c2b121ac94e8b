// The job driver: start-up, control file, the stages of the run, timing lines.
#include "driver/velmar.hpp"

#include <cstdio>
#include <new>
#include <string>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "common/report.hpp"
#include "common/tables.hpp"
#include "driver/control_file.hpp"
#include "driver/startup.hpp"

namespace velmar {
namespace {

constexpr int kRecordLengthUnit = 1;  // direct-access record lengths counted in 4-byte words
constexpr int kShellCapacity = kMaxShells;

// Everything the run owns, released when the run ends.
struct Run {
  Report rep;
  UnitTable units;
  int report_unit = 0, control_unit = 0, header_unit = 0;
  double cpu_start = 0;
  TimeOfDay wall_start{};
  std::string run_date;
  ControlTables tables;

  ~Run() {
    if (rep.file) std::fclose(rep.file);
  }
};

bool read_whole_file(const char* name, std::string& text) {
  std::FILE* f = std::fopen(name, "rb");
  if (!f) return false;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

void start_up(Run& run) {
  run.run_date = run_date_text(today());
  const std::string banner = banner_line(run.run_date);
  run.rep.to_terminal("");
  run.rep.to_terminal(banner);
  run.cpu_start = cpu_seconds();
  run.wall_start = time_of_day_now();
  const std::vector<int> units = run.units.find_free(3);
  if (units.empty()) stop("!!! ERROR !!! CANNOT ALLOCATE DEVICE UNIT NUMBERS");
  run.report_unit = units[0];
  run.control_unit = units[1];
  run.header_unit = units[2];
  run.rep.file = std::fopen("VELMAR.LP", "w");
  if (!run.rep.file) stop("!!! ERROR !!! CANNOT OPEN OR WRITE VELMAR.LP");
  run.units.open(run.report_unit);
  run.rep.to_file("");
  run.rep.to_file(banner);
}

void read_control_file(Run& run) {
  std::string control;
  if (!read_whole_file("VELMAR.INP", control)) stop("!!! ERROR !!! CANNOT OPEN OR READ VELMAR.INP");
  run.units.open(run.control_unit);
  run.tables.capacity = prescan_capacity(control);
  run.tables.sets.reserve(static_cast<size_t>(run.tables.capacity));
  run.tables.groups.reserve(static_cast<size_t>(run.tables.capacity));
  pvelmar(control, run.rep, kRecordLengthUnit, kShellCapacity, run.tables);
  run.units.close(run.control_unit);
}

void print_timing(const Run& run) {
  std::string cpu = " cpu time used by VELMAR ";
  put_f(cpu, cpu_seconds() - run.cpu_start, 10, 1);
  cpu += " sec";
  std::string wall = " elapsed wall-clock time ";
  put_f(wall, elapsed_wall_seconds(run.wall_start, time_of_day_now()), 10, 1);
  wall += " sec";
  run.rep.both("");
  run.rep.both(cpu);
  run.rep.both(wall);
}

void run_stages(Run& run) {
  start_up(run);
  read_control_file(run);
  print_timing(run);
}

}  // namespace

int velmar() {
  Run run;
  try {
    run_stages(run);
    return 0;
  } catch (const VelmarError& e) {
    run.rep.both_lines(e.what());
  } catch (const std::bad_alloc&) {
    run.rep.both(" !!! ERROR !!! NOT ENOUGH MEMORY FOR THIS RUN");
  }
  return 1;
}

}  // namespace velmar
