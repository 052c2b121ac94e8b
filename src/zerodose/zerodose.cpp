#include "zerodose/zerodose.hpp"

#include <algorithm>
#include <limits>

#include "common/fortran_format.hpp"
#include "common/scratch_files.hpp"
#include "statistics/sigma_scaling.hpp"
#include "zerodose/decay_records.hpp"
#include "zerodose/dose_apply.hpp"
#include "zerodose/dose_check.hpp"
#include "zerodose/dose_refinement.hpp"

namespace velmar {
namespace {

constexpr const char* kExplanation[] = {
    " Radiation damage can lead to localized modifications of the structure.",
    " To correct for this effect, VELMAR modifies the intensity measurements",
    " I(h,i) by individual correction factors,",
    "",
    "                      exp{-b(h)*dose(h,i)}",
    "",
    " where h,i denotes the i-th observation with unique reflection indices",
    " h, and dose(h,i) the X-ray dose accumulated by the crystal when the",
    " reflection was recorded. Assuming a constant dose for each image",
    " (dose_rate), the accumulated dose when recording image_number(i), on",
    " which I(h,i) was observed, is then",
    "",
    " dose(h,i) = starting_dose + dose_rate * (image_number(i)-first_image)",
    "",
    " The decay factor b(h) is determined from the assumption that symmetry",
    " related reflections in a data set taken from the same crystal should",
    " have the same intensity after correction. Moreover, b(h) is assumed to",
    " be the same for Friedel-pairs and independent of the X-ray wavelength.",
    "",
    " To avoid overfitting the data, VELMAR starts with the hypothesis that",
};

void print_explanation(const Report& rep, float level) {
  rep.to_file("");
  rep.to_file("");
  rep.to_file(frame_line());
  rep.to_file(std::string(10, ' ') + "RESULTS FROM ZERO-DOSE EXTRAPOLATION OF REFLECTION INTENSITIES");
  rep.to_file(frame_line());
  for (const char* line : kExplanation) rep.to_file(line);
  std::string last = " b(h)=0 and rejects this assumption if its probability is below";
  put_f(last, 100.0 * level, 5, 1);
  rep.to_file(last + "%.");
}

float single(double x) {
  constexpr double kMax = std::numeric_limits<float>::max();
  return static_cast<float>(std::clamp(x, -kMax, kMax));
}

// What the output writer prints about the dose of every data set of a named crystal.
void record_dose_used(ControlTables& t, const DoseParameters& dose) {
  for (size_t j = 0; j < t.sets.size(); ++j) {
    if (t.sets[j].crystal <= 0) continue;
    t.sets[j].dose = {true, single(dose.starting_dose[j]), single(dose.dose_rate[j]), dose.first_image[j]};
  }
}

}  // namespace

void zerodose(const Report& rep, ControlTables& t, const UniqueTable& unique, ObservationList& obs,
              std::span<const float> shells, const std::string& scratch_name) {
  if (t.sets.empty() || t.run.crystals <= 0 || unique.size() == 0 || shells.empty()) return;
  const float level = t.run.dose_significance;
  const ZeroDoseData d{t, unique, obs, shells};
  print_explanation(rep, level);
  const LogMomentTable table = log_moment_table();
  DoseParameters dose = dose_parameters(t);
  DecayRecords records;
  {
    const ScratchFileGuard scratch(scratch_name);  // removes the file on every way out
    const DoseCheck check = dosecheck(rep, d, dose, table, level, scratch_name);
    rep.flush();
    records = read_decay_records(scratch_name, check.records, static_cast<int>(t.sets.size()));
  }
  refine_dose_parameters(rep, d, dose, records, table, level);
  rep.flush();
  const std::vector<ZeroDoseShell> stats = doseapply(d, dose, table, level);
  print_zero_dose_statistics(rep, d, dose, stats);
  record_dose_used(t, dose);
  esdsca(rep, t.run.wfac1, kSigmaScalingBins, t, unique, obs);
  rep.flush();
}

}  // namespace velmar
