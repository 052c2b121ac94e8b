// Binary DIRECT reflection files: fixed records of 68 bytes.
//
// Record layout: nine 16-bit integers S1..S9, three 4-byte reals R1..R3, seven 16-bit
// integers S10..S16, six 4-byte reals R4..R9. The byte order is taken from the first
// record: an S7 outside -192..192 means the file was written with the other byte order and
// every field of every record is byte-reversed. S1 = 10000 ends the data.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "input/data_line.hpp"
#include "input/line_source.hpp"

namespace velmar {

inline constexpr size_t kDirectRecordBytes = 68;

struct DirectSource : ReadBuffer {
  long records = 0;        // records handed out so far
  bool swap_bytes = false; // decided by the first record
};

bool open_direct(DirectSource& src, const std::string& file_name, size_t buffer_bytes);
// Same for a stream that is already open; false when `file` is null.
bool open_direct(DirectSource& src, FileHandle file, size_t buffer_bytes);
void close_direct(DirectSource& src);

// The next record as h = S4, k = S5, l = S6, I = R1, sigma = R2, z = S13, x = S15/10,
// y = S16/10, psi unknown, and the raw geometry fields. A truncated record, a file without
// any whole record, a read error or a non-finite real makes the file unreadable; the end of
// the file after a whole record ends the data like S1 = 10000.
ReadResult read_direct_record(DirectSource& src, DataLine& out);

}  // namespace velmar
