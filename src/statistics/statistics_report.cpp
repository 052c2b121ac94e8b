// The printed statistics of an output group and the statistics stage of the run (rstat).
#include <string>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "statistics/statistics.hpp"

namespace velmar {
namespace {

constexpr const char* kDefinitions[] = {
    " DEFINITIONS:",
    " R-FACTOR",
    " observed = (SUM(ABS(I(h,i)-I(h))))/(SUM(I(h,i)))",
    " expected = expected R-FACTOR derived from Sigma(I)",
    " COMPARED = number of reflections used for calculating R-FACTOR",
    " I/SIGMA  = mean of intensity/Sigma(I) of unique reflections",
    "            (after merging symmetry-related observations)",
    " Sigma(I) = standard deviation of reflection intensity I",
    "            estimated from sample statistics",
    " R-meas   = redundancy independent R-factor (intensities)",
    " CC(1/2)  = percentage of correlation between intensities from",
    "            random half-datasets. Correlation significant at",
    "            the 0.1% level is marked by an asterisk.",
    " Anomal   = percentage of correlation between random half-sets",
    "  Corr      of anomalous intensity differences. Correlation",
    "            significant at the 0.1% level is marked.",
    " SigAno   = mean anomalous difference in units of its estimated",
    "            standard deviation (|F(+)-F(-)|/Sigma). F(+), F(-)",
    "            are structure factor estimates obtained from the",
    "            merged intensity observations in each parity class.",
    "  Nano    = Number of unique reflections used to calculate",
    "            Anomal_Corr & SigAno. At least two observations",
    "            for each (+ and -) parity are required.",
};

const char* truth(bool b) { return b ? "TRUE " : "FALSE"; }

void print_summary(const Report& rep, const OutputGroup& g, const OutputCounts& c) {
  rep.both(frame_line());
  std::string s = " STATISTICS OF SCALED OUTPUT DATA SET : ";
  put_char(s, g.name, kMaxNameLength);
  rep.both(s);
  s = " FILE TYPE:         KVD_ASCII      MERGE=";
  s += truth(g.merged());
  s += "          FRIEDEL'S_LAW=";
  s += truth(g.friedel_law());
  rep.both(s);
  rep.both("");
  s.clear();
  put_i(s, c.rejected, 10);
  s += " OUT OF";
  put_i(s, c.considered, 10);
  s += " REFLECTIONS REJECTED";
  rep.both(s);
  s.clear();
  put_i(s, c.written, 10);
  s += " REFLECTIONS ON OUTPUT FILE ";
  rep.both(s);
  rep.both("");
  rep.both(frame_line());
  for (const char* line : kDefinitions) rep.both(line);
  if (!g.friedel_law()) rep.both("       NOTE:      Friedel pairs are treated as different reflections.");
}

void put_limit(std::string& s, const std::span<const float> shells, size_t row) {
  if (row < shells.size())
    put_f(s, shells[row], 9, 2);
  else
    s += "    total";
}

void put_percent(std::string& s, float v, int w) {
  put_f(s, v, w, 1);
  s += '%';
}

std::string shell_row(std::span<const float> shells, size_t row, const ShellSums& sums) {
  const ShellValues v = shell_values(sums);
  std::string s;
  put_limit(s, shells, row);
  put_i(s, sums.observed, 12);
  put_i(s, sums.unique, 8);
  put_i(s, sums.possible, 10);
  put_percent(s, v.completeness, 11);
  put_percent(s, v.r_observed, 10);
  put_percent(s, v.r_expected, 9);
  put_i(s, sums.compared, 9);
  put_f(s, v.i_over_sigma, 8, 2);
  put_percent(s, v.r_meas, 8);
  put_f(s, v.cc_half, 8, 1);
  s += v.cc_mark;
  put_i(s, v.anomal_corr, 6);
  s += v.anomal_mark;
  put_f(s, v.sigano, 8, 3);
  put_i(s, sums.nano, 8);
  return s;
}

// The shell table goes to the report and the terminal: it is the main result of the run.
void print_shell_table(const Report& rep, std::span<const float> shells, const GroupStatistics& st) {
  std::string s = " SUBSET OF INTENSITY DATA WITH SIGNAL/NOISE >=";
  put_f(s, -3.0, 5, 1);
  s += " AS FUNCTION OF RESOLUTION";
  rep.both(s);
  rep.both(" RESOLUTION     NUMBER OF REFLECTIONS    COMPLETENESS R-FACTOR  R-FACTOR COMPARED I/SIGMA   R-meas "
           " CC(1/2)  Anomal  SigAno   Nano");
  rep.both("   LIMIT     OBSERVED  UNIQUE  POSSIBLE     OF DATA   observed  expected" + std::string(37, ' ') +
           "      Corr");
  for (size_t row = 0; row < st.rows(); ++row) rep.both(shell_row(shells, row, st.shell[row]));
}

// The R-factor tables of the input data sets are long; they go to the report file only.
void print_set_tables(const Report& rep, const ScaledData& data, std::span<const float> shells,
                      const GroupStatistics& st) {
  rep.to_file(" ========== STATISTICS OF INPUT DATA SET ==========");
  for (size_t p = 0; p < st.sets.size(); ++p) {
    std::string s = "  R-FACTORS FOR INTENSITIES OF DATA SET ";
    put_char(s, data.tables.sets[static_cast<size_t>(st.sets[p])].name, kMaxNameLength);
    rep.to_file(s);
    rep.to_file(" RESOLUTION   R-FACTOR   R-FACTOR   COMPARED");
    rep.to_file("   LIMIT      observed   expected");
    for (size_t row = 0; row < st.rows(); ++row) {
      const SetShellSums& sums = st.of_set(p, row);
      const SetShellValues v = set_shell_values(sums);
      s.clear();
      put_limit(s, shells, row);
      put_percent(s, v.r_observed, 12);
      put_percent(s, v.r_expected, 10);
      put_i(s, sums.compared, 10);
      rep.to_file(s);
    }
  }
}

}  // namespace

void print_group_statistics(const Report& rep, const ScaledData& data, int group, const OutputCounts& counts,
                            std::span<const float> shells, const GroupStatistics& st) {
  print_summary(rep, data.tables.groups[static_cast<size_t>(group - 1)], counts);
  print_shell_table(rep, shells, st);
  print_set_tables(rep, data, shells, st);
}

void rstat(const Report& rep, const ScaledData& data, std::span<const float> shells, RandomState& rng) {
  for (size_t g = 0; g < data.tables.groups.size(); ++g) {
    if (data.tables.groups[g].name.find_first_not_of(' ') == std::string::npos) continue;
    const int group = static_cast<int>(g) + 1;
    const OutputCounts counts = vmrhkl(data, group);
    if (!counts.error.empty()) stop(counts.error);
    const GroupStatistics st = shell_statistics(data, group, shells, rng);
    print_group_statistics(rep, data, group, counts, shells, st);
    rep.flush();
  }
}

}  // namespace velmar
