#include "statistics/wilson.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>
#include <vector>

#include "common/fortran_format.hpp"
#include "common/free_format.hpp"
#include "input/line_source.hpp"
#include "input/line_values.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/qsort.hpp"
#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

constexpr int kShells = 19;
constexpr int kSteps = 10;  // cumulative distribution at Z = 0.1, 0.2, ..., 1.0
constexpr int kCentric = 0, kAcentric = 1;
constexpr size_t kMaxAliens = 500;
constexpr float kAlienScore = 10.0f;
constexpr float kMaxRatio = 999.99f;
constexpr float kNoLog = -999.999f;
constexpr size_t kLineLength = 80;
constexpr size_t kReadBuffer = size_t{1} << 20;
// <z^2>, <z^3>, <z^4> over <z>^2, <z>^3, <z>^4 for centric and acentric reflections.
constexpr double kTheory[2][3] = {{3.0, 15.0, 105.0}, {2.0, 6.0, 24.0}};

// The symmetry and metric the list is analysed with. (1/d)^2 is |B h|^2, computed exactly as
// for the unique-reflection table, so that a range taken from that table holds every
// reflection of a list written from it.
struct Geometry {
  SymopList ops;
  Mat3 b{};
  float ss_min = 0, ss_max = 0, width = 0;
};

// One reflection of the list and, once selected, its shell, class and z.
struct Reflection {
  int h = 0, k = 0, l = 0;
  float i = 0, sigma = 0;
  float ss = 0;
  int shell = 0;  // 0-based
  int cls = kAcentric;
  float z = 0;    // I over the number of operators that leave the indices unchanged
};

struct ClassSums {
  int64_t n = 0;
  std::array<double, 4> power{};        // sums of z, z^2, z^3, z^4
  std::array<int64_t, kSteps> below{};  // reflections with Z <= 0.1, ..., 1.0
};

struct Shell {
  double ss_sum = 0.0;  // sum of (1/d)^2
  std::array<ClassSums, 2> cls{};
  // Derived after the first pass.
  float ss = 0.0f;      // mean (1/d)^2
  float mean_i = 0.0f;  // <I> of both classes together
  std::array<std::array<float, 3>, 2> moment{};  // per class: <z^k>/<I>^k/theory, k = 2..4
  int64_t n() const { return cls[0].n + cls[1].n; }
};
using Shells = std::array<Shell, kShells>;

struct WilsonLine {
  float a = 0.0f, b = 0.0f, correlation = 0.0f;
};

// The reflections that break the distribution: (1/d)^2, score, I, sigma with their indices.
struct AlienList {
  std::vector<std::array<float, 4>> r4;
  std::vector<std::array<int16_t, 3>> hkl;
};

void report_error(const Report& rep, std::string_view message) {
  std::string line(1, ' ');
  line += message;
  rep.both(line);
}

int set_up(const WilsonInput& in, Geometry& g) {
  g.ops = xsymy(1, in.cell, in.space_group).ops;
  if (g.ops.empty()) return kWilsonBadSymmetry;
  const ReciprocalCell rc = invcel(in.cell);
  if (std::any_of(in.cell.begin(), in.cell.end(), [](float c) { return !(c > 0.0f); }) || !(rc.volume > 0.0f))
    return kWilsonBadSymmetry;
  g.b = reciprocal_basis(in.cell);
  if (!(in.ss_max > in.ss_min)) return kWilsonNoData;
  g.ss_min = in.ss_min;
  g.ss_max = in.ss_max;
  g.width = (in.ss_max + 0.000001f - in.ss_min) / static_cast<float>(kShells);
  return kWilsonOk;
}

bool is_index(int v) { return v >= -32767 && v <= 32767; }

// The usual line, numbers separated by blanks, read without the general list reader; false
// for anything else (the list reader then decides).
bool read_plain_numbers(std::string_view text, std::array<int, 3>& hkl, std::span<float> values) {
  std::array<std::string_view, 7> runs;
  const size_t n = 3 + values.size();
  if (split_runs(text, std::span(runs.data(), n)) != static_cast<int>(n)) return false;
  for (size_t i = 0; i < 3; ++i)
    if (!parse_int(runs[i], hkl[i])) return false;
  for (size_t i = 0; i < values.size(); ++i)
    if (!read_real_field(runs[3 + i], values[i])) return false;
  return true;
}

