// The job driver: start-up, control file, the stages of the run, timing lines.
#include "driver/velmar.hpp"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "common/files.hpp"
#include "common/fortran_format.hpp"
#include "common/report.hpp"
#include "common/scratch_files.hpp"
#include "common/tables.hpp"
#include "driver/assembly.hpp"
#include "driver/control_file.hpp"
#include "driver/startup.hpp"
#include "driver/wilson_steps.hpp"
#include "scaling/scaling_driver.hpp"
#include "statistics/error_model.hpp"
#include "statistics/statistics.hpp"
#include "symmetry/unique_table.hpp"
#include "zerodose/zerodose.hpp"

namespace velmar {
namespace {

constexpr int kShellCapacity = kMaxShells;
constexpr char kDecayScratchName[] = "VMDECAY.tmp";  // decay factors between two zero-dose steps

// Everything the run owns, released when the run ends.
struct Run {
  RunEnvironment env;
  Report rep;
  UnitTable units;
  int report_unit = 0, control_unit = 0;
  double cpu_start = 0;
  TimeOfDay wall_start{};
  std::string run_date;
  ControlTables tables;
  std::vector<DataSetBlock> blocks;
  ObservationList obs;
  UniqueTable unique;
  std::vector<float> shells;
  RandomState random;  // half-set generator, one sequence per run
  bool report_failure_told = false;
};

bool read_whole_file(const char* name, std::string& text) {
  std::FILE* f = open_regular_file(name);
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
  run.rep.file = std::fopen(kReportFileName, "w");
  if (!run.rep.file) stop(std::string("!!! ERROR !!! CANNOT OPEN OR WRITE ") + kReportFileName);
  install_interrupt_handlers(fileno(run.rep.file));
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
  pvelmar(control, run.rep, kShellCapacity, run.tables);
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

// Loads every data set and reads the scratch records back into the sorted observation
// list. Returns false when the list holds fewer than two entries (the run ends quietly).
bool load_observations(Run& run) {
  const std::vector<LoadingJob> jobs =
      make_loading_jobs(run.tables.run.processors, static_cast<int>(run.tables.sets.size()), run.units);
  readhkl1(run.rep, run.tables, jobs);
  run.blocks = observation_blocks(run.tables.sets);
  if (list_length(run.blocks) < 2) return false;
  const int64_t memory = run.env.memory_bytes == -2 ? available_memory_bytes() : run.env.memory_bytes;
  read_back_observations(jobs, run.blocks, run.obs, memory);
  return true;
}

void assemble(Run& run) {
  assemble_unique_reflections(run.tables, run.blocks, run.obs, run.unique);
  run.shells = resolution_shells(run.tables, run.unique.size());
  check_shell_cost(run.tables.run.cell, run.shells);
}

void run_stages(Run& run) {
  StageTimes* times = run.env.times;
  start_up(run);
  read_control_file(run);
  run.rep.flush();
  mark_stage(times, "control file");
  if (!load_observations(run)) return;
  run.rep.flush();
  mark_stage(times, "loading");
  assemble(run);
  mark_stage(times, "unique reflections");
  scalsets(run.rep, run.tables, run.blocks, run.unique, run.obs, times);
  print_error_model_table(run.rep, run.tables);
  if (!place_on_absolute_scale(run.rep, run.tables, run.unique, run.obs, scratch_file_name(1))) return;
  run.rep.flush();
  mark_stage(times, "absolute scale");
  zerodose(run.rep, run.tables, run.unique, run.obs, run.shells, kDecayScratchName);
  mark_stage(times, "zero dose");
  rstat(run.rep, ScaledData{run.tables, run.unique, run.obs, kVersion, run.run_date}, run.shells, run.random);
  mark_stage(times, "output files and statistics");
  if (!print_wilson_sections(run.rep, run.tables, run.unique, run.obs, scratch_file_name(1))) return;
  mark_stage(times, "Wilson statistics");
  print_timing(run);
}

// Closes the report file; false (with a message on the terminal) when it could not be
// written completely.
bool close_report(Run& run) {
  if (!run.rep.file) return true;
  const bool ok = std::fflush(run.rep.file) == 0 && !std::ferror(run.rep.file);
  const bool closed = std::fclose(run.rep.file) == 0;
  run.rep.file = nullptr;
  if (ok && closed) return true;
  if (!run.report_failure_told) run.rep.to_terminal(std::string(" !!! ERROR !!! CANNOT WRITE FILE ") + kReportFileName);
  return false;
}

}  // namespace

int velmar(const RunEnvironment& env) {
  Run run;
  run.env = env;
  run.rep.terminal = env.terminal;
  int status = 1;
  try {
    run_stages(run);
    status = 0;
  } catch (const VelmarError& e) {
    run.rep.both_lines(e.what());
    run.report_failure_told = std::string_view(e.what()).ends_with(std::string("CANNOT WRITE FILE ") + kReportFileName);
  } catch (const std::bad_alloc&) {
    run.rep.both(" !!! ERROR !!! NOT ENOUGH MEMORY FOR THIS RUN");
  }
  remove_all_scratch_files();
  if (run.rep.terminal) std::fflush(run.rep.terminal);
  if (!close_report(run)) status = 1;
  return status;
}

}  // namespace velmar
