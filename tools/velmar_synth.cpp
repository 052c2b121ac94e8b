// velmar_synth: writes synthetic KVD_ASCII reflection files of one crystal with known
// effects, and the truth beside the data, for the demo, the tests and the benchmarks.
//
//   velmar_synth [crystal options] [default sweep options]
//                -o FILE [sweep options] [-o FILE [sweep options]] ... [--truth FILE]
//
// Every "-o FILE" starts a new sweep (data set) of the one crystal. Sweep options before the
// first -o are defaults for all sweeps; after an -o they apply to that sweep only. Crystal
// options may stand anywhere. Defaults in brackets.
//
// Crystal: --sg N [96]  --cell a b c alpha beta gamma [78 78 37 90 90 90]  --dmin D [2]
//   --dmax D [40]  --seed S [1]  --wilson-b B [20]  --mean-intensity M [1000]
//   --friedel TRUE|FALSE [TRUE]  --anomalous FRACTION [0]  --twin t11 t12 ... t33
//   --aliens N [0]  --ice-ring D  --damage C0 C1 CR  --truth FILE
// Sweep: --obs N | --multiplicity M [4]  --images N [360]  --first-image F [1]
//   --oscillation DEG [0.1]  --wavelength W [1]  --sweep-seed S [from seed and sweep number]
//   --nx N --ny N [2048]  --k K --b B [1 0]  --decay D0 D1 [0 0]  --modulation M [0]
//   --absorption A [0]  --error-model A B [1 0]  --variance a0 b0 [1 1e-4]
//   --background V [50]  --outliers F [0]  --outlier-sign +1|-1|0 [0: either]
//   --starting-dose S [0]  --dose-rate R [0]  --merged  --short  --no-truth
//
// Crystal model, with SS = (1/d)^2 and mean(SS) = Im exp(-Bw SS/2) (Im --mean-intensity,
// Bw --wilson-b):
// - Every unique reflection (the asymmetric-unit representative that `iasym` gives, its "+"
//   half) gets a true intensity from the Wilson distribution with mean eps*mean(SS), eps
//   the number of operators fixing its indices per lattice point: exponential when
//   acentric, chi-square with one degree of freedom when centric. Acentric Friedel mates
//   get I(+-) = I (1 +- f g/2), g standard normal, f = --anomalous (0 under Friedel's law),
//   clamped at 0.
// - --twin: perfect merohedral twinning with equal domains. The mate of h is T h (T acting on
//   the index column, rows as given) and every half becomes (I(h) + I(T h))/2; T must have
//   determinant +-1, keep the reciprocal metric and the lattice-centring conditions. A mate
//   that is systematically absent counts with intensity 0.
// - --aliens N: N randomly chosen unique reflections get I(+-) = (30 + 30 u) eps mean(SS),
//   u uniform in [0,1).
// - --ice-ring D: reflections with |d - D| <= 0.003 D get (15 + 10 u) mean(SS) added.
// - --damage: every unique reflection gets the decay constant b(h) = C0 + C1 SS + CR SS g,
//   g standard normal, shared by its Friedel mates and by all sweeps.
//
// Sweep model, per observation: a random unique reflection, a random symmetry mate of
// either parity, the image number z uniform in [F, F + N) (F first image, N images), the
// azimuth phi uniform. The beam hits the detector centre (cx, cy) = (NX/2, NY/2); the radius
// is r = distance tan(2 theta), the distance (pixels) putting dmin at r_edge = 0.95
// min(NX, NY)/2; x = cx + r cos phi, y = cy + r sin phi. With t = (z - F)/N and
// dose = S + R (z - F) (S --starting-dose, R --dose-rate), the true total factor is
//   factor = 1/(K exp(B SS)) * exp(-t (D0 + D1 SS)) * (1 + M f) * (1 + A g) * exp(-b(h) dose)
// (K, B --k, --b; D0, D1 --decay; M --modulation; A --absorption) with, for
// u = (x - cx)/(NX/2), v = (y - cy)/(NY/2):
//   f = 0.55 (0.6 u + 0.4 v) + 0.45 (2 exp(-((u - 0.4)^2 + (v + 0.3)^2)/0.5) - 1),
//       a tilt across the detector plus a broad bump off the beam, |f| <= 1;
//   g = (r/r_edge) cos(omega + phi), omega = (z - F) * oscillation the rotation since the
//       first image: an absorption that turns with the crystal, |g| <= 1.
// The expected intensity is E = factor * I_true of the observed half. The written sigma is
// the counting sigma s0 = sqrt(max(E, 0) + V) (V --background); the measured intensity is E
// plus Gaussian noise of sd = sqrt(Ae (s0^2 + Be E^2)) (Ae, Be --error-model). An outlier
// (probability --outliers) gets +-(8 + 22 u) sd added on top. Merged files hold one record per unique reflection ("+"
// half) with factor 1/(K exp(B SS)) and s0 = sqrt(max(E, 0) + V)/2.
//
// Truth: unless --no-truth, every record ends with four items declared in the header:
// !ITEM_TRUE_I= (true intensity of the observed half, undamaged, on the true scale),
// !ITEM_TRUE_FACTOR= (the factor above), !ITEM_TRUE_OUTLIER= (0/1), !ITEM_TRUE_BDECAY=
// (b(h)); "!TRUTH_...=" header lines give the sweep's K, B, error model, dose and effects.
// --truth FILE lists every unique reflection: h k l SS I(+) I(-) b(h) and the flags
// centric, alien, ice.
//
// Random numbers come from separate streams (intensities, anomalous signal, aliens, ice,
// damage, one per sweep), so switching one effect on leaves the others' draws unchanged;
// every observation draws the same numbers whatever effects are on.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/fortran_format.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"