// h, k, l and the intensity of one line; false when the line holds no such record. With
// both Friedel mates, their inverse-variance weighted mean (a mate with sigma <= 0 is not
// measured; sigma = 0 when neither is).
bool parse_record(std::string_view line, WilsonRecord kind, Reflection& r) {
  std::array<int, 3> hkl{};
  std::array<float, 4> v{};
  const std::span<float> values(v.data(), kind == WilsonRecord::kOneIntensity ? 2 : 4);
  const std::string_view text = line.substr(0, kLineLength);
  if (!read_plain_numbers(text, hkl, values) && !read_free_ints_reals(text, hkl, values)) return false;
  if (!is_index(hkl[0]) || !is_index(hkl[1]) || !is_index(hkl[2])) return false;
  r.h = hkl[0], r.k = hkl[1], r.l = hkl[2];
  if (kind == WilsonRecord::kOneIntensity) {
    r.i = v[0], r.sigma = v[1];
    return true;
  }
  double w = 0.0, wi = 0.0;
  for (size_t m = 0; m < 4; m += 2)
    if (v[m + 1] > 0.0f) {
      const double wm = 1.0 / (static_cast<double>(v[m + 1]) * v[m + 1]);
      w += wm;
      wi += wm * v[m];
    }
  r.i = w > 0.0 ? static_cast<float>(wi / w) : 0.0f;
  r.sigma = w > 0.0 ? static_cast<float>(1.0 / std::sqrt(w)) : 0.0f;
  return true;
}

// Shell, class and z of a reflection that takes part; false for one that does not.
bool select(const Geometry& g, Reflection& r) {
  if (!(r.i > -3.0f * r.sigma)) return false;
  r.ss = one_over_d_squared(g.b, r.h, r.k, r.l);
  if (!(r.ss >= g.ss_min && r.ss <= g.ss_max)) return false;
  r.shell = std::clamp(static_cast<int>((r.ss - g.ss_min) / g.width + 1.0f), 1, kShells) - 1;
  const int code = hkltyp(g.ops, r.h, r.k, r.l);
  if (code < 0) return false;
  r.cls = code > 0 ? kCentric : kAcentric;
  const int count = sysabs(r.h, r.k, r.l, g.ops);
  if (count < 1) return false;
  r.z = r.i / static_cast<float>(count);
  return true;
}

// One pass over the list: visit(r) for every reflection that takes part.
template <class Visit>
int read_pass(LineSource& src, const std::string& list_name, const Geometry& g, WilsonRecord kind, Visit visit) {
  if (!open_lines(src, list_name, kReadBuffer)) return kWilsonReadError;
  std::string_view line;
  Reflection r;
  while (true) {
    const LineStatus s = next_line(src, line);
    if (s == LineStatus::kEndOfFile) break;
    if (s == LineStatus::kReadError || !parse_record(line, kind, r)) {
      close_lines(src);
      return kWilsonReadError;
    }
    if (select(g, r)) visit(r);
  }
  close_lines(src);
  return kWilsonOk;
}

void add_to_shell(Shells& s, const Reflection& r) {
  Shell& sh = s[static_cast<size_t>(r.shell)];
  sh.ss_sum += r.ss;
  ClassSums& c = sh.cls[static_cast<size_t>(r.cls)];
  ++c.n;
  const double z = r.z;
  double p = z;
  for (double& sum : c.power) {
    sum += p;
    p *= z;
  }
}

void compute_means(Shells& shells) {
  for (Shell& s : shells) {
    const int64_t n = s.n();
    if (n == 0) continue;
    s.ss = static_cast<float>(s.ss_sum / static_cast<double>(n));
    const double mean = (s.cls[0].power[0] + s.cls[1].power[0]) / static_cast<double>(n);
    s.mean_i = static_cast<float>(mean);
    for (size_t c = 0; c < 2; ++c) {
      const ClassSums& cs = s.cls[c];
      for (size_t k = 0; k < 3; ++k)
        s.moment[c][k] = cs.n > 0 && mean > 0.0
                             ? static_cast<float>(cs.power[k + 1] / static_cast<double>(cs.n) /
                                                  std::pow(mean, static_cast<double>(k + 2)) / kTheory[c][k])
                             : 0.0f;
    }
  }
}

