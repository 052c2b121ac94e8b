// Throughput of the KVD_ASCII data-line reader on one core.
//
// Usage: bench_kvd_reader [file [lines]]
// Without a file, writes a file of `lines` (default 5,000,000) data lines with 12 items in
// the column layout of integration output to /tmp, reads it three times and removes it.
// Prints the rate in data lines per second of wall-clock time and of CPU time.
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "input/file_kind.hpp"
#include "input/readhdr.hpp"
#include "input/reflection_reader.hpp"

namespace {

const char* const kHeader =
    "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=FALSE\n"
    "!SPACE_GROUP_NUMBER=   89\n"
    "!UNIT_CELL_CONSTANTS=    77.255    77.255    38.233  90.000  90.000  90.000\n"
    "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=12\n"
    "!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n"
    "!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n!ITEM_RLP=9\n!ITEM_PEAK=10\n!ITEM_CORR=11\n"
    "!ITEM_PSI=12\n!END_OF_HEADER\n";

struct Lcg {
  uint64_t s = 12345;
  double next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return double(s >> 11) / double(uint64_t{1} << 53);
  }
  int index() { return int(next() * 81.0) - 40; }
};

bool write_file(const std::string& name, long lines) {
  std::FILE* f = std::fopen(name.c_str(), "w");
  if (f == nullptr) return false;
  std::fputs(kHeader, f);
  Lcg rng;
  for (long n = 0; n < lines; ++n) {
    const double i = (rng.next() - 0.1) * 5000.0;
    std::fprintf(f, "%6d%6d%6d%11.3E%11.3E%8.1f%8.1f%9.1f%10.5f%4d%4d%8.2f\n", rng.index(),
                 rng.index(), rng.index(), i, 1.0 + rng.next() * 80.0, rng.next() * 2463.0,
                 rng.next() * 2527.0, 1.0 + rng.next() * 99.0, rng.next(), 100,
                 int(rng.next() * 100.0), rng.next() * 360.0 - 180.0);
  }
  std::fputs("!END_OF_DATA\n", f);
  return std::fclose(f) == 0;
}

// Reads all data lines; returns their number, or -1 when the file is unreadable.
long read_all(const std::string& name, const velmar::HeaderValues& hdr, double& checksum) {
  velmar::ReflectionReader reader;
  if (!velmar::open_reflection_reader(reader, name, velmar::FileKind::kKvdAscii, hdr, false))
    return -1;
  velmar::DataLine line;
  long n = 0;
  velmar::ReadResult r;
  while ((r = velmar::read_data_line(reader, line)) == velmar::ReadResult::kData) {
    checksum += double(line.intensity) + line.h;
    ++n;
  }
  return r == velmar::ReadResult::kEnd ? n : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 2 ? std::atol(argv[2]) : 5000000L;
  std::string name = argc > 1 ? argv[1] : "";
  const bool generated = name.empty();
  if (generated) {
    name = "/tmp/velmar_bench_" + std::to_string(getpid()) + ".hkl";
    std::printf("writing %ld lines to %s\n", lines, name.c_str());
    if (!write_file(name, lines)) {
      std::fprintf(stderr, "cannot write %s\n", name.c_str());
      return 1;
    }
  }
  const velmar::HeaderValues hdr = velmar::readhdr(name, "KVD_ASCII");
  int status = hdr.status == 0 ? 0 : 1;
  double best = 0.0;
  for (int pass = 0; pass < 3 && status == 0; ++pass) {
    double checksum = 0.0;
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    const long n = read_all(name, hdr, checksum);
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
    const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    if (n < 0) {
      status = 1;
      break;
    }
    const double rate = double(n) / dt.count();
    if (rate > best) best = rate;
    std::printf("pass %d: %ld lines in %.3f s (CPU %.3f s), %.2f million lines/s, %.2f per CPU "
                "second (checksum %.6g)\n",
                pass + 1, n, dt.count(), cpu, rate / 1e6, double(n) / cpu / 1e6, checksum);
  }
  if (generated) std::remove(name.c_str());
  if (status != 0) {
    std::fprintf(stderr, "%s is not a readable KVD_ASCII file\n", name.c_str());
    return 1;
  }
  std::printf("best: %.2f million lines/s\n", best / 1e6);
  return 0;
}
