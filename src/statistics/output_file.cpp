#include "statistics/output_file.hpp"

#include <cmath>
#include <cstdio>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "common/equivalents.hpp"
#include "symmetry/spacegroups.hpp"

namespace velmar {
namespace {

constexpr size_t kBufferSize = size_t{1} << 20;  // bytes collected before one fwrite
constexpr size_t kLongestRecord = 128;

std::string_view without_leading_blanks(std::string_view s) {
  const size_t p = s.find_first_not_of(' ');
  return p == std::string_view::npos ? std::string_view{} : s.substr(p);
}

std::string_view without_trailing_blanks(std::string_view s) {
  const size_t p = s.find_last_not_of(' ');
  return p == std::string_view::npos ? std::string_view{} : s.substr(0, p + 1);
}

std::string error_text(std::string_view message, std::string_view name) {
  std::string t(message);
  t += name;
  if (t.size() > kErrorTextLength) t.resize(kErrorTextLength);
  return t;
}

// The output file with a large write buffer; `failed` records any short write.
struct BufferedFile {
  std::FILE* file;
  std::string buffer;
  bool failed = false;

  explicit BufferedFile(std::FILE* f) : file(f) { buffer.reserve(kBufferSize + kLongestRecord); }
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;
  ~BufferedFile() {
    if (file) close();  // a stop while writing leaves the file as far as written
  }
  void flush() {
    if (!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) failed = true;
    buffer.clear();
  }
  void end_record() {
    buffer += '\n';
    if (buffer.size() >= kBufferSize) flush();
  }
  // Flushes and closes; false when anything failed to reach the file.
  bool close() {
    flush();
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    return closed && !failed;
  }
};

const char* mode_line(int mode) {
  if (mode > 0)
    return mode == 1 ? "!FORMAT=KVD_ASCII    MERGE=TRUE     FRIEDEL'S_LAW=TRUE "
                     : "!FORMAT=KVD_ASCII    MERGE=TRUE     FRIEDEL'S_LAW=FALSE";
  return mode == -1 ? "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=TRUE "
                    : "!FORMAT=KVD_ASCII    MERGE=FALSE    FRIEDEL'S_LAW=FALSE";
}

void add_line(std::string& s, std::string_view line) {
  s += line;
  s += '\n';
}

void add_data_set_lists(std::string& s, const ScaledData& data, std::span<const int> sets) {
  for (const int j : sets) {
    s += "! ISET=";
    put_i(s, j + 1, 4);
    s += " INPUT_FILE=";
    add_line(s, without_trailing_blanks(data.tables.sets[static_cast<size_t>(j)].name));
  }
  for (const int j : sets) {
    s += "! ISET=";
    put_i(s, j + 1, 4);
    s += " X-RAY_WAVELENGTH=";
    put_f(s, data.tables.sets[static_cast<size_t>(j)].load.wavelength, 10, 5);
    add_line(s, " (<0 if unknown)");
  }
}

void add_dose_block(std::string& s, const ScaledData& data, std::span<const int> sets) {
  add_line(s, "!");
  add_line(s, "!Reflections of the following input data sets were corrected");
  add_line(s, "!individually for radiation damage.");
  for (const int j : sets) {
    const DoseUsed& d = data.tables.sets[static_cast<size_t>(j)].dose;
    if (!d.corrected) continue;
    s += "! ISET=";
    put_i(s, j + 1, 3);
    s += " STARTING_DOSE=";
    put_es(s, d.starting_dose, 10, 3);
    s += " DOSE_RATE=";
    put_es(s, d.dose_rate, 10, 3);
    s += " FIRST_IMAGE=";
    put_i(s, std::lround(d.first_image), 5);
    s += " CRYSTAL_NAME= ";
    add_line(s, without_trailing_blanks(data.tables.sets[static_cast<size_t>(j)].crystal_name));
  }
  add_line(s, "!The accumulated x-ray dose when image_number i was recorded is");
  add_line(s, "!    dose(i) = starting_dose + dose_rate * ( i - first_image ).");
  add_line(s, "!Intensities of reflections h recorded on i have been corrected");
  add_line(s, "!by the factor exp{-b(h)*dose(i)}, with the decay constant b(h)");
  add_line(s, "!shown as ITEM_DCY for each data record below.");
}

void add_item_lines(std::string& s, const ScaledData& data, int mode, bool dose) {
  const RunParameters& run = data.tables.run;
  add_line(s, "!");
  s += "!SPACE_GROUP_NUMBER=";
  put_i(s, run.space_group, 5);
  s += "\n!UNIT_CELL_CONSTANTS=";
  for (int i = 0; i < 3; ++i) put_f(s, run.cell[static_cast<size_t>(i)], 10, 2);
  for (int i = 3; i < 6; ++i) put_f(s, run.cell[static_cast<size_t>(i)], 8, 3);
  s += "\n!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=";
  put_i(s, mode > 0 ? 5 : (dose ? 11 : 10), 4);
  s += '\n';
  for (const char* item : {"!ITEM_H=1", "!ITEM_K=2", "!ITEM_L=3", "!ITEM_IOBS=4", "!ITEM_SIGMA(IOBS)=5"})
    add_line(s, item);
  if (mode < 0)
    for (const char* item : {"!ITEM_XD=6", "!ITEM_YD=7", "!ITEM_ZD=8", "!ITEM_PSI=9", "!ITEM_ISET=10"})
      add_line(s, item);
  if (mode < 0 && dose) add_line(s, "!ITEM_DCY=11");
  add_line(s, "!END_OF_HEADER");
}

void put_indices(std::string& s, int h, int k, int l) {
  put_i(s, h, 6);
  put_i(s, k, 6);
  put_i(s, l, 6);
}

// Inverse-variance weighted mean of the accepted observations of class t; false when the
// class has none.
bool class_mean(const Equivalents& eq, int t, float& mean, float& sigma) {
  double sw = 0.0, swi = 0.0;
  for (size_t i = 0; i < eq.n; ++i) {
    if (t * eq.isym[i] < 0 || !(eq.sigma[i] > 0.0f)) continue;
    const double w = 1.0 / (static_cast<double>(eq.sigma[i]) * eq.sigma[i]);
    sw += w;
    swi += w * eq.intensity[i];
  }
  if (sw <= 0.0) return false;
  mean = static_cast<float>(swi / sw);
  sigma = static_cast<float>(1.0 / std::sqrt(sw));
  return true;
}

int64_t write_merged(BufferedFile& out, const Equivalents& eq, const UniqueTable::Entry& e, int mode) {
  int64_t written = 0;
  for (const int t : parity_classes(mode)) {
    float mean = 0.0f, sigma = 0.0f;
    if (!class_mean(eq, t, mean, sigma)) continue;
    const int s = t < 0 ? -1 : 1;
    put_indices(out.buffer, s * e.h, s * e.k, s * e.l);
    put_es(out.buffer, mean, 11, 3);
    put_es(out.buffer, sigma, 11, 3);
    out.end_record();
    ++written;
  }
  return written;
}

struct Operators {
  std::span<const Symop> ops;
  std::vector<int> inverse;
};

int64_t write_unmerged(BufferedFile& out, const Equivalents& eq, const ObservationList& obs, const Operators& o,
                       bool dose) {
  int64_t written = 0;
  for (size_t i = 0; i < eq.n; ++i) {
    if (!(eq.sigma[i] > 0.0f)) continue;
    const auto p = static_cast<size_t>(eq.index[i]);
    const std::array<int, 3> hkl = resthkl(obs.key[p], o.ops, o.inverse);
    std::string& s = out.buffer;
    put_indices(s, hkl[0], hkl[1], hkl[2]);
    put_es(s, eq.intensity[i], 11, 3);
    put_es(s, eq.sigma[i], 11, 3);
    const Position& a = obs.pos[p];
    put_f(s, a.x, 8, 1);
    put_f(s, a.y, 8, 1);
    put_f(s, a.z, 8, 1);
    put_f(s, a.psi, 8, 2);
    put_i(s, eq.set[i] + 1, 4);
    if (dose) put_es(s, obs.decay[p], 11, 3);
    out.end_record();
    ++written;
  }
  return written;
}

}  // namespace

std::array<int, 3> resthkl(const ReflKey& key, std::span<const Symop> ops, std::span<const int> inverse) {
  const int s = key.isym < 0 ? -1 : 1;
  const int n = s * key.isym;
  if (n < 1 || static_cast<size_t>(n) > ops.size() || static_cast<size_t>(n) > inverse.size())
    assert_violation("RESTHKL");
  const int inv = inverse[static_cast<size_t>(n - 1)];
  if (inv < 0 || static_cast<size_t>(inv) >= ops.size()) assert_violation("RESTHKL");
  const Symop& m = ops[static_cast<size_t>(inv)];
  const int h = s * key.h, k = s * key.k, l = s * key.l;
  return {m[0] * h + m[4] * k + m[8] * l, m[1] * h + m[5] * k + m[9] * l, m[2] * h + m[6] * k + m[10] * l};
}

void remove_stale_copies(std::string_view name) {
  const std::string base(without_leading_blanks(name));
  for (const char* suffix : {".Z", ".z", ".gz"}) std::remove((base + suffix).c_str());
}

bool dose_corrected_output(const ScaledData& data, int group) {
  const OutputGroup& g = data.tables.groups[static_cast<size_t>(group - 1)];
  if (g.mode > 0) return false;
  for (const int j : group_sets(data.tables, group))
    if (data.tables.sets[static_cast<size_t>(j)].dose.corrected) return true;
  return false;
}

std::string header_text(const ScaledData& data, int group) {
  const OutputGroup& g = data.tables.groups[static_cast<size_t>(group - 1)];
  const std::vector<int> sets = group_sets(data.tables, group);
  const bool dose = dose_corrected_output(data, group);
  std::string s;
  add_line(s, mode_line(g.mode));
  s += "!DATE=";
  put_char(s, data.date, 11);
  s += "\n!Generated by VELMAR   (VERSION ";
  s += without_trailing_blanks(data.version);
  s += ")\n!OUTPUT_FILE=";
  put_char(s, g.name, kMaxNameLength);
  s += '\n';
  add_line(s, "!COMPRISES THE FOLLOWING SCALED INPUT FILES:");
  add_data_set_lists(s, data, sets);
  if (dose) add_dose_block(s, data, sets);
  add_item_lines(s, data, g.mode, dose);
  return s;
}

std::FILE* vmrhdr(const ScaledData& data, int group, std::string& error) {
  const std::string name(without_leading_blanks(data.tables.groups[static_cast<size_t>(group - 1)].name));
  remove_stale_copies(name);
  std::FILE* f = std::fopen(name.c_str(), "w");
  if (!f) {
    error = error_text("!!! ERROR !!! CANNOT OPEN OR WRITE ", name);
    return nullptr;
  }
  const std::string header = header_text(data, group);
  if (std::fwrite(header.data(), 1, header.size(), f) != header.size()) {
    std::fclose(f);
    error = error_text("!!! ERROR !!! CANNOT WRITE ", name);
    return nullptr;
  }
  error.clear();
  return f;
}

OutputCounts vmrhkl(const ScaledData& data, int group) {
  OutputCounts c;
  const ControlTables& t = data.tables;
  const Operators o{t.ops, mlinv(t.ops)};
  std::FILE* f = vmrhdr(data, group, c.error);
  if (!f) return c;
  BufferedFile out(f);
  const int mode = t.groups[static_cast<size_t>(group - 1)].mode;
  const std::vector<int> sets = group_sets(t, group);
  const bool dose = dose_corrected_output(data, group);
  Equivalents eq(data.unique.max_observations);
  for (size_t u = 0; u < data.unique.size(); ++u) {
    if (!gather_equivalents(data.unique, data.obs, sets, u, eq)) {
      c.error = "!!! ERROR !!! ASSERT VIOLATION IN \"VMRHKL\"";
      out.close();
      return c;
    }
    if (eq.n == 0) continue;
    c.considered += static_cast<int64_t>(eq.n);
    int64_t accepted = 0;
    for (const int cls : parity_classes(mode)) accepted += reject_class(cls, eq, t.run.wfac1).m;
    c.rejected += static_cast<int64_t>(eq.n) - accepted;
    if (accepted == 0) continue;
    c.written += mode > 0 ? write_merged(out, eq, data.unique.uniq[u], mode)
                          : write_unmerged(out, eq, data.obs, o, dose);
  }
  out.buffer += "!END_OF_DATA  \n";
  if (!out.close())
    c.error = error_text("!!! ERROR !!! CANNOT WRITE ",
                         without_leading_blanks(t.groups[static_cast<size_t>(group - 1)].name));
  return c;
}

}  // namespace velmar
