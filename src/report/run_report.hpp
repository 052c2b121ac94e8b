// The results of a finished VELMAR run as read back from its report file VELMAR.LP.
//
// Every table of the report that the HTML page shows has a struct here; a section that the
// run did not print leaves its vector empty. Numbers that the report prints as asterisks
// (a field too narrow for the value) are read as NaN.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace velmar::report {

// A warning or error block of the run: its first line and the lines that continue it.
struct RunMessage {
  bool error = false;
  std::string text;  // lines separated by '\n', leading and trailing blanks removed
};

// One row of the loading summary.
struct LoadedDataSet {
  int number = 0;
  float mean_intensity = 0;
  long accepted = 0, rejected = 0;
  std::string name;
};

// Overall scaling: the correlations of each pair of data sets and K, B per data set.
struct DataSetPair {
  int i = 0, j = 0;
  long common = 0;
  float correlation = 0, ratio = 0, b = 0;
};
struct ScaleFactor {
  float k = 1, b = 0;
  std::string name;
};
struct OverallScaling {
  std::vector<DataSetPair> pairs;
  std::vector<ScaleFactor> factors;
};

// One correction-factor image of a data set as the report describes it.
enum class CorrectionKind { kDecay = 1, kModulation = 2, kAbsorption = 3 };
struct CorrectionImage {
  std::string file;               // the CBF image in the run directory
  float xmin = 0, xmax = 0;       // fast axis: image number (DECAY, ABSORPTION) or detector x
  int nx = 0;
  float ymin = 0, ymax = 0;       // slow axis: SS (DECAY) or detector y (MODULATION)
  int ny = 0;                     // for ABSORPTION the number of surface positions
  std::vector<std::array<int, 2>> surface;  // ABSORPTION: detector position of each node
  long reflections = 0;
};
struct CorrectionGroup {
  CorrectionKind kind = CorrectionKind::kDecay;
  std::string output_file;
  bool friedel = true;
  long factors = 0;
  float degrees_of_freedom = 0, chi2 = 0;
  int cycles = 0;
  std::vector<CorrectionImage> images;
};

struct ErrorModelRow {
  float a = 0, b = 0, isa = 0, isa0 = 0;
  std::string name;
};

// One row of the statistics table of an output file; the total row has limit 0.
struct ShellStatistics {
  float limit = 0;
  long observed = 0, unique = 0, possible = 0;
  float completeness = 0, r_observed = 0, r_expected = 0;
  long compared = 0;
  float i_sigma = 0, r_meas = 0, cc_half = 0;
  bool cc_half_significant = false;
  float anomalous_corr = 0;
  bool anomalous_significant = false;
  float sig_ano = 0;
  long nano = 0;
};
struct InputRFactors {  // R-factors of one input data set against the merged intensities
  std::string name;
  std::vector<float> limit, r_observed, r_expected;
  std::vector<long> compared;
  float total_r_observed = 0, total_r_expected = 0;
  long total_compared = 0;
};
struct OutputStatistics {
  std::string file;
  bool merged = true, friedel = true;
  long rejected = 0, considered = 0, written = 0;
  std::vector<ShellStatistics> shells;
  ShellStatistics total;
  std::vector<InputRFactors> inputs;
};

// The Wilson section of an output file.
struct WilsonShell {
  long count = 0;
  float resolution = 0, ss = 0, mean_intensity = 0, log_mean = 0, bo = 0;
};
struct MomentRow {
  long count = 0;
  float resolution = 0;  // 0 on the overall row
  std::array<float, 3> ratio{};
};
struct CumulativeRow {
  long count = 0;
  float resolution = 0;  // 0 on the overall row
  std::array<float, 10> ratio{};  // observed/expected for Z = 0.1 .. 1.0
};
struct WilsonSection {
  std::string file;
  float a = 0, b = 0, correlation = 0;
  std::vector<WilsonShell> shells;
  std::vector<MomentRow> centric_moments, acentric_moments;  // overall row last
  std::vector<CumulativeRow> centric_cumulative, acentric_cumulative;  // overall row last
  long aliens = 0;
};

// Zero-dose extrapolation.
struct DecayCorrelation {  // common decay factors of two data sets
  std::string first, first_crystal, second, second_crystal;
  std::vector<float> limit, correlation;
  std::vector<long> pairs;
  long total_pairs = 0;
  float total_correlation = 0;
  std::string warning;  // empty, or the warning printed under the table
};
struct DoseRow {
  float start_initial = 0, start_refined = 0, rate_initial = 0, rate_refined = 0;
  bool start_held = false, rate_held = false;
  std::string name;
};
struct CrystalDoses {
  std::string crystal;
  std::vector<DoseRow> rows;
};
struct ZeroDoseShell {
  float limit = 0;  // 0 on the total row
  long nunique = 0, corrected = 0;
  float corrected_per_error = 0, sigma_ratio = 0;
  long nfree = 0;
};
struct CrystalZeroDose {
  std::string crystal;
  std::vector<ZeroDoseShell> shells;
  ZeroDoseShell total;
};
struct SigmaScaling {
  std::string name;
  std::vector<float> resolution, factor;
};
struct ZeroDose {
  bool present = false;
  float level_percent = 0;
  std::vector<DecayCorrelation> correlations;
  std::vector<CrystalDoses> doses;
  std::vector<CrystalZeroDose> statistics;
  std::vector<SigmaScaling> sigma_scaling;
};

struct RunReport {
  std::string banner;
  std::vector<RunMessage> messages;
  int space_group = 0;
  std::array<float, 6> cell{};
  std::vector<LoadedDataSet> data_sets;
  std::vector<OverallScaling> scaling;
  std::vector<CorrectionGroup> corrections;
  std::vector<ErrorModelRow> error_model;
  float absolute_scale = 0;  // 0 when the report has no such line
  ZeroDose zero_dose;
  std::vector<OutputStatistics> statistics;
  std::vector<WilsonSection> wilson;
  float cpu_seconds = 0, wall_seconds = 0;
};

// Reads the text of a report file. A report of a run that stopped with an error, or of a
// run that has not finished (no timing lines), stops with a message that says so; `source`
// names the file in that message.
RunReport read_run_report(const std::string& text, const std::string& source);

}  // namespace velmar::report
