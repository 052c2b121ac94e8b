// velmar_synth: writes synthetic unmerged (or merged) KVD_ASCII reflection files with known
// true intensities, for the demo, the tests and the benchmarks.
//
//   velmar_synth -o FILE [--sg N] [--cell a b c alpha beta gamma] [--dmin D] [--dmax D]
//                [--multiplicity M | --obs N] [--seed S] [--friedel TRUE|FALSE]
//                [--anomalous FRACTION] [--images N] [--wavelength W] [--wilson-b B]
//                [--scale K] [--decay PER_IMAGE] [--merged] [--variance a0 b0] [--short]
//
// Every unique reflection inside the resolution range gets a true intensity drawn from the
// Wilson distribution (acentric exponential, centric chi-square with one degree of freedom)
// with mean 1000 exp(-B s/2), s = (1/d)^2; Friedel mates differ by the anomalous fraction.
// Observations are random symmetry mates (either parity) on random images; their measured
// intensity is the true one times the scale and exp(-decay z), plus Gaussian noise of the
// counting-statistics sigma sqrt(I + 50).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/fortran_format.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/spacegroups.hpp"

namespace {

using namespace velmar;

struct Options {
  std::string out;
  int sg = 96;
  Cell cell{78.0f, 78.0f, 37.0f, 90.0f, 90.0f, 90.0f};
  float dmin = 2.0f, dmax = 40.0f;
  double multiplicity = 4.0;
  long long nobs = -1;
  uint64_t seed = 1;
  bool friedel = true;
  float anomalous = 0.0f;
  int images = 360;
  float wavelength = 1.0f;
  float wilson_b = 20.0f;
  float scale = 1.0f;
  float decay = 0.0f;
  bool merged = false;
  bool short_records = false;  // 8 items per record: no RLP, PEAK, CORR, PSI
  float a0 = 1.0f, b0 = 1.0e-4f;
};

// splitmix64: a small portable generator so that a seed gives the same file everywhere.
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
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }
  size_t below(size_t n) { return static_cast<size_t>(uniform() * static_cast<double>(n)) % n; }
};

struct Unique {
  int h, k, l;
  float s;           // (1/d)^2
  float i_plus, i_minus;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr, "velmar_synth: %s\n", why);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  auto value = [&](int& i) -> const char* {
    if (i + 1 >= argc) usage("missing value");
    return argv[++i];
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-o") o.out = value(i);
    else if (a == "--sg") o.sg = std::atoi(value(i));
    else if (a == "--cell") for (float& c : o.cell) c = static_cast<float>(std::atof(value(i)));
    else if (a == "--dmin") o.dmin = static_cast<float>(std::atof(value(i)));
    else if (a == "--dmax") o.dmax = static_cast<float>(std::atof(value(i)));
    else if (a == "--multiplicity") o.multiplicity = std::atof(value(i));
    else if (a == "--obs") o.nobs = std::atoll(value(i));
    else if (a == "--seed") o.seed = std::strtoull(value(i), nullptr, 10);
    else if (a == "--friedel") o.friedel = std::string(value(i)) == "TRUE";
    else if (a == "--anomalous") o.anomalous = static_cast<float>(std::atof(value(i)));
    else if (a == "--images") o.images = std::atoi(value(i));
    else if (a == "--wavelength") o.wavelength = static_cast<float>(std::atof(value(i)));
    else if (a == "--wilson-b") o.wilson_b = static_cast<float>(std::atof(value(i)));
    else if (a == "--scale") o.scale = static_cast<float>(std::atof(value(i)));
    else if (a == "--decay") o.decay = static_cast<float>(std::atof(value(i)));
    else if (a == "--merged") o.merged = true;
    else if (a == "--short") o.short_records = true;
    else if (a == "--variance") {
      o.a0 = static_cast<float>(std::atof(value(i)));
      o.b0 = static_cast<float>(std::atof(value(i)));
    } else usage(("unknown option " + a).c_str());
  }
  if (o.out.empty()) usage("no output file (-o)");
  if (o.dmin <= 0 || o.dmax <= o.dmin || o.images < 1) usage("bad resolution range or image count");
  return o;
}

std::vector<Unique> unique_reflections(const Options& o, const SymopList& ops, Random& rnd) {
  const Mat3 b = reciprocal_basis(o.cell);
  const float smax = 1.0f / (o.dmin * o.dmin), smin = 1.0f / (o.dmax * o.dmax);
  float edge = 0;
  for (int i = 0; i < 3; ++i) edge = std::max(edge, o.cell[static_cast<size_t>(i)]);
  const int hmax = static_cast<int>(edge / o.dmin * 1.2f) + 1;
  std::vector<Unique> out;
  for (int h = -hmax; h <= hmax; ++h)
    for (int k = -hmax; k <= hmax; ++k)
      for (int l = -hmax; l <= hmax; ++l) {
        const float s = one_over_d_squared(b, h, k, l);
        if (s < smin || s > smax || sysabs(h, k, l, ops) < 0) continue;
        const ReflKey key = iasym(h, k, l, ops);
        if (key.h != h || key.k != k || key.l != l) continue;
        const float mean = 1000.0f * std::exp(-o.wilson_b * s / 2.0f);
        const bool centric = hkltyp(ops, h, k, l) > 0;
        float i_true;
        if (centric) {
          const double z = rnd.normal();
          i_true = static_cast<float>(mean * z * z);
        } else {
          i_true = static_cast<float>(-mean * std::log(1.0 - rnd.uniform()));
        }
        const float delta = centric ? 0.0f : static_cast<float>(o.anomalous * rnd.normal()) * i_true;
        out.push_back({h, k, l, s, i_true + delta / 2, i_true - delta / 2});
      }
  return out;
}

