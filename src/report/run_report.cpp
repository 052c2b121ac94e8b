// Reading VELMAR.LP back: every section by its fixed layout.
//
// The reader walks the lines once. A line that opens a section (its title) hands the walk to
// the reader of that section, which takes the section's lines and returns the index of the
// first line it did not take. Tables end at the first line that does not read as a row of
// their layout, so a report cut short leaves a shorter table, never a wrong one.
#include "report/run_report.hpp"

#include <algorithm>
#include <cmath>
#include <span>
#include <string_view>

#include "common/error.hpp"
#include "report/report_fields.hpp"

namespace velmar::report {
namespace {

using Lines = std::span<const std::string_view>;

bool has(std::string_view line, std::string_view part) { return line.find(part) != std::string_view::npos; }

std::string name_at(std::string_view line, size_t start) { return std::string(trim(rest(line, start))); }

std::vector<std::string_view> split_lines(const std::string& text) {
  std::vector<std::string_view> lines;
  std::string_view t(text);
  while (!t.empty()) {
    const size_t end = t.find('\n');
    std::string_view line = t.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    t.remove_prefix(end + 1);
  }
  return lines;
}

// Index of the line that contains `part` among the next lines of a section (the head of a
// table a few lines below its title), or lines.size() when it is not there.
size_t find_from(Lines lines, size_t i, std::string_view part) {
  constexpr size_t kSectionHead = 60;
  for (const size_t end = std::min(lines.size(), i + kSectionHead); i < end; ++i)
    if (has(lines[i], part)) return i;
  return lines.size();
}

// --- messages -------------------------------------------------------------------------

bool is_error_line(std::string_view line) { return has(line, "!!! ERROR") || has(line, "!!! FATAL"); }
bool is_warning_line(std::string_view line) { return has(line, "!!! WARNING !!!"); }

// A message goes on over the lines indented by ten or more blanks and the " ***" lines.
bool continues_message(std::string_view line) {
  if (trim(line).empty() || is_error_line(line) || is_warning_line(line)) return false;
  return line.starts_with("          ") || line.starts_with(" ***");
}

size_t read_message(Lines lines, size_t i, RunReport& r) {
  RunMessage m;
  m.error = is_error_line(lines[i]);
  m.text = std::string(trim(lines[i]));
  for (++i; i < lines.size() && continues_message(lines[i]); ++i) {
    m.text += '\n';
    m.text += trim(lines[i]);
  }
  r.messages.push_back(std::move(m));
  return i;
}

// --- control, loading, overall scaling -------------------------------------------------

size_t read_assumed_cell(Lines lines, size_t i, RunReport& r) {
  for (++i; i < lines.size(); ++i) {
    if (lines[i].starts_with(" SPACE_GROUP_NUMBER=")) {
      long sg = 0;
      if (read_int(rest(lines[i], 20), sg)) r.space_group = static_cast<int>(sg);
    } else if (lines[i].starts_with(" UNIT_CELL_CONSTANTS=")) {
      // Three edges (F9.2) and three angles (F8.3) after the keyword.
      for (size_t k = 0; k < 6; ++k) read_real(k < 3 ? column(lines[i], 21 + 9 * k, 9) : column(lines[i], 48 + 8 * (k - 3), 8), r.cell[k]);
      return i + 1;
    } else {
      break;
    }
  }
  return i;
}

size_t read_loading(Lines lines, size_t i, RunReport& r) {
  const size_t title = i;
  i = find_from(lines, i, " SET# INTENSITY");
  if (i == lines.size()) return title + 1;
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    if (is_warning_line(l)) {  // a data set's warning, between blank lines, follows its row
      i = read_message(lines, i, r) - 1;
      continue;
    }
    if (trim(l).empty()) continue;
    LoadedDataSet d;
    long number = 0;
    if (!read_int(column(l, 0, 4), number) || !read_real(column(l, 4, 12), d.mean_intensity) ||
        !read_int(column(l, 16, 9), d.accepted) || !read_int(column(l, 25, 7), d.rejected))
      break;
    d.number = static_cast<int>(number);
    d.name = name_at(l, 34);
    r.data_sets.push_back(std::move(d));
  }
  return i;
}

size_t read_overall_scaling(Lines lines, size_t i, RunReport& r) {
  OverallScaling s;
  const size_t title = i;
  i = find_from(lines, i, "  #i   #j     REFLECTIONS");
  if (i == lines.size()) return title + 1;
  for (i += 2; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    DataSetPair p;
    long a = 0, b = 0;
    if (!read_int(column(l, 0, 5), a) || !read_int(column(l, 5, 5), b) || !read_int(column(l, 10, 12), p.common) ||
        !read_real(column(l, 22, 16), p.correlation) || !read_real(column(l, 38, 18), p.ratio) ||
        !read_real(column(l, 56, 15), p.b))
      break;
    p.i = static_cast<int>(a);
    p.j = static_cast<int>(b);
    s.pairs.push_back(p);
  }
  // The factor table follows the pairs and the warning about small correlations, if any.
  size_t head = i;
  while (head < lines.size() && !has(lines[head], "     K        B           DATA SET NAME") &&
         !has(lines[head], "*******") && !is_error_line(lines[head])) {
    if (is_warning_line(lines[head])) {
      head = read_message(lines, head, r);
      continue;
    }
    ++head;
  }
  if (head < lines.size() && has(lines[head], "DATA SET NAME")) {
    for (i = head + 1; i < lines.size(); ++i) {
      ScaleFactor f;
      if (!read_real(column(lines[i], 0, 10), f.k) || !read_real(column(lines[i], 10, 8), f.b)) break;
      f.name = name_at(lines[i], 22);
      s.factors.push_back(std::move(f));
    }
  }
  r.scaling.push_back(std::move(s));
  return i;
}

// --- correction factors ----------------------------------------------------------------

size_t read_correction_image(Lines lines, size_t i, CorrectionKind kind, CorrectionGroup& g) {
  CorrectionImage im;
  im.file = std::string(trim(column(lines[i], 56, 20)));
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    long n = 0;
    if (l.starts_with(" XMIN=")) {
      read_real(after_label(l, " XMIN=", 8), im.xmin);
      read_real(after_label(l, " XMAX=", 8), im.xmax);
      if (read_int(after_label(l, " NXBIN=", 5), n)) im.nx = static_cast<int>(n);
    } else if (l.starts_with(" YMIN=")) {
      read_real(after_label(l, " YMIN=", 8), im.ymin);
      read_real(after_label(l, " YMAX=", 8), im.ymax);
      if (read_int(after_label(l, " NYBIN=", 5), n)) im.ny = static_cast<int>(n);
    } else if (l.starts_with(" DETECTOR_SURFACE_POSITION=")) {
      long x = 0, y = 0;
      if (read_int(column(l, 27, 8), x) && read_int(column(l, 35, 8), y))
        im.surface.push_back({static_cast<int>(x), static_cast<int>(y)});
    } else if (l.starts_with(" NUMBER OF REFLECTIONS USED FOR DETERMINING CORRECTION FACTORS ")) {
      read_int(rest(l, 63), im.reflections);
      ++i;
      break;
    } else {
      break;
    }
  }
  if (kind == CorrectionKind::kAbsorption) im.ny = static_cast<int>(im.surface.size());
  g.images.push_back(std::move(im));
  return i;
}