namespace {

using namespace velmar;

constexpr double kPi = 3.14159265358979323846;

using TwinLaw = std::array<int, 9>;  // row-major, acting on the index column

struct CrystalOptions {
  int sg = 96;
  Cell cell{78.0f, 78.0f, 37.0f, 90.0f, 90.0f, 90.0f};
  float dmin = 2.0f, dmax = 40.0f;
  uint64_t seed = 1;
  float wilson_b = 20.0f;
  float mean_intensity = 1000.0f;
  bool friedel = true;
  float anomalous = 0.0f;
  bool twinned = false;
  TwinLaw twin{};
  long long aliens = 0;
  float ice_ring = 0.0f;  // d of the ring, 0 for none
  float damage_c0 = 0.0f, damage_c1 = 0.0f, damage_cr = 0.0f;
  std::string truth;
};

struct SweepOptions {
  std::string out;
  long long nobs = -1;  // -1: from the multiplicity
  double multiplicity = 4.0;
  int images = 360;
  int first_image = 1;
  float oscillation = 0.1f;
  float wavelength = 1.0f;
  bool seeded = false;
  uint64_t sweep_seed = 0;
  int nx = 2048, ny = 2048;
  float k = 1.0f, b = 0.0f;
  float decay_d0 = 0.0f, decay_d1 = 0.0f;
  float modulation = 0.0f;
  float absorption = 0.0f;
  float error_a = 1.0f, error_b = 0.0f;
  float a0 = 1.0f, b0 = 1.0e-4f;
  float background = 50.0f;
  float outliers = 0.0f;
  int outlier_sign = 0;
  float starting_dose = 0.0f, dose_rate = 0.0f;
  bool merged = false;
  bool short_records = false;  // 8 items before the truth: no RLP, PEAK, CORR, PSI
  bool truth_items = true;
};

struct Options {
  CrystalOptions crystal;
  std::vector<SweepOptions> sweeps;
};

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "velmar_synth: %s\n", why.c_str());
  std::exit(2);
}

// splitmix64: a small portable generator so that a seed gives the same files everywhere.
struct Random {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double normal() {
    const double u1 = 1.0 - uniform(), u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
  }
  size_t below(size_t n) { return static_cast<size_t>(uniform() * static_cast<double>(n)) % n; }
};

// An independent stream for one purpose (tag) of one seed.
Random stream(uint64_t seed, uint64_t tag) {
  Random r{seed ^ (tag * 0xd1b54a32d192ed03ULL)};
  r.next();
  return r;
}

enum StreamTag : uint64_t { kIntensities = 1, kAnomalous, kAliens, kIce, kDamage, kSweeps = 100 };

// ---------------------------------------------------------------- command line

// The arguments with a cursor; every value is checked as it is taken.
struct Args {
  int argc;
  char** argv;
  int i = 1;   // the argument being read
  int at = 1;  // the option it belongs to

  std::string_view option() const { return argv[at]; }
  const char* text() {
    if (i + 1 >= argc) fail("missing value for " + std::string(argv[at]));
    return argv[++i];
  }
  template <typename T>
  T number() {
    const std::string name = argv[at];
    std::string_view t = text();
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    T v{};
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(double(v)))
      fail("bad value for " + name + ": " + argv[i]);
    return v;
  }
  float real() { return number<float>(); }
  int integer() { return number<int>(); }
};

bool crystal_option(Args& a, CrystalOptions& c) {
  const std::string_view o = a.option();
  if (o == "--sg") c.sg = a.integer();
  else if (o == "--cell") for (float& x : c.cell) x = a.real();
  else if (o == "--dmin") c.dmin = a.real();
  else if (o == "--dmax") c.dmax = a.real();
  else if (o == "--seed") c.seed = a.number<uint64_t>();
  else if (o == "--wilson-b") c.wilson_b = a.real();
  else if (o == "--mean-intensity") c.mean_intensity = a.real();
  else if (o == "--friedel") {
    const std::string_view v = a.text();
    if (v != "TRUE" && v != "FALSE") fail("--friedel takes TRUE or FALSE");
    c.friedel = v == "TRUE";
  } else if (o == "--anomalous") c.anomalous = a.real();
  else if (o == "--twin") {
    for (int& t : c.twin) t = a.integer();
    c.twinned = true;
  } else if (o == "--aliens") c.aliens = a.number<long long>();
  else if (o == "--ice-ring") c.ice_ring = a.real();
  else if (o == "--damage") {
    c.damage_c0 = a.real();
    c.damage_c1 = a.real();
    c.damage_cr = a.real();
  } else if (o == "--truth") c.truth = a.text();
  else return false;
  return true;
}