// Least-squares line ln<I> = A + slope (SS/4) over the shells with <I> > 0 (population
// moments); A, B = -slope/2 and the correlation with its sign reversed.
WilsonLine fit_wilson_line(const Shells& shells) {
  std::array<double, kShells> x{}, y{};
  size_t n = 0;
  for (const Shell& s : shells)
    if (s.n() > 0 && s.mean_i > 0.0f) {
      x[n] = s.ss / 4.0;
      y[n++] = std::log(static_cast<double>(s.mean_i));
    }
  if (n < 3) return {};
  double mx = 0.0, my = 0.0;
  for (size_t i = 0; i < n; ++i) mx += x[i], my += y[i];
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double vx = 0.0, vy = 0.0, cov = 0.0;
  for (size_t i = 0; i < n; ++i) {
    vx += (x[i] - mx) * (x[i] - mx);
    vy += (y[i] - my) * (y[i] - my);
    cov += (x[i] - mx) * (y[i] - my);
  }
  if (!(vx > 0.0)) return {};
  const double slope = cov / vx;
  WilsonLine line;
  line.a = static_cast<float>(my - slope * mx);
  line.b = static_cast<float>(-slope / 2.0);
  line.correlation = vy > 0.0 ? static_cast<float>(-cov / std::sqrt(vx * vy)) : 0.0f;
  return line;
}

// 1 + x(0.278393 + x(0.230389 + x(0.000972 + 0.078108 x))): erfc(x) is its -4th power
// (Abramowitz and Stegun 7.1.27).
float erfc_base(float x) { return 1.0f + x * (0.278393f + x * (0.230389f + x * (0.000972f + 0.078108f * x))); }

float minus_log_erfc(float x) { return 4.0f * std::log(erfc_base(x)); }

float erf_approx(float x) {
  const float p = erfc_base(x);
  return 1.0f - 1.0f / (p * p * p * p);
}

// How unlikely a normalised intensity Z is: -ln of the probability of exceeding it.
float alien_score(int cls, float z) { return cls == kAcentric ? z : minus_log_erfc(std::sqrt(z / 2.0f)); }

void add_alien(AlienList& a, const Reflection& r, float score) {
  const std::array<float, 4> rec{r.ss, score, r.i, r.sigma};
  const std::array<int16_t, 3> hkl{static_cast<int16_t>(r.h), static_cast<int16_t>(r.k), static_cast<int16_t>(r.l)};
  if (a.r4.size() < kMaxAliens) {
    a.r4.push_back(rec);
    a.hkl.push_back(hkl);
    if (a.r4.size() == kMaxAliens) qsortb(-1, a.r4, 2, a.hkl);
    return;
  }
  if (!(score > a.r4.back()[1])) return;
  a.r4.back() = rec;
  a.hkl.back() = hkl;
  qsortb(-1, a.r4, 2, a.hkl);
}

// Second pass: the cumulative counts and the aliens of one reflection.
void add_normalised(Shells& shells, AlienList& aliens, const Reflection& r) {
  Shell& s = shells[static_cast<size_t>(r.shell)];
  if (!(s.mean_i > 0.0f)) return;
  const float z = r.z / s.mean_i;
  ClassSums& c = s.cls[static_cast<size_t>(r.cls)];
  for (int k = 0; k < kSteps; ++k)
    if (z <= 0.1f * static_cast<float>(k + 1)) ++c.below[static_cast<size_t>(k)];
  if (!(z > 0.0f)) return;
  const float score = alien_score(r.cls, z);
  if (score >= kAlienScore) add_alien(aliens, r, score);
}

// Expected number of n reflections of a class with Z <= z.
double expected_below(int cls, int64_t n, float z) {
  const float fraction = cls == kAcentric ? 1.0f - std::exp(-z) : erf_approx(std::sqrt(z / 2.0f));
  return static_cast<double>(n) * fraction;
}

float capped_ratio(double observed, double expected) {
  return expected > 0.0 ? static_cast<float>(std::min(observed / expected, static_cast<double>(kMaxRatio))) : 0.0f;
}

float resolution(float ss) { return 1.0f / std::sqrt(ss); }

// ---- Report ----

