#include "zerodose/dose_points.hpp"

#include <algorithm>
#include <cmath>

#include "common/error.hpp"

namespace velmar {
namespace {

// Doses beyond this (absurd STARTING_DOSE= or DOSE_RATE= values) make no points: they would
// not survive the single-precision point arrays.
constexpr double kLargestDose = 1.0e30;

}  // namespace

float first_image(const DataSet& s) {
  if (s.load.starting_frame >= 0) return static_cast<float>(s.load.starting_frame);
  return s.range.z_min <= s.range.z_max ? s.range.z_min : 0.0f;
}

DoseParameters dose_parameters(const ControlTables& t) {
  DoseParameters p;
  for (size_t j = 0; j < t.sets.size(); ++j) {
    const DataSet& s = t.sets[j];
    p.first_image.push_back(first_image(s));
    p.starting_dose.push_back(s.starting_dose);
    p.dose_rate.push_back(s.dose_rate);
    if (s.crystal <= 0) continue;
    if (p.crystal_sets.size() < static_cast<size_t>(s.crystal)) p.crystal_sets.resize(static_cast<size_t>(s.crystal));
    p.crystal_sets[static_cast<size_t>(s.crystal - 1)].push_back(static_cast<int>(j));
  }
  return p;
}

DecayPoints::DecayPoints(int max_observations, int max_groups) {
  const auto m = static_cast<size_t>(std::max(max_observations, 0));
  const auto g = static_cast<size_t>(std::max(max_groups, 1));
  w.resize(m), x.resize(m), y.resize(m), i.resize(m), sigma.resize(m), f.resize(m), index.resize(m);
  n.reserve(g), set.reserve(g);
  a.resize(g), sd_a.resize(g);
  raw.reserve(m);
}

size_t collect_points(const ZeroDoseData& d, const LogMomentTable& table, size_t u, int j, DecayPoints& p) {
  p.raw.clear();
  const auto count = static_cast<size_t>(d.unique.count(u, j));
  if (count > p.raw.capacity()) assert_violation("ZERODOSE");
  const auto first = static_cast<size_t>(d.unique.first(u, j));
  const ObservationList& obs = d.obs;
  for (size_t k = first; k < first + count; ++k) {
    if (!(obs.sigma[k] > 0.0f) || obs.misfit[k] != 0) continue;
    const float f = obs.corr[k];
    const float i = obs.intensity[k] * f, sigma = obs.sigma[k] * f;
    const LogMoments m = trunclg_lookup(table, i, sigma);
    if (!(m.sd > 0.0f)) continue;
    p.raw.push_back({1.0f / (m.sd * m.sd), m.mean, i, sigma, obs.pos[k].z, obs.key[k].isym, static_cast<int64_t>(k)});
  }
  return p.raw.size();
}

bool add_group(DecayPoints& p, int t, const GroupRule& rule, int j, double offset, double rate, float first) {
  auto dose = [&](const RawPoint& r) { return offset + rate * (static_cast<double>(r.image) - first); };
  auto member = [&](const RawPoint& r) { return t * r.isym >= 0 && std::fabs(dose(r)) <= kLargestDose; };
  int count = 0;
  float lo = 0.0f, hi = 0.0f;
  for (const RawPoint& r : p.raw) {
    if (!member(r)) continue;
    lo = count == 0 ? r.image : std::min(lo, r.image);
    hi = count == 0 ? r.image : std::max(hi, r.image);
    ++count;
  }
  if (count < rule.min_points || (rule.need_span && !(hi - lo > 3.0f))) return false;
  if (p.points + static_cast<size_t>(count) > p.w.size() || p.n.size() >= p.a.size()) assert_violation("ZERODOSE");
  for (const RawPoint& r : p.raw) {
    if (!member(r)) continue;
    const size_t k = p.points++;
    p.w[k] = r.w;
    p.x[k] = static_cast<float>(dose(r));
    p.y[k] = r.y;
    p.i[k] = r.i;
    p.sigma[k] = r.sigma;
    p.index[k] = r.index;
  }
  p.n.push_back(count);
  p.set.push_back(j);
  return true;
}

}  // namespace velmar