void write_header(std::FILE* f, const Options& o) {
  std::string s = o.merged ? "!FORMAT=KVD_ASCII    MERGE=TRUE     FRIEDEL'S_LAW="
                           : "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=";
  s += o.friedel ? "TRUE\n" : "FALSE\n";
  s += "!SPACE_GROUP_NUMBER=";
  put_i(s, o.sg, 5);
  s += "\n!UNIT_CELL_CONSTANTS=";
  for (size_t i = 0; i < 6; ++i) put_f(s, o.cell[i], 10, 3);
  s += "\n!X-RAY_WAVELENGTH=";
  put_f(s, o.wavelength, 10, 6);
  s += "\n!OSCILLATION_RANGE=  0.100000\n!INCLUDE_RESOLUTION_RANGE=";
  put_f(s, o.dmax, 10, 3);
  put_f(s, o.dmin, 10, 3);
  s += "\n!VARIANCE_MODEL=";
  put_es(s, o.a0, 11, 3);
  put_es(s, o.b0, 11, 3);
  if (o.merged) {
    s += "\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n"
         "!ITEM_SIGMA(IOBS)=5\n";
  } else if (o.short_records) {
    s += "\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=8\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n"
         "!ITEM_SIGMA(IOBS)=5\n!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n";
  } else {
    s += "\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=12\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n"
         "!ITEM_SIGMA(IOBS)=5\n!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n!ITEM_RLP=9\n!ITEM_PEAK=10\n"
         "!ITEM_CORR=11\n!ITEM_PSI=12\n";
  }
  s += "!END_OF_HEADER\n";
  std::fputs(s.c_str(), f);
}

// One observation of reflection u as a random symmetry mate on a random image.
void write_observation(std::FILE* f, const Options& o, const SymopList& ops, const Unique& u, Random& rnd,
                       std::string& line) {
  const Symop& m = ops[rnd.below(ops.size())];
  const int sign = rnd.uniform() < 0.5 ? -1 : 1;
  const int h = sign * (m[0] * u.h + m[4] * u.k + m[8] * u.l);
  const int k = sign * (m[1] * u.h + m[5] * u.k + m[9] * u.l);
  const int l = sign * (m[2] * u.h + m[6] * u.k + m[10] * u.l);
  const bool minus = o.friedel ? false : iasym(h, k, l, ops).isym < 0;
  const float z = 1.0f + static_cast<float>(rnd.uniform()) * static_cast<float>(o.images - 1);
  const float i_true = (minus ? u.i_minus : u.i_plus) * o.scale * std::exp(-o.decay * z);
  const float sigma = std::sqrt(std::max(i_true, 0.0f) + 50.0f);
  const float iobs = i_true + static_cast<float>(rnd.normal()) * sigma;
  line.clear();
  put_i(line, h, 6);
  put_i(line, k, 6);
  put_i(line, l, 6);
  put_es(line, iobs, 11, 3);
  put_es(line, sigma, 11, 3);
  put_f(line, 20.0f + 2000.0f * static_cast<float>(rnd.uniform()), 8, 1);
  put_f(line, 20.0f + 2000.0f * static_cast<float>(rnd.uniform()), 8, 1);
  put_f(line, z, 9, 1);
  const float psi = -180.0f + 360.0f * static_cast<float>(rnd.uniform());
  if (!o.short_records) {
    line += "   1.00000 100   0 ";
    put_f(line, psi, 7, 2);
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), f);
}

void write_merged(std::FILE* f, const Options& o, const std::vector<Unique>& uniq, Random& rnd) {
  std::string line;
  for (const Unique& u : uniq) {
    const float sigma = std::sqrt(std::max(u.i_plus, 0.0f) + 50.0f) / 2.0f;
    line.clear();
    put_i(line, u.h, 6);
    put_i(line, u.k, 6);
    put_i(line, u.l, 6);
    put_es(line, u.i_plus * o.scale + static_cast<float>(rnd.normal()) * sigma, 11, 3);
    put_es(line, sigma, 11, 3);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const SpaceGroupLookup sg = xsymy(1, o.cell, o.sg);
  if (sg.ops.empty()) usage("space group and cell do not fit together");
  Random rnd{o.seed};
  const std::vector<Unique> uniq = unique_reflections(o, sg.ops, rnd);
  if (uniq.empty()) usage("no reflection in the resolution range");
  std::FILE* f = std::fopen(o.out.c_str(), "w");
  if (!f) usage("cannot write the output file");
  static char buffer[1 << 20];
  std::setvbuf(f, buffer, _IOFBF, sizeof buffer);
  write_header(f, o);
  if (o.merged) {
    write_merged(f, o, uniq, rnd);
  } else {
    const long long n = o.nobs >= 0 ? o.nobs : std::llround(o.multiplicity * static_cast<double>(uniq.size()));
    std::string line;
    for (long long i = 0; i < n; ++i) write_observation(f, o, sg.ops, uniq[rnd.below(uniq.size())], rnd, line);
  }
  std::fputs("!END_OF_DATA\n", f);
  const bool ok = std::fclose(f) == 0;
  std::fprintf(stderr, "velmar_synth: %zu unique reflections written to %s\n", uniq.size(), o.out.c_str());
  return ok ? 0 : 1;
}