void print_wilson_plot(const Report& rep, const Shells& shells, const WilsonLine& line) {
  for (const char* text :
       {"Data is divided into resolution shells and a straight line ", " A - 2*B*SS is fitted to log<I>, where",
        "   RES    = mean resolution (Angstrom) in shell", "   SS     = mean of (sin(THETA)/LAMBDA)**2 in shell",
        "   <I>    = mean reflection intensity in shell", "   BO     = (A - log<I>)/(2*SS)",
        "    #     = number of reflections in resolution shell", ""})
    rep.to_file(text);
  std::string s = "   WILSON LINE (using all data) : A=";
  put_f(s, line.a, 8, 3);
  s += " B=";
  put_f(s, line.b, 8, 3);
  s += " CORRELATION=";
  put_f(s, line.correlation, 6, 2);
  rep.to_file(s);
  rep.to_file("      #      RES      SS        <I>       log(<I>)       BO");
  for (const Shell& sh : shells) {
    if (sh.n() == 0) continue;
    const float x = sh.ss / 4.0f;
    const bool positive = sh.mean_i > 0.0f;
    const float log_i = positive ? std::log(sh.mean_i) : kNoLog;
    s.clear();
    put_i(s, sh.n(), 8);
    put_f(s, resolution(sh.ss), 10, 3);
    put_f(s, x, 8, 3);
    put_es(s, sh.mean_i, 12, 4);
    put_f(s, log_i, 12, 3);
    put_f(s, positive && x > 0.0f ? (line.a - log_i) / (2.0f * x) : kNoLog, 10, 1);
    rep.to_file(s);
  }
}

void print_moments(const Report& rep, const Shells& shells, int cls) {
  const auto c = static_cast<size_t>(cls);
  if (cls == kCentric) {
    rep.to_file("HIGHER ORDER MOMENTS OF WILSON DISTRIBUTION OF  CENTRIC DATA");
  } else {
    rep.to_file("HIGHER ORDER MOMENTS OF WILSON DISTRIBUTION OF ACENTRIC DATA");
  }
  rep.to_file("    AS COMPARED WITH THEORETICAL VALUES. (EXPECTED: 1.00)    ");
  rep.to_file("      #      RES        <I**2>/      <I**3>/      <I**4>/  ");
  rep.to_file(cls == kCentric ? "                         3<I>**2     15<I>**3    105<I>**4 "
                              : "                         2<I>**2      6<I>**3     24<I>**4 ");
  int64_t total = 0;
  std::array<double, 3> weighted{};
  std::string s;
  for (const Shell& sh : shells) {
    const int64_t n = sh.cls[c].n;
    if (n == 0) continue;
    total += n;
    s.clear();
    put_i(s, n, 8);
    put_f(s, resolution(sh.ss), 10, 3);
    for (size_t k = 0; k < 3; ++k) {
      put_f(s, sh.moment[c][k], 13, 3);
      weighted[k] += static_cast<double>(n) * sh.moment[c][k];
    }
    rep.to_file(s);
  }
  s.clear();
  put_i(s, total, 8);
  s += "   overall";
  for (size_t k = 0; k < 3; ++k) put_f(s, total > 0 ? weighted[k] / static_cast<double>(total) : 0.0, 13, 3);
  rep.to_file(s);
}

void print_cumulative_definitions(const Report& rep) {
  for (const char* text : {"   ======= CUMULATIVE INTENSITY DISTRIBUTION =======", " DEFINITIONS:",
                           "   <I>    = mean reflection intensity",
                           " Na(Z)exp = expected number of acentric reflections with I <= Z*<I>",
                           " Na(Z)obs = observed number of acentric reflections with I <= Z*<I>",
                           " Nc(Z)exp = expected number of  centric reflections with I <= Z*<I>",
                           " Nc(Z)obs = observed number of  centric reflections with I <= Z*<I>"})
    rep.to_file(text);
}

void print_cumulative(const Report& rep, const Shells& shells, int cls) {
  const auto c = static_cast<size_t>(cls);
  rep.to_file(cls == kCentric ? " Nc(Z)obs/Nc(Z)exp versus resolution and Z (0.1-1.0)"
                              : " Na(Z)obs/Na(Z)exp versus resolution and Z (0.1-1.0)");
  rep.to_file("      #      RES     0.1   0.2   0.3   0.4   0.5   0.6   0.7   0.8   0.9   1.0");
  int64_t total = 0;
  std::array<double, kSteps> observed{}, expected{};
  std::string s;
  for (const Shell& sh : shells) {
    const ClassSums& cs = sh.cls[c];
    if (cs.n == 0) continue;
    total += cs.n;
    s.clear();
    put_i(s, cs.n, 8);
    put_f(s, resolution(sh.ss), 10, 3);
    for (size_t k = 0; k < kSteps; ++k) {
      const double e = expected_below(cls, cs.n, 0.1f * static_cast<float>(k + 1));
      put_f(s, capped_ratio(static_cast<double>(cs.below[k]), e), 6, 2);
      observed[k] += static_cast<double>(cs.below[k]);
      expected[k] += e;
    }
    rep.to_file(s);
  }
  s.clear();
  put_i(s, total, 8);
  s += "   overall";
  for (size_t k = 0; k < kSteps; ++k) put_f(s, capped_ratio(observed[k], expected[k]), 6, 2);
  rep.to_file(s);
}

