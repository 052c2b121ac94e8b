// Scratch files of the loading jobs: one 32-byte record per accepted observation
// (indices and isym as 16-bit integers, intensity, weighted sigma, x, y, z, psi),
// with an end marker after each data set.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/observations.hpp"

namespace velmar {

using ScratchRecord = PackedObservation;

class ScratchWriter {
 public:
  ScratchWriter() = default;
  ScratchWriter(const ScratchWriter&) = delete;
  ScratchWriter& operator=(const ScratchWriter&) = delete;
  ~ScratchWriter();

  // Creates the file, replacing an old one.
  bool open(const std::string& name);
  bool write(const ScratchRecord& r) {
    buffer_[used_++] = r;
    return used_ < buffer_.size() || flush();
  }
  // The end marker of a data set: h = 32767, sigma -1, the four reals of the last record.
  bool write_end_marker(const ScratchRecord& last);
  // Writes what is buffered and closes; false when anything failed to reach the file.
  bool close();

 private:
  bool flush();
  std::FILE* f_ = nullptr;
  bool ok_ = true;
  std::vector<ScratchRecord> buffer_;
  size_t used_ = 0;
};

class ScratchReader {
 public:
  ScratchReader() = default;
  ScratchReader(const ScratchReader&) = delete;
  ScratchReader& operator=(const ScratchReader&) = delete;
  ~ScratchReader();

  bool open(const std::string& name);
  // Reads the next n records into out[0..n); false on a read error or a premature end.
  bool read(ScratchRecord* out, size_t n);
  // Closes and deletes the file.
  void close_and_delete();

 private:
  std::FILE* f_ = nullptr;
  std::string name_;
};

}  // namespace velmar
