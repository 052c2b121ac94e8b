// Completing the tables of the run after the last card: input headers, output modes,
// space group and cell, reindexing, resolution limits, reference data set, crystals.
#include <algorithm>
#include <cmath>
#include <string>

#include "common/error.hpp"
#include "common/files.hpp"
#include "common/fortran_format.hpp"
#include "driver/assembly.hpp"
#include "driver/control_file.hpp"
#include "input/loader.hpp"
#include "input/readhdr.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

bool cell_is_valid(const Cell& c) {
  for (float x : c)
    if (x <= 0.0f) return false;
  return invcel(c).volume > 0.0f;
}

// Every header is read; KVD_ASCII headers narrow the resolution range and may
// supply space group and cell; every header marks its group's merged and Friedel inputs.
void read_input_headers(ControlTables& t) {
  for (DataSet& s : t.sets) {
    const HeaderValues h = readhdr(s.name, s.kind);
    if (h.status != 0) stop_after_blank("!!! ERROR !!! CANNOT OPEN OR READ " + fmt_char(s.name, kMaxNameLength));
    if (s.kind == "KVD_ASCII") {
      s.res_low = std::min(s.res_low, h.res_low);
      s.res_high = std::max(s.res_high, h.res_high);
      if (t.run.space_group == -1 && !t.run.reindex) {
        t.run.space_group = h.space_group;
        t.run.cell = h.cell;
      }
    }
    OutputGroup& g = t.groups[static_cast<size_t>(s.group - 1)];
    ++g.nsets;
    if (h.merge) g.merged_input = true;
    if (h.friedel) g.friedel_input = true;
  }
}

void set_output_modes(ControlTables& t) {
  for (OutputGroup& g : t.groups) {
    if (g.nsets == 0) stop_after_blank("!!! ERROR !!! NO INPUT FILES FOR OUTPUT_FILE= " + g.name);
    const bool friedel = g.friedel == Setting::kUnset ? g.friedel_input : g.friedel == Setting::kTrue;
    const bool merged = g.merge == Setting::kUnset ? g.merged_input : g.merge == Setting::kTrue;
    g.mode = (friedel ? 1 : 2) * (merged ? 1 : -1);
    if (friedel) g.strict_absorption = 0;
  }
}

void set_up_symmetry(ControlTables& t) {
  if (t.run.space_group < 1 || t.run.space_group > 230 || !cell_is_valid(t.run.cell)) stop(kIllegalCell);
  const SpaceGroupLookup sg = xsymy(1, t.run.cell, t.run.space_group);
  if (sg.system == 0 || sg.ops.empty() || sg.ops.size() > static_cast<size_t>(kMaxOperators))
    stop(kIllegalCell);
  t.crystal_system = sg.system;
  t.centring = sg.centring;
  t.ops = sg.ops;
  t.inverse = mlinv(t.ops);
}

void print_assumptions(const Report& rep, const ControlTables& t) {
  rep.both("");
  rep.both("THE DATA COLLECTION STATISTICS REPORTED BELOW ASSUMES:");
  rep.both(" SPACE_GROUP_NUMBER=" + fmt_i(t.run.space_group, 5));
  std::string cell = " UNIT_CELL_CONSTANTS=";
  for (int i = 0; i < 3; ++i) put_f(cell, t.run.cell[static_cast<size_t>(i)], 9, 2);
  for (int i = 3; i < 6; ++i) put_f(cell, t.run.cell[static_cast<size_t>(i)], 8, 3);
  rep.both(cell);
  rep.both("");
  sympri(rep, t.run.space_group, t.ops);
  rep.both("");
}

// In double precision, rounded to the nearest integer: the integers may be as large as the
// card allows, and their products would overflow any integer type.
double reidx_determinant(const std::array<int, 12>& r) {
  const double a = r[0], b = r[1], c = r[2], d = r[4], e = r[5], f = r[6], g = r[8], h = r[9], i = r[10];
  return std::round(a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g));
}

void print_reindexing(const Report& rep, const RunParameters& run) {
  if (!run.reindex) return;
  const std::array<int, 12>& r = run.reidx;
  rep.both("REFLECTIONS WILL BE REINDEXED SUCH THAT");
  const char* names[3] = {" NEW-H =", " NEW-K =", " NEW-L ="};
  for (size_t row = 0; row < 3; ++row) {
    std::string line = names[row];
    put_i(line, r[4 * row], 3);
    line += "*H +";
    put_i(line, r[4 * row + 1], 3);
    line += "*K +";
    put_i(line, r[4 * row + 2], 3);
    line += "*L +";
    put_i(line, r[4 * row + 3], 3);
    rep.both(line);
  }
  if (r[3] != 0 || r[7] != 0 || r[11] != 0) {
    rep.both(" !!! WARNING !!! THE SPECIFIED REINDEXING TRANSFORMATION INVOLVES AN");
    rep.both("INDEX OFFSET WITH RESPECT TO THE ORIGINAL INDICES.");
  }
  const double det = reidx_determinant(r);
  if (det == 0.0) stop("!!! ERROR !!! REINDEXING TRANSFORMATION IS SINGULAR");
  if (det < 0.0) {
    rep.both(" !!! WARNING !!! THE SPECIFIED REINDEXING TRANSFORMATION INVOLVES A");
    rep.both("CHANGE OF HAND WITH RESPECT TO THE ORIGINAL INDICES.");
  }
}

