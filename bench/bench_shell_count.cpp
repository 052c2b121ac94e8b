// Counting the possible reflections (nuhkl) of large cells at high resolution: the cost of
// the completeness column of the statistics for the largest real data sets.
//
//   bench_shell_count
#include <chrono>
#include <cmath>
#include <cstdio>

#include "symmetry/cell_geometry.hpp"
#include "symmetry/shell_count.hpp"
#include "symmetry/spacegroups.hpp"

namespace {

void measure(const char* what, int sg, const velmar::Cell& cell, float dmin, int shells) {
  const velmar::SymopList ops = velmar::xsymy(1, cell, sg).ops;
  const velmar::Mat3 b = velmar::reciprocal_basis(cell);
  const float ss_max = 1.0f / (dmin * dmin);
  const auto t0 = std::chrono::steady_clock::now();
  int64_t total = 0;
  for (int i = 1; i <= shells; ++i) {
    const float s1 = static_cast<float>(i - 1) * ss_max / static_cast<float>(shells);
    const float s2 = static_cast<float>(i) * ss_max / static_cast<float>(shells);
    total += velmar::nuhkl(s1, s2, ops, b).n;
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%-40s %12lld possible reflections in %8.3f s\n", what, static_cast<long long>(total), s);
}

}  // namespace

int main() {
  measure("700 A cubic cell, P1, 2.5 A, 20 shells", 1, {700, 700, 700, 90, 90, 90}, 2.5f, 20);
  measure("700 A cubic cell, P2_13, 2.5 A, 20 shells", 198, {700, 700, 700, 90, 90, 90}, 2.5f, 20);
  measure("50 A cubic cell, P1, 0.7 A, 20 shells", 1, {50, 50, 50, 90, 90, 90}, 0.7f, 20);
  measure("50 A cell, P4_32_12, 0.7 A, 20 shells", 96, {50, 50, 50, 90, 90, 90}, 0.7f, 20);
  return 0;
}
