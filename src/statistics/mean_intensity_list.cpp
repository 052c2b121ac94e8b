#include "statistics/mean_intensity_list.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "common/error.hpp"
#include "common/fortran_format.hpp"

namespace velmar {
namespace {

constexpr size_t kFlushSize = size_t{1} << 20;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

[[noreturn]] void cannot_write(const std::string& name) { stop("!!! ERROR !!! CANNOT WRITE FILE " + name); }

// Data sets whose output group has a name and, for group > 0, is that group.
std::vector<int> sets_used(const ControlTables& t, int group) {
  std::vector<int> sets;
  for (size_t j = 0; j < t.sets.size(); ++j) {
    const int g = t.sets[j].group;
    const std::string& name = t.groups[static_cast<size_t>(g - 1)].name;
    if (name.find_first_not_of(' ') != std::string::npos && (group == 0 || g == group))
      sets.push_back(static_cast<int>(j));
  }
  return sets;
}

// Sums over the usable observations of unique reflection u: count, S1 and S2.
struct MeanSums {
  int n = 0;
  double s1 = 0.0, s2 = 0.0;
};

MeanSums mean_sums(const UniqueTable& unique, const ObservationList& obs, const std::vector<int>& sets, size_t u) {
  MeanSums m;
  for (const int j : sets) {
    const auto first = static_cast<size_t>(unique.first(u, j));
    const auto end = first + static_cast<size_t>(unique.count(u, j));
    for (size_t i = first; i < end; ++i) {
      const float f = obs.corr[i];
      if (!(obs.sigma[i] > 0.0f) || !(f > 0.0f)) continue;
      ++m.n;
      m.s1 += static_cast<double>(obs.intensity[i]) * f;
      const double s = static_cast<double>(obs.sigma[i]) * f;
      m.s2 += s * s;
    }
  }
  return m;
}

void flush(std::string& buffer, std::FILE* f, const std::string& name) {
  if (!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), f) != buffer.size()) cannot_write(name);
  buffer.clear();
}

}  // namespace

MeanIntensityList makref(const ControlTables& t, const UniqueTable& unique, const ObservationList& obs, int group,
                         const std::string& name) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "w"));
  if (!file) cannot_write(name);
  const std::vector<int> sets = sets_used(t, group);
  MeanIntensityList list;
  std::string buffer;
  buffer.reserve(kFlushSize + 128);
  for (size_t u = 0; u < unique.size(); ++u) {
    const UniqueTable::Entry& e = unique.uniq[u];
    if (e.cls < 0) continue;
    const MeanSums m = mean_sums(unique, obs, sets, u);
    if (m.n == 0) continue;
    const float ss = unique.ss[u];
    put_i(buffer, e.h, 6);
    put_i(buffer, e.k, 6);
    put_i(buffer, e.l, 6);
    put_e(buffer, static_cast<float>(m.s1 / m.n), 15, 7);
    put_e(buffer, static_cast<float>(std::sqrt(m.s2) / m.n), 15, 7);
    put_e(buffer, ss, 15, 7);
    buffer += '\n';
    if (buffer.size() >= kFlushSize) flush(buffer, file.get(), name);
    list.ss_min = list.lines == 0 ? ss : std::min(list.ss_min, ss);
    list.ss_max = list.lines == 0 ? ss : std::max(list.ss_max, ss);
    ++list.lines;
  }
  flush(buffer, file.get(), name);
  if (std::fclose(file.release()) != 0) cannot_write(name);
  return list;
}

}  // namespace velmar