// Narrows every range to the shells; returns the largest low limit and the smallest high limit over all sets.
std::pair<float, float> fit_ranges_to_shells(ControlTables& t) {
  const float dmin = t.run.shells.empty() ? 1.0e-6f : t.run.shells.back();
  float low_max = 0.0f, high_min = 0.0f;
  for (size_t i = 0; i < t.sets.size(); ++i) {
    DataSet& s = t.sets[i];
    const float low = s.res_low, high = s.res_high;
    s.res_high = std::max(s.res_high, dmin);
    if (s.res_low <= s.res_high) {
      std::string text = "\n !!! ERROR !!! INPUT FILE" + fmt_char(s.name, kMaxNameLength) + "\n SPECIFIED RESOLUTION RANGE ";
      put_f(text, low, 9, 2);
      put_f(text, high, 9, 2);
      text += " OUTSIDE RESOLUTION SHELLS\n !!! ERROR !!!";
      stop_verbatim(text);
    }
    low_max = i == 0 ? s.res_low : std::max(low_max, s.res_low);
    high_min = i == 0 ? s.res_high : std::min(high_min, s.res_high);
  }
  return {low_max, high_min};
}

void append_reference_set(ControlTables& t, std::pair<float, float> range) {
  if (t.run.refdat.empty()) return;
  if (static_cast<int>(t.sets.size()) >= t.capacity) stop("!!! ERROR !!! TOO MANY DATA SETS");
  OutputGroup g;
  g.mode = 1;
  g.nsets = 1;
  t.groups.push_back(g);
  DataSet s;
  s.name = t.run.refdat;
  s.kind = t.run.reffmt;
  s.group = static_cast<int>(t.groups.size());
  s.starting_dose = 0.0f;
  s.dose_rate = 0.0f;
  s.nbatch = 1;
  s.corrections.clear();
  s.res_low = range.first;
  s.res_high = range.second;
  t.sets.push_back(s);
  t.run.reference = static_cast<int>(t.sets.size());
}

void check_names_and_number_crystals(ControlTables& t) {
  for (const OutputGroup& g : t.groups)
    if (!g.name.empty() && writes_over_an_input(g.name, t)) stop("!!! ERROR !!! OUTPUT FILE HAS SAME NAME AS INPUT FILE");
  for (size_t i = 0; i < t.sets.size(); ++i) {
    DataSet& s = t.sets[i];
    if (s.crystal_name.empty()) continue;
    if (s.kind != "KVD_ASCII")
      stop_after_blank("!!! ERROR !!! TYPE OF INPUT DATA SET" + fmt_char(s.name, kMaxNameLength) +
                       " MUST BE  KVD_ASCII  FOR 0-DOSE CORRECTION OF THE DATA");
    for (size_t j = 0; j < i && s.crystal == 0; ++j)
      if (t.sets[j].crystal_name == s.crystal_name) s.crystal = t.sets[j].crystal;
    if (s.crystal == 0) s.crystal = ++t.run.crystals;
  }
}

}  // namespace

bool writes_over_an_input(const std::string& output, const ControlTables& t) {
  for (const DataSet& s : t.sets)
    if (output == s.name || same_file(output, s.name)) return true;
  for (const char* own : {"VELMAR.INP", kReportFileName, kExclusionListName})
    if (same_file(output, own)) return true;
  for (int job = 1; job <= kMaxLoadingJobs; ++job)
    if (same_file(output, scratch_file_name(job))) return true;
  return false;
}

void complete_control_tables(const Report& rep, ControlTables& t) {
  if (t.sets.empty() || t.groups.empty()) stop("!!! ERROR !!! NOTHING TO SCALE TOGETHER");
  read_input_headers(t);
  set_output_modes(t);
  set_up_symmetry(t);
  print_assumptions(rep, t);
  print_reindexing(rep, t.run);
  for (DataSet& s : t.sets)
    if (s.corrections.find("ALL") != std::string::npos) s.corrections = " DECAY MODULATION ABSORPTION ";
  append_reference_set(t, fit_ranges_to_shells(t));
  const DataSet& ref = t.sets[static_cast<size_t>(t.run.reference - 1)];
  rep.both("ALL DATA SETS WILL BE SCALED TO " + fmt_char(ref.name, kMaxNameLength));
  check_names_and_number_crystals(t);
}

void pvelmar(std::string_view control_text, const Report& rep, int shell_capacity, ControlTables& t) {
  read_control_cards(control_text, rep, shell_capacity, t);
  complete_control_tables(rep, t);
}

}  // namespace velmar