size_t read_correction_group(Lines lines, size_t i, CorrectionKind kind, RunReport& r) {
  CorrectionGroup g;
  g.kind = kind;
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    long n = 0;
    if (l.starts_with(" OUTPUT FILE: ")) {
      g.output_file = name_at(l, 14);
    } else if (l.starts_with(" THE CALCULATIONS ASSUME")) {
      g.friedel = has(l, "FRIEDEL'S_LAW= TRUE");
    } else if (l.starts_with(" TOTAL NUMBER OF CORRECTION FACTORS DEFINED ")) {
      read_int(rest(l, 44), g.factors);
    } else if (l.starts_with(" DEGREES OF FREEDOM OF CHI^2 FIT")) {
      read_real(rest(l, 42), g.degrees_of_freedom);
    } else if (l.starts_with(" CHI^2-VALUE OF FIT OF CORRECTION FACTORS ")) {
      read_real(rest(l, 42), g.chi2);
    } else if (l.starts_with(" NUMBER OF CYCLES CARRIED OUT")) {
      if (read_int(rest(l, 44), n)) g.cycles = static_cast<int>(n);
    } else if (l.starts_with(" CORRECTION FACTORS for visual inspection by KVD-Viewer ")) {
      i = read_correction_image(lines, i, kind, g) - 1;
    } else if (!trim(l).empty()) {
      break;
    }
  }
  r.corrections.push_back(std::move(g));
  return i;
}

