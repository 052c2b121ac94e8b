// The loader: every input data set is read, reindexed, filtered (systematic absences,
// resolution range, exclusion list), reduced to its reflection key and written to the
// scratch file of its loading job; then the summary table is printed.
#include "input/loader.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

#include "common/error.hpp"
#include "common/files.hpp"
#include "common/fortran_format.hpp"
#include "common/free_format.hpp"
#include "input/file_kind.hpp"
#include "input/psi.hpp"
#include "input/readhdr.hpp"
#include "input/reflection_reader.hpp"
#include "input/scratch.hpp"
#include "symmetry/asym.hpp"
#include "symmetry/cell_geometry.hpp"

namespace velmar {
namespace {

constexpr std::array<int, 12> kIdentityReidx{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
// Largest index magnitude a key can hold: 32767 is the end marker.
constexpr int64_t kMaxIndex = 32766;

int reindex_class(const std::array<int, 12>& r) {
  if (r == kIdentityReidx) return 0;
  if (r[3] != 0 || r[7] != 0 || r[11] != 0) return 1;
  return -1;
}

Mat3 reidx_rotation(const std::array<int, 12>& r) {
  // Column-major: element (i,j) = r[4i + j].
  Mat3 m{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[static_cast<size_t>(3 * j + i)] = static_cast<float>(r[static_cast<size_t>(4 * i + j)]);
  return m;
}

LoadSetup prepare_loading(const Report& rep, const ControlTables& t) {
  LoadSetup s;
  if (invcel(t.run.cell).volume <= 0.0f) stop("!!! ERROR !!! UNIT CELL VOLUME MUST BE POSITIVE");
  s.b = reciprocal_basis(t.run.cell);
  s.a = setmat(t.run.cell);
  s.reindex_class = reindex_class(t.run.reidx);
  const float det = invers(reidx_rotation(t.run.reidx), s.reidx_inverse);
  if (std::lround(det) == 0) stop("!!! ERROR !!! ILLEGAL REINDEXING TRANSFORMATION");
  s.exclusions = new_hash_table(kExclusionTableSize);
  s.exclusion_count = read_exclusion_list(kExclusionListName, t.ops, s.exclusions);
  if (s.exclusion_count > 0) {
    rep.both("");
    rep.both("NUMBER OF UNIQUE REFLECTIONS IN FILE \"REMOVE.HKL\"" + fmt_i(s.exclusion_count, 8));
  }
  return s;
}

bool fits_key(int64_t h, int64_t k, int64_t l) {
  return std::llabs(h) <= kMaxIndex && std::llabs(k) <= kMaxIndex && std::llabs(l) <= kMaxIndex;
}

// The key of (h,k,l), or false when an operator image would not fit the 16-bit fields.
bool reduce(int h, int k, int l, std::span<const Symop> ops, ReflKey& key) {
  constexpr int kSafe = 16383;  // no operator row sums more than two indices
  if (std::abs(h) > kSafe || std::abs(k) > kSafe || std::abs(l) > kSafe) {
    for (const Symop& m : ops)
      if (!fits_key(int64_t{m[0]} * h + int64_t{m[4]} * k + int64_t{m[8]} * l,
                    int64_t{m[1]} * h + int64_t{m[5]} * k + int64_t{m[9]} * l,
                    int64_t{m[2]} * h + int64_t{m[6]} * k + int64_t{m[10]} * l))
        return false;
  }
  key = iasym(h, k, l, ops);
  return true;
}

bool cell_consistent(const Cell& header, const Cell& run) {
  for (size_t i = 0; i < 6; ++i)
    if (std::fabs(header[i] - run[i]) > 0.1f * run[i]) return false;
  return true;
}

// The state of one data set while its lines are read.
struct SetLoad {
  const DataSet& set;
  const LoadSetup& setup;
  std::span<const Symop> ops;
  std::array<int, 12> reidx;
  int reindex_class;
  ScratchWriter& scratch;
  LoadedData& result;
  float max_one_over_d;  // 2/lambda where the wavelength is known, else unbounded
  double intensity_sum = 0;
  ScratchRecord last{};
};

enum class LineOutcome { kDone, kSkipped, kWriteFailed, kIndexOverflow, kBeyondLimit };

bool write_intensity(SetLoad& s, const ReflKey& key, float intensity, float sigma, const DataLine& line,
                     float psi) {
  if (sigma <= 0.0f) return true;
  s.last = ScratchRecord{key, intensity, sigma * s.set.weight, Position{line.x, line.y, line.z, psi}};
  if (!s.scratch.write(s.last)) return false;
  ++s.result.nrec;
  if (intensity > 0.0f) s.intensity_sum += intensity;
  return true;
}

LineOutcome load_line(SetLoad& s, const DataLine& line) {
  const std::array<int, 12>& r = s.reidx;
  const int64_t h64 = int64_t{r[0]} * line.h + int64_t{r[1]} * line.k + int64_t{r[2]} * line.l + r[3];
  const int64_t k64 = int64_t{r[4]} * line.h + int64_t{r[5]} * line.k + int64_t{r[6]} * line.l + r[7];
  const int64_t l64 = int64_t{r[8]} * line.h + int64_t{r[9]} * line.k + int64_t{r[10]} * line.l + r[11];
  if (!fits_key(h64, k64, l64)) return LineOutcome::kIndexOverflow;
  const int h = static_cast<int>(h64), k = static_cast<int>(k64), l = static_cast<int>(l64);
  if (sysabs(h, k, l, s.ops) < 0) return LineOutcome::kSkipped;
  ReflKey key;
  if (!reduce(h, k, l, s.ops, key)) return LineOutcome::kIndexOverflow;
  const float one_over_d = std::sqrt(one_over_d_squared(s.setup.b, h, k, l));
  if (!(s.set.res_low * one_over_d >= 1.0f && s.set.res_high * one_over_d <= 1.0f)) return LineOutcome::kSkipped;
  if (one_over_d > s.max_one_over_d) return LineOutcome::kBeyondLimit;  // d < lambda/2 cannot be measured
  if (s.setup.exclusion_count > 0 &&
      hash64_find(s.setup.exclusions, ReflKey{key.h, key.k, key.l, 0}.packed()) != 0) {
    ++s.result.rejected;
    return LineOutcome::kSkipped;
  }
  float psi = line.psi;
  if (s.reindex_class == 1) {
    psi = kPsiUnknown;
  } else if (s.reindex_class == -1 && psi != kPsiUnknown) {
    psi = reindexed_psi(psi, {line.h, line.k, line.l}, {h, k, l}, s.setup.reidx_inverse, s.setup.a, s.setup.b);
  }
  if (!write_intensity(s, key, line.intensity, line.sigma, line, psi)) return LineOutcome::kWriteFailed;
  if (line.sigma2 > 0.0f) {
    const ReflKey mate = iasym(-h, -k, -l, s.ops);
    if (!write_intensity(s, mate, line.intensity2, line.sigma2, line, psi)) return LineOutcome::kWriteFailed;
  }
  return LineOutcome::kDone;
}

// Reads the lines of one data set; returns its status.
LoadStatus load_lines(SetLoad& s, ReflectionReader& reader) {
  DataLine line;
  while (true) {
    const ReadResult rr = read_data_line(reader, line);
    if (rr == ReadResult::kEnd) break;
    if (rr == ReadResult::kUnreadable) return LoadStatus::kUnreadable;
    switch (load_line(s, line)) {
      case LineOutcome::kWriteFailed: return LoadStatus::kScratchFailed;
      case LineOutcome::kIndexOverflow: return LoadStatus::kIndexOverflow;
      case LineOutcome::kBeyondLimit: return LoadStatus::kBeyondLimit;
      case LineOutcome::kDone:
      case LineOutcome::kSkipped: break;
    }
  }
  return LoadStatus::kUsable;
}

void load_data_set(const ControlTables& t, const LoadSetup& setup, int iset, ScratchWriter& scratch,
                   LoadedData& result) {
  const DataSet& set = t.sets[static_cast<size_t>(iset)];
  const OutputGroup& group = t.groups[static_cast<size_t>(set.group - 1)];
  result = LoadedData{};
  const HeaderValues hdr = readhdr(set.name, set.kind);
  if (hdr.status != 0) return;
  const bool reference_set = group.name.empty();
  const std::array<int, 12> reidx = reference_set ? kIdentityReidx : t.run.reidx;
  const FileKind kind = file_kind_from_name(set.kind).value_or(FileKind::kOldHkl);
  bool inconsistent = false;
  if (kind == FileKind::kKvdAscii && !t.run.reindex)
    inconsistent = hdr.space_group != t.run.space_group || !cell_consistent(hdr.cell, t.run.cell);
  ReflectionReader reader;
  if (!open_reflection_reader(reader, set.name, kind, hdr, group.friedel_law())) return;
  const float max_one_over_d = hdr.wavelength > 0.0f ? 2.0f / hdr.wavelength : std::numeric_limits<float>::infinity();
  SetLoad s{set, setup, t.ops, reidx, reference_set ? 0 : setup.reindex_class, scratch, result, max_one_over_d};
  const LoadStatus status = load_lines(s, reader);
  close_reflection_reader(reader);
  if (status == LoadStatus::kUsable && !scratch.write_end_marker(s.last)) result.status = LoadStatus::kScratchFailed;
  else result.status = status;
  if (result.status != LoadStatus::kUsable) return;
  result.mean_intensity =
      static_cast<float>(result.nrec > 0 ? s.intensity_sum / static_cast<double>(result.nrec) : s.intensity_sum);
  result.geometry = (!hdr.merge || kind == FileKind::kDirect) ? Geometry::kUnmerged : Geometry::kMerged;
  result.oscillation_range = hdr.oscillation_range;
  result.wavelength = hdr.wavelength;
  result.starting_frame = hdr.starting_frame;
  result.input_model = {hdr.variance_a0, hdr.variance_b0};
  if (result.mean_intensity <= 0.0f) result.status = LoadStatus::kUseless;
  else if (inconsistent) result.status = LoadStatus::kInconsistent;
}

void print_summary_head(const Report& rep) {
  rep.both("");
  rep.both(" DATA    MEAN       REFLECTIONS        INPUT FILE NAME");
  rep.both(" SET# INTENSITY  ACCEPTED REJECTED");
}

void print_summary_line(const Report& rep, int iset, const DataSet& set) {
  const LoadedData& r = set.load;
  std::string line;
  put_i(line, iset + 1, 4);
  put_e(line, r.mean_intensity, 12, 4);
  put_i(line, r.nrec, 9);
  put_i(line, r.rejected, 7);
  line += "  ";
  put_char(line, set.name, kMaxNameLength);
  rep.both(line);
}

// The message after a summary line; stops the run for a data set that cannot be used.
void report_status(const Report& rep, LoadStatus status) {
  auto block = [](const char* message) { return "\n " + std::string(message) + "\n"; };
  switch (status) {
    case LoadStatus::kInconsistent:
      rep.both_lines(block("!!! WARNING !!! INCONSISTENT SPACE GROUP OR CELL CONSTANTS"));
      return;
    case LoadStatus::kScratchFailed: stop_verbatim(block("!!! ERROR !!! CANNOT COPY INPUT DATA TO SCRATCH FILE"));
    case LoadStatus::kUnreadable: stop_verbatim(block("!!! ERROR !!! CANNOT OPEN OR READ INPUT DATA FILE"));
    case LoadStatus::kUseless: stop_verbatim(block("!!! ERROR !!! USELESS DATA ON INPUT REFLECTION FILE"));
    case LoadStatus::kIndexOverflow:
      stop_verbatim(block("!!! ERROR !!! REFLECTION INDICES TOO LARGE (MORE THAN 32766) ON INPUT DATA FILE"));
    case LoadStatus::kBeyondLimit:
      stop_verbatim(block("!!! ERROR !!! REFLECTION BEYOND THE LIMIT D=LAMBDA/2 ON INPUT DATA FILE"));
    default: return;
  }
}

}  // namespace

int read_exclusion_list(const std::string& file_name, std::span<const Symop> ops, HashTable64& table) {
  std::error_code ec;
  if (!std::filesystem::exists(file_name, ec)) return 0;
  std::FILE* f = open_regular_file(file_name);
  if (!f) stop("!!! ERROR !!! CANNOT OPEN OR READ " + file_name);
  int count = 0;
  char buf[256];
  while (count < kMaxExclusions && std::fgets(buf, sizeof buf, f)) {
    std::array<int, 3> hkl{};
    if (!read_free_ints(buf, hkl) || hkl[0] == ReflKey::kEndMarkerH) break;
    ReflKey key;
    if (!fits_key(hkl[0], hkl[1], hkl[2]) || !reduce(hkl[0], hkl[1], hkl[2], ops, key)) continue;
    const int64_t packed = ReflKey{key.h, key.k, key.l, 0}.packed();
    if (packed == 0 || hash64_find(table, packed) != 0) continue;
    if (hash64_insert(table, packed) == 0) break;
    ++count;
  }
  std::fclose(f);
  return count;
}

void readhkl(ControlTables& t, const LoadSetup& setup, const LoadingJob& job) {
  ScratchWriter scratch;
  const bool opened = scratch.open(job.scratch_name);
  for (int iset = job.first_set; iset <= job.last_set; ++iset) {
    LoadedData& r = t.sets[static_cast<size_t>(iset)].load;
    if (!opened) {
      r.status = LoadStatus::kScratchFailed;
      break;
    }
    load_data_set(t, setup, iset, scratch, r);
    if (failed(r.status)) break;
  }
  if (!scratch.close() && opened) {
    for (int iset = job.first_set; iset <= job.last_set; ++iset) {
      LoadedData& r = t.sets[static_cast<size_t>(iset)].load;
      if (!failed(r.status)) {
        r.status = LoadStatus::kScratchFailed;
        break;
      }
    }
  }
}

void readhkl1(const Report& rep, ControlTables& t, std::span<const LoadingJob> jobs) {
  rep.both("");
  rep.both(frame_line());
  rep.both("                    READING INPUT REFLECTION DATA FILES");
  rep.both(frame_line());
  const LoadSetup setup = prepare_loading(rep, t);
  for (DataSet& s : t.sets) s.load = LoadedData{};
  for (const LoadingJob& job : jobs) {
    readhkl(t, setup, job);
    if (std::any_of(t.sets.begin() + job.first_set, t.sets.begin() + job.last_set + 1,
                    [](const DataSet& s) { return failed(s.load.status); }))
      break;
  }
  print_summary_head(rep);
  for (size_t i = 0; i < t.sets.size(); ++i) {
    print_summary_line(rep, static_cast<int>(i), t.sets[i]);
    report_status(rep, t.sets[i].load.status);
  }
}

}  // namespace velmar
