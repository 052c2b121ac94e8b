// Fuzz target bodies shared by the libFuzzer wrappers and the corpus replay.
#include "fuzz/fuzz_targets.hpp"

#include <stdlib.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "common/error.hpp"
#include "common/report.hpp"
#include "common/tables.hpp"
#include "driver/control_file.hpp"
#include "input/readhdr.hpp"
#include "input/reflection_reader.hpp"

namespace velmar::fuzz {
namespace {

std::string_view as_text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A read-only stream over the bytes (they must outlive it).
FileHandle memory_stream(std::string_view bytes) {
  static char empty = 0;
  char* p = bytes.empty() ? &empty : const_cast<char*>(bytes.data());
  return FileHandle(fmemopen(p, bytes.size(), "rb"));
}

void require(bool promise, const std::string& what) {
  if (!promise) throw ParserFault(what);
}

// ---- control file ----------------------------------------------------------------------

constexpr std::string_view kHeaderMarker = "#### h.hkl\n";

const char kUnmergedHeader[] =
    "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=FALSE\n"
    "!SPACE_GROUP_NUMBER=   96\n"
    "!UNIT_CELL_CONSTANTS=    50.000    50.000    30.000    90.000    90.000    90.000\n"
    "!INCLUDE_RESOLUTION_RANGE=    40.000     2.000\n"
    "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=8\n"
    "!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n!ITEM_XD=6\n!ITEM_YD=7\n!ITEM_ZD=8\n"
    "!END_OF_HEADER\n"
    "   -20   -11     2  1.205E+02  1.253E+01   459.1  1991.1     17.0\n"
    "     4   -15     2  9.638E+01  1.252E+01  1556.5  1652.4     21.9\n"
    "!END_OF_DATA\n";

const char kMergedHeader[] =
    "!FORMAT=KVD_ASCII    MERGE=TRUE\n"
    "!SPACE_GROUP_NUMBER=19  UNIT_CELL_CONSTANTS= 50 60 70 90 90 90\n"
    "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n"
    "!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n!ITEM_SIGMA(IOBS)=5\n"
    "!END_OF_HEADER\n"
    "1 2 3 100.0 10.0\n"
    "!END_OF_DATA\n";

void write_file(const std::filesystem::path& p, std::string_view bytes) {
  std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The directory the control-file target runs in, made once per process.
struct ControlDirectory {
  std::filesystem::path dir;
  ControlDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar_fuzz_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw ParserFault("cannot make the fixture directory");
    dir = pattern;
    write_file(dir / "a.hkl", kUnmergedHeader);
    write_file(dir / "m.hkl", kMergedHeader);
    write_file(dir / "t.hkl", "1 2 3 100 10\n");
  }
  ~ControlDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// Returns to the working directory it was made in.
struct BackTo {
  std::filesystem::path old = std::filesystem::current_path();
  ~BackTo() {
    std::error_code ec;
    std::filesystem::current_path(old, ec);
  }
};

// What the later stages index with and rely on once the parser has accepted the file.
void check_control_tables(const ControlTables& t) {
  require(!t.sets.empty() && !t.groups.empty(), "accepted without data sets or output groups");
  const int nsets = static_cast<int>(t.sets.size()), ngroups = static_cast<int>(t.groups.size());
  require(t.run.reference >= 1 && t.run.reference <= nsets, "reference data set out of range");
  for (const DataSet& s : t.sets) {
    require(s.group >= 1 && s.group <= ngroups, "data set in no output group");
    require(s.name.size() <= size_t(kMaxNameLength) && !s.name.empty(), "bad data-set name");
    require(s.res_low > s.res_high && s.res_high > 0.0f, "empty resolution range");
    require(s.crystal >= 0 && s.crystal <= t.run.crystals, "crystal number out of range");
  }
  for (const OutputGroup& g : t.groups)
    require(g.mode == 1 || g.mode == -1 || g.mode == 2 || g.mode == -2, "bad output mode");
  require(t.run.space_group >= 1 && t.run.space_group <= 230, "space group out of range");
  require(!t.ops.empty() && t.ops.size() <= size_t(kMaxOperators), "bad operator count");
  require(t.inverse.size() == t.ops.size(), "inverse list of the wrong length");
  for (int inv : t.inverse) require(inv >= 0 && inv < static_cast<int>(t.ops.size()), "inverse out of range");
  const std::vector<float>& sh = t.run.shells;
  require(sh.size() <= size_t(kMaxShells), "too many shells");
  for (size_t i = 0; i < sh.size(); ++i)
    require(sh[i] > 0.0f && (i == 0 || sh[i] < sh[i - 1]), "shells not decreasing");
}

// ---- data lines ------------------------------------------------------------------------

constexpr std::array<FileKind, 8> kKinds = {FileKind::kKvdAscii, FileKind::kDirect, FileKind::kUnique,
                                            FileKind::kOldHkl,   FileKind::kNormal, FileKind::kAnomal,
                                            FileKind::kKvdAscii, FileKind::kDirect};
// Read buffers: the smallest (one DIRECT record; text lines get their minimum of 4096),
// two records, 4096 bytes, and the program's own size.
constexpr std::array<size_t, 4> kBuffers = {kDirectRecordBytes, 2 * kDirectRecordBytes, 4096, kReaderBufferBytes};

// The loader only uses finite numbers; a line that holds another is unreadable.
void check_line(const DataLine& d) {
  const float values[] = {d.intensity, d.sigma, d.intensity2, d.sigma2, d.x, d.y, d.z, d.psi,
                          d.beam[0],   d.beam[1], d.beam[2]};
  for (float v : values) require(std::isfinite(v), "non-finite value in an accepted line");
}

}  // namespace

Outcome fuzz_control_file(const uint8_t* data, size_t size) {
  static const ControlDirectory fixture;
  std::string_view control = as_text(data, size);
  const size_t marker = control.find(kHeaderMarker);
  std::error_code ec;
  std::filesystem::remove(fixture.dir / "h.hkl", ec);
  if (marker != std::string_view::npos) {
    write_file(fixture.dir / "h.hkl", control.substr(marker + kHeaderMarker.size()));
    control = control.substr(0, marker);
  }
  const BackTo back;
  std::filesystem::current_path(fixture.dir);
  ControlTables t;
  t.capacity = prescan_capacity(control);
  const Report silent{nullptr, nullptr};
  try {
    pvelmar(control, silent, kMaxShells, t);
  } catch (const VelmarError&) {
    return Outcome::kRejected;
  }
  check_control_tables(t);
  return Outcome::kAccepted;
}

Outcome fuzz_header(const uint8_t* data, size_t size) {
  const std::string_view file = as_text(data, size);
  FileHandle stream = memory_stream(file);
  require(stream != nullptr, "cannot open a memory stream");
  // The smallest buffer, so that small inputs cross buffer boundaries.
  const HeaderValues v = readhdr(std::move(stream), "KVD_ASCII", 4096);
  require(v.status == 0 || v.status == -2, "unknown header status");
  if (v.status != 0) return Outcome::kRejected;
  auto column = [&](int item) { return item >= 1 && item <= v.items; };
  require(column(v.item_iobs) && column(v.item_sigma), "usable header without intensity columns");
  return Outcome::kAccepted;
}

Outcome fuzz_data_lines(const uint8_t* data, size_t size) {
  if (size == 0) return Outcome::kRejected;
  const uint8_t mode = data[0];
  const FileKind kind = kKinds[mode & 7];
  const bool friedel = (mode >> 3) & 1;
  const size_t buffer = kBuffers[(mode >> 4) & 3];
  const std::string_view file = as_text(data + 1, size - 1);

  HeaderValues header;
  if (kind == FileKind::kKvdAscii) {
    header = readhdr(memory_stream(file), "KVD_ASCII", buffer);
    if (header.status != 0) return Outcome::kRejected;  // the loader stops here too
  }
  ReflectionReader reader;
  require(open_reflection_reader(reader, memory_stream(file), kind, header, friedel, buffer),
          "cannot open a memory stream");
  DataLine line;
  size_t lines = 0;
  ReadResult result;
  while ((result = read_data_line(reader, line)) == ReadResult::kData) {
    // Every line or record uses at least one byte of the file.
    require(++lines <= file.size(), "the reader does not advance");
    check_line(line);
  }
  require(read_data_line(reader, line) == result, "the reader does not stay at its end");
  close_reflection_reader(reader);
  return result == ReadResult::kEnd ? Outcome::kAccepted : Outcome::kRejected;
}

}  // namespace velmar::fuzz
