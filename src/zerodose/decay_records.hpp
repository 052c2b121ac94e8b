// The decay-factor scratch file: for every unique reflection with accepted decay factors in
// at least two data sets of crystals with more than one data set, those data sets and their
// factors. Written by the decay-factor pass, read back by the dose-rate refinement.
//
// Layout (this program's own, native byte order): one record per reflection, a 32-bit
// count n followed by n entries of a 32-bit data-set number (0-based), the decay factor and
// its standard deviation (32-bit reals).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velmar {

// The records in memory: record r holds entries first[r] .. first[r+1]-1.
struct DecayRecords {
  std::vector<int64_t> first{0};
  std::vector<int32_t> set;
  std::vector<float> b, sd;

  size_t size() const { return first.size() - 1; }
  void add(int32_t j, float factor, float sd_factor) {
    set.push_back(j);
    b.push_back(factor);
    sd.push_back(sd_factor);
  }
  void close_record() { first.push_back(static_cast<int64_t>(set.size())); }
};

// The open scratch file while records are written: opened (replacing the file) when the
// writer is made, stopping with "!!! ERROR !!! CANNOT OPEN OR WRITE " and the name; a failed
// write is remembered and reported when the file is closed; a stop in between closes it.
struct DecayRecordWriter {
  std::FILE* file = nullptr;
  std::string name;
  int64_t records = 0;
  bool failed = false;

  explicit DecayRecordWriter(const std::string& file_name);
  ~DecayRecordWriter();
  DecayRecordWriter(const DecayRecordWriter&) = delete;
  DecayRecordWriter& operator=(const DecayRecordWriter&) = delete;
};

// Writes one record of n entries.
void write_decay_record(DecayRecordWriter& w, const int32_t* set, const float* b, const float* sd, int n);
// Closes the file; stops with CANNOT OPEN OR WRITE when anything failed to reach it.
void close_decay_records(DecayRecordWriter& w);

// Reads the whole file, which must hold exactly `expected` records with data-set numbers
// below `nset`; stops with "!!! ERROR !!! CANNOT OPEN OR READ " and the name otherwise.
DecayRecords read_decay_records(const std::string& name, int64_t expected, int nset);

}  // namespace velmar
