#include "driver/assembly.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/error.hpp"
#include "common/fortran_format.hpp"
#include "input/scratch.hpp"
#include "symmetry/cell_geometry.hpp"
#include "symmetry/qsort.hpp"
#include "symmetry/shell_count.hpp"
#include "symmetry/unique_table.hpp"

namespace velmar {
namespace {

// The list and the sort buffer of the largest block must fit into the memory available.
void check_memory(int64_t m, int64_t largest_block, int64_t available) {
  const int64_t needed = m * kBytesPerObservation + largest_block * static_cast<int64_t>(sizeof(ScratchRecord));
  if (m > std::numeric_limits<int32_t>::max() || (available >= 0 && needed > available))
    stop("!!! ERROR !!! NOT ENOUGH MEMORY FOR" + fmt_i(m, 12) + " OBSERVATIONS");
}

}  // namespace

std::string scratch_file_name(int job) {
  std::string number = fmt_i(job, 2);
  std::replace(number.begin(), number.end(), ' ', '0');
  return "VMROUT_" + number + ".tmp";
}

std::vector<LoadingJob> make_loading_jobs(int processors, int nset, UnitTable& units) {
  processors = std::min(processors, kMaxLoadingJobs);
  if (processors > 0) processors = 1;  // the loading runs in one job
  const int p = std::max(1, std::min(processors, nset));
  const int c = (nset - 1) / p;
  const int njob = (nset - 1) / (c + 1) + 1;
  if (units.find_free(2 * njob).empty()) stop("!!! ERROR !!! CANNOT ALLOCATE DEVICE UNIT NUMBERS");
  std::vector<LoadingJob> jobs(static_cast<size_t>(njob));
  for (int k = 1; k <= njob; ++k) {
    LoadingJob& job = jobs[static_cast<size_t>(k - 1)];
    job.first_set = (k - 1) * (c + 1);
    job.last_set = std::min(k * (c + 1), nset) - 1;
    job.scratch_name = scratch_file_name(k);
  }
  return jobs;
}

std::vector<DataSetBlock> observation_blocks(std::span<const DataSet> sets) {
  std::vector<DataSetBlock> blocks(sets.size());
  int64_t start = 0;
  for (size_t i = 0; i < sets.size(); ++i) {
    blocks[i] = {start, sets[i].load.nrec};
    start += sets[i].load.nrec + 1;
  }
  return blocks;
}

int64_t list_length(std::span<const DataSetBlock> blocks) {
  int64_t m = 0;
  for (const DataSetBlock& b : blocks) m += b.nrec + 1;
  return m;
}

namespace {

// Moves one data set's records into the list: sorted by key, then its end marker.
void store_block(std::span<ScratchRecord> records, const DataSetBlock& b, ObservationList& obs) {
  qsorta(records.first(static_cast<size_t>(b.nrec)));
  for (size_t i = 0; i < records.size(); ++i) {
    const size_t at = static_cast<size_t>(b.start) + i;
    obs.key[at] = records[i].key;
    obs.intensity[at] = records[i].intensity;
    obs.sigma[at] = records[i].sigma;
    obs.pos[at] = records[i].pos;
  }
}

// Reads the blocks of one job; false on a read error or a premature end.
bool read_job(const LoadingJob& job, std::span<const DataSetBlock> blocks, std::vector<ScratchRecord>& buffer,
              ObservationList& obs) {
  ScratchReader reader;
  bool ok = reader.open(job.scratch_name);
  for (int iset = job.first_set; ok && iset <= job.last_set; ++iset) {
    const DataSetBlock& b = blocks[static_cast<size_t>(iset)];
    buffer.resize(static_cast<size_t>(b.nrec + 1));
    ok = reader.read(buffer.data(), buffer.size());
    if (ok) store_block(buffer, b, obs);
  }
  reader.close_and_delete();
  return ok;
}

}  // namespace

void read_back_observations(std::span<const LoadingJob> jobs, std::span<const DataSetBlock> blocks,
                            ObservationList& obs, int64_t available_memory) {
  const int64_t m = list_length(blocks);
  int64_t largest_block = 0;
  for (const DataSetBlock& b : blocks) largest_block = std::max(largest_block, b.nrec + 1);
  check_memory(m, largest_block, available_memory);
  obs.resize(static_cast<size_t>(m));
  std::vector<int> status(jobs.size(), 0);
  std::vector<ScratchRecord> buffer;
  for (size_t k = 0; k < jobs.size(); ++k)
    if (!read_job(jobs[k], blocks, buffer, obs)) status[k] = -1;
  for (size_t k = 0; k < jobs.size(); ++k)
    if (status[k] != 0) stop("!!! ERROR !!! CANNOT OPEN OR READ FILE  " + fmt_char(jobs[k].scratch_name, kMaxNameLength));
  if (m == 0 || !obs.key.back().is_end_marker())
    stop("!!! ERROR !!! CANNOT OPEN OR READ FILE  " + fmt_char(jobs.front().scratch_name, kMaxNameLength));
}

void build_unique_table(std::span<const Symop> ops, const Cell& cell, std::span<const DataSetBlock> blocks,
                        const ObservationList& obs, UniqueTable& table) {
  const UniqueCount count = nhklu(blocks, obs.key);
  setctrl(ops, reciprocal_basis(cell), blocks, obs.key, count.nunique, table);
  table.max_observations = count.max_observations;
}

void data_set_ranges(const UniqueTable& table, const ObservationList& obs, std::span<DataSet> sets) {
  for (DataSet& s : sets) s.range = ObservedRanges{};
  for (size_t u = 0; u < table.size(); ++u) {
    if (table.uniq[u].cls < 0) continue;
    for (int j = 0; j < table.nset; ++j) {
      ObservedRanges& r = sets[static_cast<size_t>(j)].range;
      const int32_t first = table.first(u, j), n = table.count(u, j);
      if (n > 0) {
        r.ss_min = std::min(r.ss_min, table.ss[u]);
        r.ss_max = std::max(r.ss_max, table.ss[u]);
      }
      for (int32_t i = first; i < first + n; ++i) {
        const Position& p = obs.pos[static_cast<size_t>(i)];
        r.x_min = std::min(r.x_min, p.x);
        r.x_max = std::max(r.x_max, p.x);
        r.y_min = std::min(r.y_min, p.y);
        r.y_max = std::max(r.y_max, p.y);
        r.z_min = std::min(r.z_min, p.z);
        r.z_max = std::max(r.z_max, p.z);
        const float sigma = obs.sigma[static_cast<size_t>(i)];
        if (sigma > 0.0f)
          r.max_i_over_sigma = std::max(r.max_i_over_sigma, std::fabs(obs.intensity[static_cast<size_t>(i)] / sigma));
      }
    }
  }
  for (DataSet& s : sets) {
    const float q = s.range.max_i_over_sigma;
    s.range.b_min = q > 1.0f ? -0.9f / (q * q) : -0.9f;
  }
}

bool is_reference_group(const ControlTables& t, const DataSet& s) {
  return t.groups[static_cast<size_t>(s.group - 1)].name.empty();
}

void assemble_unique_reflections(ControlTables& t, std::span<DataSetBlock> blocks, ObservationList& obs,
                                 UniqueTable& unique) {
  if (is_reference_group(t, t.sets.back())) blocks.back().nrec = collaps(obs, blocks.back());
  build_unique_table(t.ops, t.run.cell, blocks, obs, unique);
  data_set_ranges(unique, obs, t.sets);
}

std::vector<float> resolution_shells(const ControlTables& t, size_t nunique) {
  if (!t.run.shells.empty()) return t.run.shells;
  float ss_max = 1.0e-6f;
  for (const DataSet& s : t.sets)
    if (!is_reference_group(t, s)) ss_max = std::max(ss_max, s.range.ss_max);
  return default_shells(static_cast<int64_t>(nunique), ss_max);
}

void check_shell_cost(const Cell& cell, std::span<const float> shells) {
  if (shells.empty()) return;
  if (lattice_points_within(invcel(cell).volume, shells.back()) > kMaxLatticePoints)
    stop("!!! ERROR !!! RESOLUTION TOO HIGH FOR THE UNIT CELL (MORE THAN 4.0E+09 RECIPROCAL LATTICE POINTS)");
}

std::vector<float> default_shells(int64_t nunique, float ss_max) {
  ss_max = std::max(ss_max, 1.0e-6f);
  const int n = static_cast<int>(std::clamp<int64_t>(std::llround(static_cast<double>(nunique) / 100.0), 1, 20));
  std::vector<float> shells(static_cast<size_t>(n));
  for (int k = 1; k <= n; ++k)
    shells[static_cast<size_t>(k - 1)] =
        1.0f / std::sqrt(static_cast<float>(k) * ss_max / static_cast<float>(n));
  return shells;
}

}  // namespace velmar