// --- error model, statistics ------------------------------------------------------------

size_t read_error_model(Lines lines, size_t i, RunReport& r) {
  const size_t title = i;
  i = find_from(lines, i, "     a        b          ISa    ISa0   INPUT DATA SET");
  if (i == lines.size()) return title + 1;
  for (++i; i < lines.size(); ++i) {
    ErrorModelRow e;
    const std::string_view l = lines[i];
    if (!read_real(column(l, 0, 10), e.a) || !read_real(column(l, 10, 11), e.b) ||
        !read_real(column(l, 21, 8), e.isa) || !read_real(column(l, 29, 8), e.isa0))
      break;
    e.name = name_at(l, 38);
    r.error_model.push_back(std::move(e));
  }
  return i;
}

bool read_shell_row(std::string_view l, ShellStatistics& s) {
  const bool total = l.starts_with("    total");
  if (!total && !read_real(column(l, 0, 9), s.limit)) return false;
  if (!read_int(column(l, 9, 12), s.observed) || !read_int(column(l, 21, 8), s.unique) ||
      !read_int(column(l, 29, 10), s.possible) || !read_int(column(l, 72, 9), s.compared))
    return false;
  // Completeness of a shell without possible reflections is not a number.
  if (!read_real(column(l, 39, 11), s.completeness)) s.completeness = NAN;
  read_real(column(l, 51, 10), s.r_observed);
  read_real(column(l, 62, 9), s.r_expected);
  read_real(column(l, 81, 8), s.i_sigma);
  read_real(column(l, 89, 8), s.r_meas);
  read_real(column(l, 98, 8), s.cc_half);
  s.cc_half_significant = column(l, 106, 1) == "*";
  read_real(column(l, 107, 6), s.anomalous_corr);
  s.anomalous_significant = column(l, 113, 1) == "*";
  read_real(column(l, 114, 8), s.sig_ano);
  read_int(column(l, 122, 8), s.nano);
  return true;
}

size_t read_input_rfactors(Lines lines, size_t i, OutputStatistics& o) {
  InputRFactors in;
  in.name = name_at(lines[i], 40);
  const size_t title = i;
  i = find_from(lines, i, "   LIMIT      observed   expected");
  if (i == lines.size()) i = title;
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    const bool total = l.starts_with("    total");
    float limit = 0, ro = 0, re = 0;
    long compared = 0;
    if ((!total && !read_real(column(l, 0, 9), limit)) || !read_real(column(l, 9, 13), ro) ||
        !read_real(column(l, 22, 11), re) || !read_int(column(l, 33, 10), compared))
      break;
    if (total) {
      in.total_r_observed = ro, in.total_r_expected = re, in.total_compared = compared;
      ++i;
      break;
    }
    in.limit.push_back(limit), in.r_observed.push_back(ro), in.r_expected.push_back(re);
    in.compared.push_back(compared);
  }
  o.inputs.push_back(std::move(in));
  return i;
}

