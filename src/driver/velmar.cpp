// The job driver: start-up, control file, the stages of the run, timing lines.
#include "driver/velmar.hpp"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "common/report.hpp"
#include "common/tables.hpp"
#include "driver/assembly.hpp"
#include "driver/control_file.hpp"
#include "driver/startup.hpp"
#include "driver/wilson_steps.hpp"
#include "statistics/statistics.hpp"
#include "symmetry/unique_table.hpp"

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
  std::vector<LoadResult> loaded;
  std::vector<DataSetBlock> blocks;
  ObservationList obs;
  UniqueTable unique;
  std::vector<DataSetRanges> ranges;
  std::vector<float> shells;
  RandomState random;  // half-set generator, one sequence per run

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

// Loads every data set and reads the scratch records back into the sorted observation
// list. Returns false when the list holds fewer than two entries (the run ends quietly).
bool load_observations(Run& run) {
  std::vector<LoadingJob> jobs =
      make_loading_jobs(run.tables.run.processors, static_cast<int>(run.tables.sets.size()), run.units);
  run.loaded = readhkl1(run.rep, run.tables, kRecordLengthUnit, jobs);
  run.blocks = observation_blocks(run.loaded);
  if (list_length(run.blocks) < 2) {
    for (const LoadingJob& job : jobs) std::remove(job.scratch_name.c_str());
    return false;
  }
  read_back_observations(jobs, run.blocks, run.obs);
  return true;
}

bool is_reference_group(const ControlTables& t, const DataSet& s) {
  return t.groups[static_cast<size_t>(s.group - 1)].name.empty();
}

void assemble_unique_reflections(Run& run) {
  const ControlTables& t = run.tables;
  if (is_reference_group(t, t.sets.back())) run.blocks.back().nrec = collaps(run.obs, run.blocks.back());
  build_unique_table(t.ops, t.run.cell, run.blocks, run.obs, run.unique);
  run.ranges = data_set_ranges(run.unique, run.obs);
  run.shells = t.run.shells;
  if (run.shells.empty()) {
    float ss_max = 1.0e-6f;
    for (size_t i = 0; i < t.sets.size(); ++i)
      if (!is_reference_group(t, t.sets[i])) ss_max = std::max(ss_max, run.ranges[i].ss_max);
    run.shells = default_shells(static_cast<int64_t>(run.unique.size()), ss_max);
  }
}

void run_stages(Run& run) {
  start_up(run);
  read_control_file(run);
  if (!load_observations(run)) return;
  assemble_unique_reflections(run);
  if (!place_on_absolute_scale(run.rep, run.tables, run.unique, run.obs, scratch_file_name(1))) return;
  std::vector<float> wavelength;
  for (const LoadResult& l : run.loaded) wavelength.push_back(l.wavelength);
  rstat(run.rep, ScaledData{run.tables, run.unique, run.obs, wavelength, {}, kVersion, run.run_date}, run.shells,
        run.random);
  if (!print_wilson_sections(run.rep, run.tables, run.unique, run.obs, scratch_file_name(1))) return;
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