bool sweep_option(Args& a, SweepOptions& s) {
  const std::string_view o = a.option();
  if (o == "--obs") s.nobs = a.number<long long>();
  else if (o == "--multiplicity") s.multiplicity = a.number<double>(), s.nobs = -1;
  else if (o == "--images") s.images = a.integer();
  else if (o == "--first-image") s.first_image = a.integer();
  else if (o == "--oscillation") s.oscillation = a.real();
  else if (o == "--wavelength") s.wavelength = a.real();
  else if (o == "--sweep-seed") s.sweep_seed = a.number<uint64_t>(), s.seeded = true;
  else if (o == "--nx") s.nx = a.integer();
  else if (o == "--ny") s.ny = a.integer();
  else if (o == "--k") s.k = a.real();
  else if (o == "--b") s.b = a.real();
  else if (o == "--decay") s.decay_d0 = a.real(), s.decay_d1 = a.real();
  else if (o == "--modulation") s.modulation = a.real();
  else if (o == "--absorption") s.absorption = a.real();
  else if (o == "--error-model") s.error_a = a.real(), s.error_b = a.real();
  else if (o == "--variance") s.a0 = a.real(), s.b0 = a.real();
  else if (o == "--background") s.background = a.real();
  else if (o == "--outliers") s.outliers = a.real();
  else if (o == "--outlier-sign") s.outlier_sign = a.integer();
  else if (o == "--starting-dose") s.starting_dose = a.real();
  else if (o == "--dose-rate") s.dose_rate = a.real();
  else if (o == "--merged") s.merged = true;
  else if (o == "--short") s.short_records = true;
  else if (o == "--no-truth") s.truth_items = false;
  else return false;
  return true;
}

void check_twin_law(const CrystalOptions& c) {
  const TwinLaw& t = c.twin;
  const long det = long(t[0]) * (long(t[4]) * t[8] - long(t[5]) * t[7]) -
                   long(t[1]) * (long(t[3]) * t[8] - long(t[5]) * t[6]) +
                   long(t[2]) * (long(t[3]) * t[7] - long(t[4]) * t[6]);
  if (det != 1 && det != -1) fail("twin law must have determinant +1 or -1");
  // Reciprocal metric G = B^T B; the law keeps it when T^T G T = G.
  const Mat3 b = reciprocal_basis(c.cell);
  double g[3][3], scale = 0;
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) {
      g[i][j] = double(b[3 * i]) * b[3 * j] + double(b[3 * i + 1]) * b[3 * j + 1] + double(b[3 * i + 2]) * b[3 * j + 2];
      scale = std::max(scale, std::fabs(g[i][j]));
    }
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) {
      double tgt = 0;
      for (size_t p = 0; p < 3; ++p)
        for (size_t q = 0; q < 3; ++q) tgt += t[3 * p + i] * g[p][q] * t[3 * q + j];
      if (std::fabs(tgt - g[i][j]) > 2e-3 * scale) fail("twin law does not map the lattice onto itself");
    }
}

void check_crystal(const CrystalOptions& c) {
  for (size_t i = 0; i < 6; ++i)
    if (!(c.cell[i] > 0) || (i >= 3 && !(c.cell[i] < 180))) fail("bad cell constants");
  if (!(c.dmin > 0) || !(c.dmax > c.dmin)) fail("bad resolution range");
  if (!(c.mean_intensity > 0)) fail("--mean-intensity must be positive");
  if (c.anomalous < 0 || c.anomalous > 1) fail("--anomalous must lie in [0, 1]");
  if (c.aliens < 0) fail("--aliens must not be negative");
  if (c.ice_ring < 0) fail("--ice-ring must not be negative");
  if (c.twinned) check_twin_law(c);
}