size_t read_output_statistics(Lines lines, size_t i, RunReport& r) {
  OutputStatistics o;
  o.file = name_at(lines[i], 40);
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    if (l.starts_with(" FILE TYPE:")) {
      o.merged = has(l, "MERGE=TRUE");
      o.friedel = has(l, "FRIEDEL'S_LAW=TRUE");
    } else if (has(l, " REFLECTIONS REJECTED")) {
      read_int(column(l, 0, 10), o.rejected);
      read_int(column(l, 17, 10), o.considered);
    } else if (has(l, " REFLECTIONS ON OUTPUT FILE")) {
      read_int(column(l, 0, 10), o.written);
    } else if (l.starts_with("   LIMIT     OBSERVED")) {
      for (++i; i < lines.size(); ++i) {
        ShellStatistics s;
        if (!read_shell_row(lines[i], s)) break;
        if (lines[i].starts_with("    total")) {
          o.total = s;
          ++i;
          break;
        }
        o.shells.push_back(s);
      }
      --i;
    } else if (l.starts_with("  R-FACTORS FOR INTENSITIES OF DATA SET ")) {
      i = read_input_rfactors(lines, i, o) - 1;
    } else if (l.starts_with(" STATISTICS OF SCALED OUTPUT DATA SET : ") ||
               has(l, "WILSON STATISTICS OF SCALED DATA SET") || l.starts_with(" cpu time used by VELMAR") ||
               is_error_line(l) || is_warning_line(l)) {
      break;
    }
  }
  r.statistics.push_back(std::move(o));
  return i;
}

// --- Wilson -------------------------------------------------------------------------------

// The rows of a moments or cumulative-distribution table, `skip` lines below its title:
// count, resolution ("overall" on the last row) and the ratios in columns of `width` from
// column 18 on.
template <class Row>
size_t read_ratio_rows(Lines lines, size_t i, size_t skip, size_t width, std::vector<Row>& rows) {
  for (i += skip; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    Row row;
    const bool overall = column(l, 8, 10) == "   overall";
    if (!read_int(column(l, 0, 8), row.count) || (!overall && !read_real(column(l, 8, 10), row.resolution))) break;
    for (size_t k = 0; k < row.ratio.size(); ++k)
      if (!read_real(column(l, 18 + width * k, width), row.ratio[k])) return i;
    rows.push_back(row);
    if (overall) return i + 1;
  }
  return i;
}

size_t read_moments(Lines lines, size_t i, std::vector<MomentRow>& rows) { return read_ratio_rows(lines, i, 4, 13, rows); }

size_t read_cumulative(Lines lines, size_t i, std::vector<CumulativeRow>& rows) {
  return read_ratio_rows(lines, i, 2, 6, rows);
}

size_t read_wilson(Lines lines, size_t i, RunReport& r) {
  WilsonSection w;
  w.file = name_at(lines[i], 42);
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    if (l.starts_with("   WILSON LINE (using all data) : A=")) {
      read_real(after_label(l, ": A=", 8), w.a);
      read_real(after_label(l, " B=", 8), w.b);
      read_real(after_label(l, " CORRELATION=", 6), w.correlation);
    } else if (l.starts_with("      #      RES      SS        <I>")) {
      for (++i; i < lines.size(); ++i) {
        WilsonShell s;
        const std::string_view row = lines[i];
        if (!read_int(column(row, 0, 8), s.count) || !read_real(column(row, 8, 10), s.resolution) ||
            !read_real(column(row, 18, 8), s.ss) || !read_real(column(row, 26, 12), s.mean_intensity) ||
            !read_real(column(row, 38, 12), s.log_mean) || !read_real(column(row, 50, 10), s.bo))
          break;
        w.shells.push_back(s);
      }
      --i;
    } else if (l.starts_with("HIGHER ORDER MOMENTS OF WILSON DISTRIBUTION OF  CENTRIC DATA")) {
      i = read_moments(lines, i, w.centric_moments) - 1;
    } else if (l.starts_with("HIGHER ORDER MOMENTS OF WILSON DISTRIBUTION OF ACENTRIC DATA")) {
      i = read_moments(lines, i, w.acentric_moments) - 1;
    } else if (l.starts_with(" Nc(Z)obs/Nc(Z)exp versus resolution")) {
      i = read_cumulative(lines, i, w.centric_cumulative) - 1;
    } else if (l.starts_with(" Na(Z)obs/Na(Z)exp versus resolution")) {
      i = read_cumulative(lines, i, w.acentric_cumulative) - 1;
    } else if (l.starts_with(" List of ") && has(l, "(Z>")) {
      read_int(column(l, 9, 6), w.aliens);
    } else if (has(l, "WILSON STATISTICS OF SCALED DATA SET") || l.starts_with(" cpu time used by VELMAR") ||
               is_error_line(l) || is_warning_line(l)) {
      break;
    }
  }
  r.wilson.push_back(std::move(w));
  return i;
}