void print_alien_lines(const Report& rep, const AlienList& a, bool tagged) {
  rep.to_file("   h    k    l     RES      Z     Intensity    Sigma");
  std::string s;
  for (size_t i = 0; i < a.r4.size(); ++i) {
    s.clear();
    for (const int16_t v : a.hkl[i]) put_i(s, v, 5);
    put_f(s, resolution(a.r4[i][0]), 8, 2);
    put_f(s, a.r4[i][1], 8, 2);
    put_e(s, a.r4[i][2], 12, 4);
    put_e(s, a.r4[i][3], 12, 4);
    if (tagged) s += " \"alien\"";
    rep.to_file(s);
  }
}

void print_aliens(const Report& rep, AlienList& a) {
  if (a.r4.empty()) return;
  std::string s = " List of ";
  put_i(s, static_cast<long long>(a.r4.size()), 6);
  s += " reflections *NOT* obeying Wilson distribution (Z>";
  put_f(s, kAlienScore, 5, 1);
  s += ")";
  rep.to_file(s);
  print_alien_lines(rep, a, true);
  qsortb(-1, a.r4, 1, a.hkl);
  s = " List of ";
  put_i(s, static_cast<long long>(a.r4.size()), 6);
  s += " reflections *NOT* obeying Wilson distribution (sorted by resolution)";
  rep.to_file(s);
  rep.to_file(" Ice rings could occur at (Angstrom):");
  rep.to_file(" 3.897,3.669,3.441, 2.671,2.249,2.072, 1.948,1.918,1.883,1.721");
  print_alien_lines(rep, a, false);
}

void print_report(const Report& rep, const Shells& shells, const WilsonLine& line, AlienList& aliens) {
  print_wilson_plot(rep, shells, line);
  print_moments(rep, shells, kCentric);
  print_moments(rep, shells, kAcentric);
  print_cumulative_definitions(rep);
  print_cumulative(rep, shells, kCentric);
  print_cumulative(rep, shells, kAcentric);
  print_aliens(rep, aliens);
}

}  // namespace

WilsonResult wilson(const Report& rep, WilsonPrint print, const std::string& list_name, const WilsonInput& in) {
  WilsonResult result;
  Geometry g;
  result.status = set_up(in, g);
  if (result.status == kWilsonBadSymmetry) report_error(rep, "!!! ERROR !!! ILLEGAL SPACE GROUP NUMBER OR UNIT CELL");
  if (result.status == kWilsonNoData) report_error(rep, "!!! ERROR !!! NO DATA FOR WILSON PLOT");
  if (result.status != kWilsonOk) return result;

  Shells shells{};
  LineSource src;
  result.status = read_pass(src, list_name, g, in.record, [&](const Reflection& r) {
    add_to_shell(shells, r);
    ++result.used;
  });
  if (result.status == kWilsonOk && result.used == 0) {
    report_error(rep, "!!! ERROR !!! NO DATA FOR WILSON PLOT");
    result.status = kWilsonNoData;
  }
  if (result.status != kWilsonOk) {
    if (result.status == kWilsonReadError) report_error(rep, "!!! ERROR !!! CANNOT READ SCRATCH FILE");
    return result;
  }
  compute_means(shells);
  const WilsonLine line = fit_wilson_line(shells);

  AlienList aliens;
  aliens.r4.reserve(kMaxAliens);
  aliens.hkl.reserve(kMaxAliens);
  result.status = read_pass(src, list_name, g, in.record,
                            [&](const Reflection& r) { add_normalised(shells, aliens, r); });
  if (result.status != kWilsonOk) {
    report_error(rep, "!!! ERROR !!! CANNOT READ SCRATCH FILE");
    return result;
  }
  if (aliens.r4.size() >= 2 && aliens.r4.size() < kMaxAliens) qsortb(-1, aliens.r4, 2, aliens.hkl);
  result.a = line.a;
  result.b = line.b;
  result.correlation = line.correlation;
  if (print == WilsonPrint::kReport) print_report(rep, shells, line, aliens);
  return result;
}

}  // namespace velmar