void check_sweep(const SweepOptions& s, const CrystalOptions& c) {
  const std::string in = " (sweep " + s.out + ")";
  if (!s.merged && s.wavelength / (2.0 * c.dmin) >= std::sin(40.0 * kPi / 180.0))
    fail("the wavelength is too long for the resolution: 2 theta must stay below 80 degrees" + in);
  if (s.nobs < -1 || !(s.multiplicity > 0)) fail("bad observation count" + in);
  if (s.images < 1) fail("--images must be at least 1" + in);
  if (!(s.oscillation > 0) || !(s.wavelength > 0)) fail("--oscillation and --wavelength must be positive" + in);
  if (s.nx < 16 || s.ny < 16) fail("--nx and --ny must be at least 16" + in);
  if (!(s.k > 0)) fail("--k must be positive" + in);
  if (std::fabs(s.modulation) >= 1 || std::fabs(s.absorption) >= 1)
    fail("--modulation and --absorption must lie in (-1, 1)" + in);
  if (!(s.error_a > 0) || s.error_b < 0) fail("--error-model needs A > 0 and B >= 0" + in);
  if (s.background < 0) fail("--background must not be negative" + in);
  if (s.outliers < 0 || s.outliers > 1) fail("--outliers must lie in [0, 1]" + in);
  if (s.outlier_sign < -1 || s.outlier_sign > 1) fail("--outlier-sign takes +1, -1 or 0" + in);
}

Options parse(int argc, char** argv) {
  Options o;
  SweepOptions defaults;
  Args a{argc, argv};
  for (; a.i < argc; a.at = ++a.i) {
    SweepOptions& current = o.sweeps.empty() ? defaults : o.sweeps.back();
    if (a.option() == "-o") {
      o.sweeps.push_back(defaults);
      o.sweeps.back().out = a.text();
    } else if (!crystal_option(a, o.crystal) && !sweep_option(a, current)) {
      fail("unknown option " + std::string(a.option()));
    }
  }
  if (o.sweeps.empty()) fail("no output file (-o)");
  check_crystal(o.crystal);
  for (size_t j = 0; j < o.sweeps.size(); ++j) {
    SweepOptions& s = o.sweeps[j];
    check_sweep(s, o.crystal);
    if (!s.seeded) s.sweep_seed = stream(o.crystal.seed, kSweeps + j).next();
  }
  return o;
}

// ---------------------------------------------------------------- the crystal

struct Unique {
  int h, k, l;
  float ss;             // (1/d)^2
  float mean;           // eps * mean(SS), the Wilson mean of this reflection
  float i_plus, i_minus;
  float b;              // decay constant b(h)
  bool centric, alien, ice;
};

struct Crystal {
  SymopList ops;
  int centring = 0;
  std::vector<Unique> uniq;
};

int lattice_points(const SymopList& ops) {
  int n = 0;
  for (const Symop& m : ops)
    if (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[4] == 0 && m[5] == 1 && m[6] == 0 && m[8] == 0 && m[9] == 0 &&
        m[10] == 1)
      ++n;
  return std::max(n, 1);
}

// The representatives inside the resolution range, with their Wilson means.
void enumerate(const CrystalOptions& c, Crystal& x) {
  const Mat3 b = reciprocal_basis(c.cell);
  const Mat3 a = setmat(c.cell);
  const float smax = 1.0f / (c.dmin * c.dmin), smin = 1.0f / (c.dmax * c.dmax);
  int hmax[3];
  double box = 1;
  for (int i = 0; i < 3; ++i) {
    const size_t j = static_cast<size_t>(3 * i);
    const float edge = std::sqrt(a[j] * a[j] + a[j + 1] * a[j + 1] + a[j + 2] * a[j + 2]);
    hmax[i] = static_cast<int>(edge / c.dmin) + 1;
    box *= 2.0 * hmax[i] + 1;
  }
  if (box > 1.5e8 || hmax[0] > 2000 || hmax[1] > 2000 || hmax[2] > 2000)
    fail("too many reflections for this cell and resolution");
  const int npoints = lattice_points(x.ops);
  for (int h = -hmax[0]; h <= hmax[0]; ++h)
    for (int k = -hmax[1]; k <= hmax[1]; ++k)
      for (int l = -hmax[2]; l <= hmax[2]; ++l) {
        const float s = one_over_d_squared(b, h, k, l);
        if (s < smin || s > smax) continue;
        const int fixing = sysabs(h, k, l, x.ops);
        if (fixing < 0) continue;
        const ReflKey key = iasym(h, k, l, x.ops);
        if (key.h != h || key.k != k || key.l != l) continue;
        const float eps = static_cast<float>(fixing) / static_cast<float>(npoints);
        const float mean = c.mean_intensity * std::exp(-c.wilson_b * s / 2.0f) * eps;
        x.uniq.push_back({h, k, l, s, mean, 0.0f, 0.0f, 0.0f, hkltyp(x.ops, h, k, l) > 0, false, false});
      }
}

void draw_intensities(const CrystalOptions& c, Crystal& x) {
  Random wilson = stream(c.seed, kIntensities), anomalous = stream(c.seed, kAnomalous);
  const float fraction = c.friedel ? 0.0f : c.anomalous;
  for (Unique& u : x.uniq) {
    double i;
    if (u.centric) {
      const double z = wilson.normal();
      i = u.mean * z * z;
    } else {
      i = -u.mean * std::log(1.0 - wilson.uniform());
    }
    const double delta = u.centric ? 0.0 : fraction * anomalous.normal() * i;
    u.i_plus = static_cast<float>(std::max(i + delta / 2, 0.0));
    u.i_minus = static_cast<float>(std::max(i - delta / 2, 0.0));
  }
}