// --- zero dose ----------------------------------------------------------------------------

size_t read_decay_correlation(Lines lines, size_t i, ZeroDose& z) {
  DecayCorrelation c;
  c.first = name_at(lines[i], 20);
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    if (l.starts_with("      CRYSTAL_NAME= ")) {
      (c.second.empty() ? c.first_crystal : c.second_crystal) = name_at(l, 20);
    } else if (l.starts_with(" Second INPUT_FILE= ")) {
      c.second = name_at(l, 20);
    } else if (l.starts_with("   LIMIT      OF PAIRS")) {
      for (++i; i < lines.size(); ++i) {
        const std::string_view row = lines[i];
        const bool total = row.starts_with("    total");
        float limit = 0, corr = 0;
        long pairs = 0;
        if ((!total && !read_real(column(row, 0, 9), limit)) || !read_int(column(row, 9, 12), pairs) ||
            !read_real(column(row, 21, 13), corr))
          break;
        if (total) {
          c.total_pairs = pairs, c.total_correlation = corr;
          ++i;
          break;
        }
        c.limit.push_back(limit), c.pairs.push_back(pairs), c.correlation.push_back(corr);
      }
      for (; i < lines.size() && trim(lines[i]).empty(); ++i) {
      }
      if (i < lines.size() && is_warning_line(lines[i])) {
        c.warning = std::string(trim(lines[i]));
        for (size_t k = i + 1; k < lines.size() && continues_message(lines[k]); ++k)
          c.warning.append(1, ' ').append(trim(lines[k]));
      }
      break;
    } else if (!trim(l).empty() && !l.starts_with(" RESOLUTION")) {
      break;
    }
  }
  z.correlations.push_back(std::move(c));
  return i;
}

size_t read_dose_crystal(Lines lines, size_t i, ZeroDose& z) {
  CrystalDoses d;
  d.crystal = name_at(lines[i], 15);
  const size_t title = i;
  i = find_from(lines, i, "     initial    refined      initial    refined");
  if (i == lines.size()) i = title;
  for (i += 1; i < lines.size() && trim(lines[i]).empty(); ++i) {
  }
  for (; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    DoseRow row;
    if (!read_real(column(l, 2, 10), row.start_initial) || !read_real(column(l, 14, 10), row.start_refined) ||
        !read_real(column(l, 26, 10), row.rate_initial) || !read_real(column(l, 38, 10), row.rate_refined))
      break;
    row.start_held = column(l, 12, 1) == "*";
    row.rate_held = column(l, 36, 1) == "*";
    row.name = name_at(l, 50);
    d.rows.push_back(std::move(row));
  }
  z.doses.push_back(std::move(d));
  return i;
}

