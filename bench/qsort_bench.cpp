// Times the key sort on a list the size of a large loading run: N random reflection keys
// with intensity, sigma and four auxiliary columns carried along.
//   qsort_bench [N]   (default 5000000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "symmetry/qsort.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Fills keys: "wide" draws every field from the full 16-bit range; otherwise indices up
// to +-60 and isym up to +-48, as a diffraction data set has them.
void fill(std::vector<velmar::ReflKey>& rec, bool wide, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> full(-32767, 32766), index(-60, 60), op(-48, 48);
  for (auto& r : rec) {
    if (wide) {
      r = {static_cast<int16_t>(full(rng)), static_cast<int16_t>(full(rng)), static_cast<int16_t>(full(rng)),
           static_cast<int16_t>(full(rng))};
    } else {
      r = {static_cast<int16_t>(index(rng)), static_cast<int16_t>(index(rng)), static_cast<int16_t>(index(rng)),
           static_cast<int16_t>(op(rng))};
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? static_cast<size_t>(std::atol(argv[1])) : 5000000;
  std::vector<velmar::ReflKey> rec(n);
  std::vector<float> a(n, 1.0f), b(n, 2.0f), x(4 * n, 3.0f);
  for (const bool wide : {true, false}) {
    fill(rec, wide, 1);
    const auto t0 = std::chrono::steady_clock::now();
    velmar::qsorta(rec, a, b, x, 4);
    std::printf("qsorta %zu %s keys, 4 columns: %.3f s\n", n, wide ? "full-range" : "diffraction-like",
                seconds_since(t0));
  }
  std::vector<std::array<float, 4>> r4(n);
  std::vector<std::array<int16_t, 3>> r3(n);
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> v(0.0f, 1000.0f);
  for (auto& r : r4) r = {v(rng), v(rng), v(rng), v(rng)};
  const auto t0 = std::chrono::steady_clock::now();
  velmar::qsortb(-1, r4, 2, r3);
  std::printf("qsortb %zu random reals, descending: %.3f s\n", n, seconds_since(t0));
  return 0;
}