int64_t index_key(int h, int k, int l) {
  return (static_cast<int64_t>(h + 4096) << 26) | (static_cast<int64_t>(k + 4096) << 13) | (l + 4096);
}

// Perfect twinning: every half becomes the mean of itself and the same half of its mate.
void twin(const CrystalOptions& c, Crystal& x) {
  std::unordered_map<int64_t, size_t> where;
  where.reserve(x.uniq.size());
  for (size_t n = 0; n < x.uniq.size(); ++n) where.emplace(index_key(x.uniq[n].h, x.uniq[n].k, x.uniq[n].l), n);
  const TwinLaw& t = c.twin;
  std::vector<float> plus(x.uniq.size()), minus(x.uniq.size());
  for (size_t n = 0; n < x.uniq.size(); ++n) {
    const Unique& u = x.uniq[n];
    const int h = t[0] * u.h + t[1] * u.k + t[2] * u.l;
    const int k = t[3] * u.h + t[4] * u.k + t[5] * u.l;
    const int l = t[6] * u.h + t[7] * u.k + t[8] * u.l;
    if (genabs(x.centring, h, k, l) != 0) fail("twin law does not map the lattice onto itself");
    float mate_plus = 0.0f, mate_minus = 0.0f;  // of the mate of h and of the mate of -h
    if (sysabs(h, k, l, x.ops) >= 0) {
      const ReflKey key = iasym(h, k, l, x.ops);
      const auto found = where.find(index_key(key.h, key.k, key.l));
      if (found == where.end()) fail("twin law does not keep the resolution of a reflection");
      const Unique& m = x.uniq[found->second];
      mate_plus = key.isym > 0 ? m.i_plus : m.i_minus;
      mate_minus = key.isym > 0 ? m.i_minus : m.i_plus;
    }
    plus[n] = (u.i_plus + mate_plus) / 2;
    minus[n] = (u.i_minus + mate_minus) / 2;
  }
  for (size_t n = 0; n < x.uniq.size(); ++n) {
    Unique& u = x.uniq[n];
    u.i_plus = u.centric ? (plus[n] + minus[n]) / 2 : plus[n];
    u.i_minus = u.centric ? u.i_plus : minus[n];
  }
}

void add_aliens(const CrystalOptions& c, Crystal& x) {
  if (c.aliens > static_cast<long long>(x.uniq.size())) fail("more aliens than unique reflections");
  Random rnd = stream(c.seed, kAliens);
  for (long long placed = 0; placed < c.aliens;) {
    Unique& u = x.uniq[rnd.below(x.uniq.size())];
    if (u.alien) continue;
    u.i_plus = u.i_minus = static_cast<float>((30.0 + 30.0 * rnd.uniform()) * u.mean);
    u.alien = true;
    ++placed;
  }
}

void add_ice_ring(const CrystalOptions& c, Crystal& x) {
  Random rnd = stream(c.seed, kIce);
  for (Unique& u : x.uniq) {
    const float d = 1.0f / std::sqrt(u.ss);
    if (std::fabs(d - c.ice_ring) > 0.003f * c.ice_ring) continue;
    const float extra =
        static_cast<float>((15.0 + 10.0 * rnd.uniform()) * c.mean_intensity * std::exp(-c.wilson_b * u.ss / 2.0f));
    u.i_plus += extra;
    u.i_minus += extra;
    u.ice = true;
  }
}

void draw_decay_constants(const CrystalOptions& c, Crystal& x) {
  Random rnd = stream(c.seed, kDamage);
  for (Unique& u : x.uniq)
    u.b = static_cast<float>(c.damage_c0 + c.damage_c1 * u.ss + c.damage_cr * u.ss * rnd.normal());
}

Crystal make_crystal(const CrystalOptions& c) {
  Crystal x;
  const SpaceGroupLookup sg = xsymy(1, c.cell, c.sg);
  if (sg.ops.empty()) fail("space group and cell do not fit together");
  x.ops = sg.ops;
  x.centring = sg.centring;
  enumerate(c, x);
  if (x.uniq.empty()) fail("no reflection in the resolution range");
  draw_intensities(c, x);
  if (c.twinned) twin(c, x);
  add_aliens(c, x);
  if (c.ice_ring > 0) add_ice_ring(c, x);
  draw_decay_constants(c, x);
  return x;
}

// ---------------------------------------------------------------- output

// A buffered output file; write failures are reported when it is closed.
struct OutFile {
  std::FILE* f = nullptr;
  std::string name;
  std::vector<char> buffer;