bool read_zero_dose_row(std::string_view l, ZeroDoseShell& s) {
  const bool total = l.starts_with("    total");
  return (total || read_real(column(l, 0, 9), s.limit)) && read_int(column(l, 9, 10), s.nunique) &&
         read_int(column(l, 19, 8), s.corrected) && read_real(column(l, 27, 10), s.corrected_per_error) &&
         read_real(column(l, 37, 12), s.sigma_ratio) && read_int(column(l, 49, 9), s.nfree);
}

size_t read_zero_dose_crystal(Lines lines, size_t i, ZeroDose& z) {
  CrystalZeroDose c;
  c.crystal = name_at(lines[i], 15);
  const size_t title = i;
  i = find_from(lines, i, "   LIMIT                        NERROR    S_norm");
  if (i == lines.size()) i = title;
  for (++i; i < lines.size(); ++i) {
    ZeroDoseShell s;
    if (!read_zero_dose_row(lines[i], s)) break;
    if (lines[i].starts_with("    total")) {
      c.total = s;
      ++i;
      break;
    }
    c.shells.push_back(s);
  }
  z.statistics.push_back(std::move(c));
  return i;
}

void read_six_column_values(std::string_view l, std::vector<float>& out) {
  for (size_t p = 8; p + 6 <= l.size(); p += 6) {
    float v = 0;
    if (!read_real(column(l, p, 6), v)) return;
    out.push_back(v);
  }
}

size_t read_sigma_scaling(Lines lines, size_t i, ZeroDose& z) {
  SigmaScaling s;
  s.name = name_at(lines[i], 43);
  for (++i; i < lines.size(); ++i) {
    const std::string_view l = lines[i];
    if (has(l, " RESOLUTION (ANGSTROM)")) continue;
    if (l.starts_with("        ") && !trim(l).empty()) {
      read_six_column_values(l, s.resolution);
    } else if (l.starts_with(" FACTOR ")) {
      read_six_column_values(l, s.factor);
    } else {
      break;
    }
  }
  z.sigma_scaling.push_back(std::move(s));
  return i;
}

// Which zero-dose table the walk is in: a CRYSTAL_NAME= line opens a crystal of that table.
enum class ZeroDoseTable { kNone, kDoses, kStatistics };

// --- the walk -----------------------------------------------------------------------------

struct Walk {
  RunReport r;
  CorrectionKind kind = CorrectionKind::kDecay;
  ZeroDoseTable zero_dose_table = ZeroDoseTable::kNone;
  bool timing_cpu = false, timing_wall = false;
};

size_t read_timing(Lines lines, size_t i, Walk& w) {
  const std::string_view l = lines[i];
  if (l.starts_with(" cpu time used by VELMAR ")) w.timing_cpu = read_real(column(l, 25, 10), w.r.cpu_seconds);
  if (l.starts_with(" elapsed wall-clock time ")) w.timing_wall = read_real(column(l, 25, 10), w.r.wall_seconds);
  return i + 1;
}

size_t read_zero_dose_line(Lines lines, size_t i, Walk& w) {
  const std::string_view l = lines[i];
  ZeroDose& z = w.r.zero_dose;
  if (has(l, "RESULTS FROM ZERO-DOSE EXTRAPOLATION OF REFLECTION INTENSITIES")) {
    z.present = true;
  } else if (has(l, "b(h)=0 and rejects this assumption if its probability is below")) {
    read_real(after_label(l, "probability is below", 5), z.level_percent);
  } else if (l.starts_with(" First  INPUT_FILE= ")) {
    return read_decay_correlation(lines, i, z);
  } else if (has(l, " X-RAY DOSE PARAMETERS USED FOR EACH INPUT DATA SET")) {
    w.zero_dose_table = ZeroDoseTable::kDoses;
  } else if (has(l, " STATISTICS OF 0-DOSE CORRECTED DATA FROM EACH CRYSTAL")) {
    w.zero_dose_table = ZeroDoseTable::kStatistics;
  } else if (l.starts_with(" CRYSTAL_NAME= ") && w.zero_dose_table == ZeroDoseTable::kDoses) {
    return read_dose_crystal(lines, i, z);
  } else if (l.starts_with(" CRYSTAL_NAME= ") && w.zero_dose_table == ZeroDoseTable::kStatistics) {
    return read_zero_dose_crystal(lines, i, z);
  } else if (l.starts_with(" SCALING FACTORS FOR Sigma(I) FOR DATA SET ")) {
    return read_sigma_scaling(lines, i, z);
  }
  return i + 1;
}

