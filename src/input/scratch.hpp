// Scratch files of the loading jobs: unformatted sequential records of 32 bytes
// (each framed by 4-byte length markers), one per accepted observation, with an end
// marker after each data set.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "common/observations.hpp"

namespace velmar {

struct ScratchRecord {
  int16_t h, k, l, isym;
  float intensity, sigma, x, y, z, psi;
};
static_assert(sizeof(ScratchRecord) == 32);

class ScratchWriter {
 public:
  ScratchWriter() = default;
  ScratchWriter(const ScratchWriter&) = delete;
  ScratchWriter& operator=(const ScratchWriter&) = delete;
  ~ScratchWriter();

  // Creates the file, replacing an old one.
  bool open(const std::string& name);
  bool write(const ScratchRecord& r);
  // The end marker of a data set: h = 32767, sigma -1, the four reals of the last record.
  bool write_end_marker(const ScratchRecord& last);
  // Flushes and closes; false when anything failed to reach the file.
  bool close();

 private:
  std::FILE* f_ = nullptr;
  bool ok_ = true;
};

// Reads, for each data set block, nrec + 1 records into the list at block.start onwards
// (key, intensity, sigma, x, y, z, psi). False on a read error or a premature end.
// The file is deleted afterwards in every case.
bool read_scratch(const std::string& name, std::span<const DataSetBlock> blocks, ObservationList& obs);

}  // namespace velmar