  explicit OutFile(const std::string& file) : name(file), buffer(1 << 20) {
    f = std::fopen(file.c_str(), "w");
    if (!f) fail("cannot write " + file);
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  }
  ~OutFile() {
    if (f) std::fclose(f);
  }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  void put(const std::string& s) { std::fwrite(s.data(), 1, s.size(), f); }
  void close() {
    const bool ok = std::ferror(f) == 0;
    const bool closed = std::fclose(f) == 0;
    f = nullptr;
    if (!ok || !closed) fail("cannot write " + name);
  }
};

void write_truth(const CrystalOptions& c, const Crystal& x) {
  OutFile out(c.truth);
  std::string s = "!TRUTH of velmar_synth: one line per unique reflection\n!SPACE_GROUP=";
  put_i(s, c.sg, 5);
  s += "\n!CELL=";
  for (float v : c.cell) put_f(s, v, 10, 3);
  s += "\n!SEED=" + std::to_string(c.seed) + "\n!WILSON_B_AND_MEAN=";
  put_es(s, c.wilson_b, 12, 4);
  put_es(s, c.mean_intensity, 12, 4);
  s += "\n!DAMAGE_C0_C1_CR=";
  for (float v : {c.damage_c0, c.damage_c1, c.damage_cr}) put_es(s, v, 12, 4);
  if (c.twinned) {
    s += "\n!TWIN_LAW=";
    for (int t : c.twin) put_i(s, t, 3);
  }
  s += "\n!COLUMNS= H K L SS I(+) I(-) B(H) CENTRIC ALIEN ICE\n!END_OF_HEADER\n";
  out.put(s);
  for (const Unique& u : x.uniq) {
    s.clear();
    put_i(s, u.h, 5);
    put_i(s, u.k, 5);
    put_i(s, u.l, 5);
    put_es(s, u.ss, 13, 6);
    put_es(s, u.i_plus, 14, 6);
    put_es(s, u.i_minus, 14, 6);
    put_es(s, u.b, 13, 5);
    put_i(s, u.centric, 2);
    put_i(s, u.alien, 2);
    put_i(s, u.ice, 2);
    s += '\n';
    out.put(s);
  }
  out.close();
}

int item_count(const SweepOptions& s) {
  const int base = s.merged ? 5 : s.short_records ? 8 : 12;
  return base + (s.truth_items ? 4 : 0);
}

void put_line(std::string& s, const std::string& text) { s += text + '\n'; }

void put_truth_lines(std::string& s, const SweepOptions& w) {
  auto line = [&](const char* name, std::initializer_list<float> values) {
    s += name;
    for (float v : values) put_es(s, v, 12, 4);
    s += '\n';
  };
  line("!TRUTH_K_AND_B=", {w.k, w.b});
  line("!TRUTH_ERROR_MODEL_A_B=", {w.error_a, w.error_b});
  line("!TRUTH_DOSE_START_AND_PER_IMAGE=", {w.starting_dose, w.dose_rate});
  s += "!TRUTH_FIRST_IMAGE_NUMBER=" + std::to_string(w.first_image) + '\n';
  line("!TRUTH_DECAY_D0_D1=", {w.decay_d0, w.decay_d1});
  line("!TRUTH_MODULATION_AMPLITUDE=", {w.modulation});
  line("!TRUTH_ABSORPTION_AMPLITUDE=", {w.absorption});
  line("!TRUTH_OUTLIER_FRACTION=", {w.outliers});
  line("!TRUTH_BACKGROUND_VARIANCE=", {w.background});
  s += "!TRUTH_SWEEP_SEED=" + std::to_string(w.sweep_seed) + '\n';
}