size_t read_line(Lines lines, size_t i, Walk& w) {
  const std::string_view l = lines[i];
  const std::string_view t = trim(l);
  if (is_error_line(l) || is_warning_line(l)) return read_message(lines, i, w.r);
  if (w.r.banner.empty() && has(l, "***** VELMAR *****")) {
    w.r.banner = std::string(t);
    return i + 1;
  }
  if (has(l, "THE DATA COLLECTION STATISTICS REPORTED BELOW ASSUMES:")) return read_assumed_cell(lines, i, w.r);
  if (t == "READING INPUT REFLECTION DATA FILES") return read_loading(lines, i, w.r);
  if (t == "OVERALL SCALING AND CRYSTAL DISORDER CORRECTION") return read_overall_scaling(lines, i, w.r);
  if (t == "CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & RESOLUTION") w.kind = CorrectionKind::kDecay;
  if (t == "CORRECTION FACTORS AS FUNCTION OF X (fast) & Y(slow) IN THE DETECTOR PLANE")
    w.kind = CorrectionKind::kModulation;
  if (t == "CORRECTION FACTORS AS FUNCTION OF IMAGE NUMBER & DETECTOR SURFACE POSITION")
    w.kind = CorrectionKind::kAbsorption;
  if (l.starts_with(" RECIPROCAL CORRECTION FACTORS FOR INPUT DATA SETS MERGED TO"))
    return read_correction_group(lines, i, w.kind, w.r);
  if (t == "CORRECTION PARAMETERS FOR THE STANDARD ERROR OF REFLECTION INTENSITIES")
    return read_error_model(lines, i, w.r);
  if (l.starts_with("FACTOR TO PLACE ALL DATA SETS TO AN APPROXIMATE ABSOLUTE SCALE")) {
    read_real(column(l, 63, 13), w.r.absolute_scale);
    return i + 1;
  }
  if (l.starts_with(" STATISTICS OF SCALED OUTPUT DATA SET : ")) return read_output_statistics(lines, i, w.r);
  if (l.starts_with("    WILSON STATISTICS OF SCALED DATA SET: ")) return read_wilson(lines, i, w.r);
  if (l.starts_with(" cpu time used by VELMAR ") || l.starts_with(" elapsed wall-clock time "))
    return read_timing(lines, i, w);
  return read_zero_dose_line(lines, i, w);
}

[[noreturn]] void stop_failed_run(const std::string& source, const RunReport& r) {
  std::string text = " !!! ERROR !!! THE RUN THAT WROTE " + source + " STOPPED WITH AN ERROR:";
  for (const RunMessage& m : r.messages)
    if (m.error) text += "\n   " + m.text;
  stop_verbatim(text);
}

}  // namespace

RunReport read_run_report(const std::string& text, const std::string& source) {
  const std::vector<std::string_view> all = split_lines(text);
  const Lines lines(all);
  Walk w;
  for (size_t i = 0; i < lines.size();) i = read_line(lines, i, w);
  if (w.r.banner.empty()) stop("!!! ERROR !!! " + source + " IS NOT A VELMAR REPORT FILE");
  const bool finished = w.timing_cpu && w.timing_wall;
  if (!finished) {
    for (const RunMessage& m : w.r.messages)
      if (m.error) stop_failed_run(source, w.r);
    stop("!!! ERROR !!! THE RUN THAT WROTE " + source + " HAS NOT FINISHED (NO TIMING LINES AT ITS END)");
  }
  return std::move(w.r);
}

}  // namespace velmar::report
