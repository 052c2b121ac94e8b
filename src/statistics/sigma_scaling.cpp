#include "statistics/sigma_scaling.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/equivalents.hpp"
#include "common/error.hpp"
#include "common/fortran_format.hpp"

namespace velmar {
namespace {

constexpr int kFactorsPerLine = 20;

bool has_factors(const DataSet& s, const ControlTables& t) {
  return !t.groups[static_cast<size_t>(s.group - 1)].name.empty() && s.range.ss_max > s.range.ss_min;
}

// Adds the kept observations of class c to the sums of the reflection's bin.
void add_deviations(const Equivalents& eq, int c, DeviationSums& bin) {
  double w = 0.0, wi = 0.0;
  for (size_t k = 0; k < eq.n; ++k) {
    if (c * eq.isym[k] < 0 || !(eq.sigma[k] > 0.0f)) continue;
    const double wk = 1.0 / (static_cast<double>(eq.sigma[k]) * eq.sigma[k]);
    w += wk;
    wi += wk * eq.intensity[k];
  }
  if (!(w > 0.0)) return;
  const double mean = wi / w, var_mean = 1.0 / w;
  for (size_t k = 0; k < eq.n; ++k) {
    if (c * eq.isym[k] < 0 || !(eq.sigma[k] > 0.0f)) continue;
    const double s = eq.sigma[k], dev = (eq.intensity[k] - mean) / s;
    bin.d += dev * dev;
    bin.e += 1.0 - var_mean / (s * s);
  }
}

std::vector<DeviationSums> deviation_sums(float wc, int nbin, const ControlTables& t, const UniqueTable& unique,
                                          const ObservationList& obs, int j, Equivalents& eq) {
  const DataSet& s = t.sets[static_cast<size_t>(j)];
  const int mode = t.groups[static_cast<size_t>(s.group - 1)].mode;
  const int set[] = {j};
  std::vector<DeviationSums> sums(static_cast<size_t>(nbin));
  for (size_t u = 0; u < unique.size(); ++u) {
    if (unique.count(u, j) < 2) continue;
    if (!gather_equivalents(unique, obs, set, u, eq)) assert_violation("ESDSCA");
    DeviationSums& bin = sums[static_cast<size_t>(sigma_bin(unique.ss[u], s.range.ss_min, s.range.ss_max, nbin))];
    for (const int c : parity_classes(mode)) {
      if (reject(c, eq.isym_list(), eq.intensity_list(), eq.sigma_list(), wc, 1).m > 0) add_deviations(eq, c, bin);
    }
  }
  return sums;
}

void rescale_sigmas(std::span<const float> factor, const DataSet& s, const UniqueTable& unique, int j,
                    ObservationList& obs) {
  const int nbin = static_cast<int>(factor.size());
  for (size_t u = 0; u < unique.size(); ++u) {
    const auto count = static_cast<size_t>(unique.count(u, j));
    if (count == 0) continue;
    const float f = factor[static_cast<size_t>(sigma_bin(unique.ss[u], s.range.ss_min, s.range.ss_max, nbin))];
    const auto first = static_cast<size_t>(unique.first(u, j));
    for (size_t k = first; k < first + count; ++k) obs.sigma[k] *= f;
  }
}

void print_row(const Report& rep, std::string_view head, std::span<const float> values) {
  for (size_t k = 0; k < values.size(); k += kFactorsPerLine) {
    std::string line(head);
    for (size_t m = k; m < std::min(values.size(), k + kFactorsPerLine); ++m) put_f(line, values[m], 6, 2);
    rep.to_file(line);
  }
}

void print_factors(const Report& rep, const DataSet& s, std::span<const float> factor) {
  std::string line = " SCALING FACTORS FOR Sigma(I) FOR DATA SET ";
  put_char(line, s.name, kMaxNameLength);
  rep.to_file(line);
  rep.to_file(std::string(34, ' ') + " RESOLUTION (ANGSTROM)  ");
  const auto nbin = static_cast<int>(factor.size());
  std::vector<float> centre(factor.size());
  const float width = (s.range.ss_max - s.range.ss_min) / static_cast<float>(nbin);
  for (int k = 0; k < nbin; ++k)
    centre[static_cast<size_t>(k)] = 1.0f / std::sqrt(s.range.ss_min + (static_cast<float>(k) + 0.5f) * width);
  print_row(rep, "        ", centre);
  print_row(rep, " FACTOR ", factor);
}

}  // namespace

float sigma_factor(const DeviationSums& s) {
  return s.d > 0.0 && s.e > 1.0 ? static_cast<float>(std::sqrt(s.d / s.e)) : 1.0f;
}

int sigma_bin(float ss, float ss_min, float ss_max, int nbin) {
  const float position = (ss - ss_min) * static_cast<float>(nbin) / (ss_max - ss_min);
  if (!(position >= 0.0f)) return 0;
  return std::min(static_cast<int>(position), nbin - 1);
}

std::vector<float> esdsca(const Report& rep, float wc, int nbin, const ControlTables& t, const UniqueTable& unique,
                          ObservationList& obs) {
  const size_t nset = t.sets.size();
  std::vector<float> factors(nset * static_cast<size_t>(nbin), 1.0f);
  if (nbin < 1) return factors;
  Equivalents eq(unique.max_observations);
  rep.to_file(frame_line());
  rep.to_file(std::string(14, ' ') + "SCALING FACTORS FOR Sigma(I) AS FUNCTION OF RESOLUTION");
  rep.to_file(frame_line());
  for (size_t j = 0; j < nset; ++j) {
    const DataSet& s = t.sets[j];
    if (!has_factors(s, t)) continue;
    const std::span<float> factor(factors.data() + j * static_cast<size_t>(nbin), static_cast<size_t>(nbin));
    const std::vector<DeviationSums> sums = deviation_sums(wc, nbin, t, unique, obs, static_cast<int>(j), eq);
    for (size_t b = 0; b < sums.size(); ++b) factor[b] = sigma_factor(sums[b]);
    rescale_sigmas(factor, s, unique, static_cast<int>(j), obs);
    print_factors(rep, s, factor);
  }
  return factors;
}

}  // namespace velmar