void write_header(OutFile& out, const CrystalOptions& c, const SweepOptions& w, float distance_px) {
  std::string s = w.merged ? "!FORMAT=KVD_ASCII    MERGE=TRUE     FRIEDEL'S_LAW="
                           : "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=";
  s += c.friedel ? "TRUE\n" : "FALSE\n";
  if (!w.merged) {
    s += "!DATA_RANGE=";
    put_i(s, w.first_image, 8);
    put_i(s, w.first_image + w.images - 1, 8);
    s += "\n!OSCILLATION_RANGE=";
    put_f(s, w.oscillation, 10, 6);
    s += "\n!STARTING_FRAME=";
    put_i(s, w.first_image, 8);
    s += '\n';
  }
  s += "!SPACE_GROUP_NUMBER=";
  put_i(s, c.sg, 5);
  s += "\n!UNIT_CELL_CONSTANTS=";
  for (float v : c.cell) put_f(s, v, 10, 3);
  s += "\n!X-RAY_WAVELENGTH=";
  put_f(s, w.wavelength, 10, 6);
  s += "\n!INCLUDE_RESOLUTION_RANGE=";
  put_f(s, c.dmax, 10, 3);
  put_f(s, c.dmin, 10, 3);
  s += '\n';
  if (!w.merged) {
    s += "!NX=";
    put_i(s, w.nx, 6);
    s += "  NY=";
    put_i(s, w.ny, 6);
    s += "    QX=  0.100000  QY=  0.100000\n!ORGX=";
    put_f(s, w.nx / 2.0, 10, 2);
    s += "  ORGY=";
    put_f(s, w.ny / 2.0, 10, 2);
    s += "\n!DETECTOR_DISTANCE=";
    put_f(s, distance_px * 0.1, 10, 3);
    s += '\n';
  }
  s += "!VARIANCE_MODEL=";
  put_es(s, w.a0, 11, 3);
  put_es(s, w.b0, 11, 3);
  s += '\n';
  if (w.truth_items) put_truth_lines(s, w);
  const int n = item_count(w);
  put_line(s, "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=" + std::to_string(n));
  s += "!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n";
  if (!w.merged) s += "!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n";
  if (!w.merged && !w.short_records) s += "!ITEM_RLP=9\n!ITEM_PEAK=10\n!ITEM_CORR=11\n!ITEM_PSI=12\n";
  if (w.truth_items) {
    put_line(s, "!ITEM_TRUE_I=" + std::to_string(n - 3));
    put_line(s, "!ITEM_TRUE_FACTOR=" + std::to_string(n - 2));
    put_line(s, "!ITEM_TRUE_OUTLIER=" + std::to_string(n - 1));
    put_line(s, "!ITEM_TRUE_BDECAY=" + std::to_string(n));
  }
  s += "!END_OF_HEADER\n";
  out.put(s);
}

// What is written for one observation.
struct Record {
  int h, k, l;
  float iobs, sigma, x, y, z, psi;
  float true_i, factor, b;
  bool outlier;
};

void format_record(const Record& r, const SweepOptions& w, std::string& line) {
  line.clear();
  put_i(line, r.h, 6);
  put_i(line, r.k, 6);
  put_i(line, r.l, 6);
  put_es(line, r.iobs, 11, 3);
  put_es(line, r.sigma, 11, 3);
  if (!w.merged) {
    put_f(line, r.x, 8, 1);
    put_f(line, r.y, 8, 1);
    put_f(line, r.z, 9, 1);
    if (!w.short_records) {
      line += "   1.00000 100   0 ";
      put_f(line, r.psi, 7, 2);
    }
  }
  if (w.truth_items) {
    put_es(line, r.true_i, 13, 5);
    put_es(line, r.factor, 13, 5);
    put_i(line, r.outlier, 2);
    put_es(line, r.b, 12, 4);
  }
  line += '\n';
}

// The random draws of one observation after the choice of reflection, made in full for
// every observation so that the effects switched on do not change the sequence.
struct Draws {
  double noise, outlier, magnitude, sign;
};

Draws draw_noise(Random& rnd) {
  Draws d;
  d.noise = rnd.normal();
  d.outlier = rnd.uniform();
  d.magnitude = rnd.uniform();
  d.sign = rnd.uniform();
  return d;
}

// Measured intensity and counting sigma of an observation with expected intensity e.
void measure(const SweepOptions& w, float e, float counting_sigma, const Draws& d, Record& r) {
  const double sd = std::sqrt(w.error_a * (double(counting_sigma) * counting_sigma + w.error_b * double(e) * e));
  double i = e + d.noise * sd;
  r.outlier = d.outlier < w.outliers;
  if (r.outlier) {
    const int sign = w.outlier_sign != 0 ? w.outlier_sign : d.sign < 0.5 ? -1 : 1;
    i += sign * (8.0 + 22.0 * d.magnitude) * sd;
  }
  r.iobs = static_cast<float>(i);
  r.sigma = counting_sigma;
}

// Detector and per-reflection constants of one sweep.
struct SweepGeometry {
  float cx, cy, half_x, half_y, r_edge, distance;
  std::vector<float> radius;      // pixels from the beam
  std::vector<float> overall;     // 1/(K exp(B SS))
  std::vector<float> decay_rate;  // D0 + D1 SS
};

SweepGeometry sweep_geometry(const CrystalOptions& c, const SweepOptions& w, const Crystal& x) {
  SweepGeometry g;
  g.cx = static_cast<float>(w.nx) / 2, g.cy = static_cast<float>(w.ny) / 2;
  g.half_x = g.cx, g.half_y = g.cy;
  g.r_edge = 0.95f * std::min(g.cx, g.cy);
  const double sin_max = w.wavelength / (2.0 * c.dmin);
  g.distance = static_cast<float>(g.r_edge / std::tan(2.0 * std::asin(sin_max)));
  const size_t n = x.uniq.size();
  g.radius.resize(n), g.overall.resize(n), g.decay_rate.resize(n);
  for (size_t j = 0; j < n; ++j) {
    const float ss = x.uniq[j].ss;
    g.radius[j] = static_cast<float>(g.distance * std::tan(2.0 * std::asin(w.wavelength * std::sqrt(ss) / 2.0)));
    g.overall[j] = 1.0f / (w.k * std::exp(w.b * ss));
    g.decay_rate[j] = w.decay_d0 + w.decay_d1 * ss;
  }
  return g;
}

