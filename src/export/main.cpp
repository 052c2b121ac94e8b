// velmar-export: converts a VELMAR output reflection file to MTZ and mmCIF.
//
//   velmar-export FILE.HKL [--mtz OUT.mtz] [--mmcif OUT.cif]
//
// Without --mtz and --mmcif both files are written beside FILE.HKL, named after it with the
// extensions .mtz and .cif. Errors go to stderr with exit status 1.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "common/files.hpp"
#include "driver/startup.hpp"
#include "export/asu_tables.hpp"
#include "export/cif_export.hpp"
#include "export/mtz_export.hpp"
#include "export/velmar_file.hpp"

namespace velmar {
namespace {

constexpr char kUsage[] =
    "Usage: velmar-export FILE.HKL [--mtz OUT.mtz] [--mmcif OUT.cif]\n"
    "       velmar-export --version | --help\n"
    "\n"
    "Converts a VELMAR output reflection file, merged or unmerged, to MTZ and to mmCIF.\n"
    "Without --mtz and --mmcif both are written beside FILE.HKL (FILE.mtz, FILE.cif).\n"
    "See README.md of VELMAR for the columns and categories written.\n";

struct Arguments {
  std::string input;
  std::optional<std::string> mtz, mmcif;
};

enum class Action { kExport, kVersion, kHelp, kUsageError };

Action parse_arguments(std::span<const char* const> args, Arguments& a) {
  if (args.size() == 1 && std::string_view(args[0]) == "--version") return Action::kVersion;
  if (args.size() == 1 && std::string_view(args[0]) == "--help") return Action::kHelp;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if ((arg == "--mtz" || arg == "--mmcif") && i + 1 < args.size()) {
      std::optional<std::string>& target = arg == "--mtz" ? a.mtz : a.mmcif;
      if (target) return Action::kUsageError;
      target = args[++i];
    } else if (!arg.starts_with("-") && a.input.empty()) {
      a.input = arg;
    } else {
      return Action::kUsageError;
    }
  }
  return a.input.empty() ? Action::kUsageError : Action::kExport;
}

std::string beside(const std::string& input, const char* extension) {
  return std::filesystem::path(input).replace_extension(extension).string();
}

void check_outputs(const Arguments& a) {
  for (const std::optional<std::string>& out : {a.mtz, a.mmcif})
    if (out && same_file(*out, a.input))
      stop("!!! ERROR !!! OUTPUT FILE " + *out + " WOULD REPLACE THE INPUT FILE");
  if (a.mtz && a.mmcif && same_file(*a.mtz, *a.mmcif))
    stop("!!! ERROR !!! --mtz AND --mmcif NAME THE SAME FILE " + *a.mtz);
}

void report_written(const std::string& out, size_t rows, const char* what) {
  std::printf("%s: %zu %s\n", out.c_str(), rows, what);
}

void export_file(Arguments a) {
  if (!a.mtz && !a.mmcif) {
    a.mtz = beside(a.input, ".mtz");
    a.mmcif = beside(a.input, ".cif");
  }
  check_outputs(a);
  const VelmarFile f = read_velmar_file(a.input);
  const gemmi::SpaceGroup& sg = gemmi_space_group(f);
  std::printf("%s: %zu %s records, FRIEDEL'S_LAW=%s, space group %s (%d)\n", a.input.c_str(), f.records.size(),
              f.merged ? "merged" : "unmerged", f.friedel ? "TRUE" : "FALSE", sg.xhm().c_str(), sg.number);
  if (f.merged) {
    const MergedTable t = merged_table(f, sg);
    if (a.mtz) write_merged_mtz(f, sg, t, *a.mtz), report_written(*a.mtz, t.size(), "unique reflections");
    if (a.mmcif) write_merged_mmcif(f, sg, t, *a.mmcif), report_written(*a.mmcif, t.size(), "unique reflections");
  } else {
    if (a.mtz) {
      const UnmergedTable t = unmerged_table(f, sg);
      write_unmerged_mtz(f, sg, t, *a.mtz);
      report_written(*a.mtz, t.size(), "observations");
    }
    if (a.mmcif) write_unmerged_mmcif(f, sg, *a.mmcif), report_written(*a.mmcif, f.records.size(), "observations");
  }
}

int run(std::span<const char* const> args) {
  Arguments a;
  switch (parse_arguments(args, a)) {
    case Action::kVersion: std::printf("velmar-export (VELMAR %s)\n", kVersion); return 0;
    case Action::kHelp: std::fputs(kUsage, stdout); return 0;
    case Action::kUsageError: std::fputs(kUsage, stderr); return 1;
    case Action::kExport: break;
  }
  return exit_status_of([&] { export_file(a); });
}

}  // namespace
}  // namespace velmar

int main(int argc, char** argv) {
  return velmar::run(std::span<const char* const>(argv + 1, argc > 1 ? static_cast<size_t>(argc - 1) : 0));
}