float modulation_shape(float u, float v) {
  const float du = u - 0.4f, dv = v + 0.3f;
  return 0.55f * (0.6f * u + 0.4f * v) + 0.45f * (2.0f * std::exp(-(du * du + dv * dv) / 0.5f) - 1.0f);
}

// One observation of reflection j as a random symmetry mate on a random image.
void observe(const Crystal& x, const SweepOptions& w, const SweepGeometry& g, size_t j, Random& rnd, Record& r) {
  const Unique& u = x.uniq[j];
  const Symop& m = x.ops[rnd.below(x.ops.size())];
  const bool minus = rnd.uniform() < 0.5;
  const int sign = minus ? -1 : 1;
  r.h = sign * (m[0] * u.h + m[4] * u.k + m[8] * u.l);
  r.k = sign * (m[1] * u.h + m[5] * u.k + m[9] * u.l);
  r.l = sign * (m[2] * u.h + m[6] * u.k + m[10] * u.l);
  const float image = static_cast<float>(rnd.uniform()) * static_cast<float>(w.images);
  const double phi = 2.0 * kPi * rnd.uniform();
  r.psi = -180.0f + 360.0f * static_cast<float>(rnd.uniform());
  const Draws d = draw_noise(rnd);

  const float cos_phi = static_cast<float>(std::cos(phi)), sin_phi = static_cast<float>(std::sin(phi));
  r.x = g.cx + g.radius[j] * cos_phi;
  r.y = g.cy + g.radius[j] * sin_phi;
  r.z = static_cast<float>(w.first_image) + image;
  const float t = image / static_cast<float>(w.images);
  const float omega = image * w.oscillation * static_cast<float>(kPi / 180.0);
  const float f = modulation_shape((r.x - g.cx) / g.half_x, (r.y - g.cy) / g.half_y);
  const float a = g.radius[j] / g.r_edge * std::cos(omega + static_cast<float>(phi));
  const float dose = w.starting_dose + w.dose_rate * image;
  r.factor = g.overall[j] * std::exp(-t * g.decay_rate[j] - u.b * dose) * (1.0f + w.modulation * f) *
             (1.0f + w.absorption * a);
  // The operator reduces sign*(h R) back to h with the same sign: a minus sign is the "-"
  // half. Centric halves are equal, and under Friedel's law both halves are too.
  r.true_i = minus ? u.i_minus : u.i_plus;
  r.b = u.b;
  const float e = r.factor * r.true_i;
  measure(w, e, std::sqrt(std::max(e, 0.0f) + w.background), d, r);
}

// The merged record of a unique reflection: its "+" half on the sweep's overall scale, with
// the sigma of a mean of about four observations.
void observe_merged(const Unique& u, const SweepOptions& w, Random& rnd, Record& r) {
  r.h = u.h, r.k = u.k, r.l = u.l;
  r.true_i = u.i_plus, r.b = u.b;
  r.factor = 1.0f / (w.k * std::exp(w.b * u.ss));
  const float e = r.factor * r.true_i;
  measure(w, e, std::sqrt(std::max(e, 0.0f) + w.background) / 2.0f, draw_noise(rnd), r);
}

long long observation_count(const SweepOptions& w, size_t nunique) {
  if (w.merged) return static_cast<long long>(nunique);
  return w.nobs >= 0 ? w.nobs : std::llround(w.multiplicity * static_cast<double>(nunique));
}

void write_sweep(const CrystalOptions& c, const Crystal& x, const SweepOptions& w) {
  const SweepGeometry g = w.merged ? SweepGeometry{} : sweep_geometry(c, w, x);
  OutFile out(w.out);
  write_header(out, c, w, g.distance);
  Random rnd = stream(w.sweep_seed, 0);
  std::string line;
  line.reserve(256);
  Record r{};
  const long long n = observation_count(w, x.uniq.size());
  for (long long i = 0; i < n; ++i) {
    if (w.merged) observe_merged(x.uniq[static_cast<size_t>(i)], w, rnd, r);
    else observe(x, w, g, rnd.below(x.uniq.size()), rnd, r);
    format_record(r, w, line);
    out.put(line);
  }
  out.put("!END_OF_DATA\n");
  out.close();
  std::fprintf(stderr, "velmar_synth: %lld observations of %zu unique reflections written to %s\n", n,
               x.uniq.size(), w.out.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parse(argc, argv);
    const Crystal x = make_crystal(o.crystal);
    if (!o.crystal.truth.empty()) write_truth(o.crystal, x);
    for (const SweepOptions& w : o.sweeps) write_sweep(o.crystal, x, w);
    return 0;
  } catch (const std::exception& e) {
    fail(std::string("cannot go on: ") + e.what());
  }
}
