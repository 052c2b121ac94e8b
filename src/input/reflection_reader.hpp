// Reading the data of an input reflection file one observation line at a time.
//
// Usage: open_reflection_reader(), then read_data_line() until it returns kEnd or
// kUnreadable (every later call returns the same), then close_reflection_reader() (the
// file is also closed when the reader is destroyed or reopened). The reader owns one large
// read buffer; nothing is allocated per line.
//
// Per kind:
// - KVD_ASCII: the header is skipped up to "!END_OF_HEADER"; "!END_OF_DATA" or the end of
//   the file ends the data; other lines holding "!" are skipped. The line must hold exactly
//   NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD= values; intensity, sigma, x, y, z and psi come
//   from their item columns (x, y, z 0 and psi 9999 when the item is not given or lies
//   beyond the values of the line).
// - NORMAL (at least 4 values), ANOMAL (exactly 11), UNIQUE (exactly 7): lines holding "!"
//   are skipped, a line whose h is 10000 or the end of the file ends the data.
// - DIRECT: 68-byte binary records (see direct_file.hpp).
// - OLDHKL: never readable.
// Lines holding only blanks are skipped for all text kinds.
#pragma once

#include <string>

#include "input/data_line.hpp"
#include "input/direct_file.hpp"
#include "input/file_kind.hpp"
#include "input/line_source.hpp"
#include "input/readhdr.hpp"

namespace velmar {

inline constexpr size_t kReaderBufferBytes = size_t{1} << 20;

// 0-based value positions of the KVD_ASCII items, -1 when not given.
struct ItemColumns {
  int count = 0;
  int iobs = -1, sigma = -1, xd = -1, yd = -1, zd = -1, psi = -1;
};

struct ReflectionReader {
  FileKind kind = FileKind::kKvdAscii;
  bool friedel = true;  // the data set's output group obeys Friedel's law
  ItemColumns columns;
  LineSource text;
  DirectSource direct;
  bool done = false;
  ReadResult last = ReadResult::kUnreadable;
};

// Opens `file_name` of the given kind. `header` is the file's readhdr result (its item
// layout is used for KVD_ASCII); `friedel_law` tells whether the output group of the data
// set obeys Friedel's law, which decides how ANOMAL and UNIQUE intensities are combined.
// False when the file cannot be opened.
bool open_reflection_reader(ReflectionReader& r, const std::string& file_name, FileKind kind,
                            const HeaderValues& header, bool friedel_law);
// Same for a stream that is already open (the reader takes it over), with a read buffer of
// `buffer_bytes` bytes; false when `file` is null.
bool open_reflection_reader(ReflectionReader& r, FileHandle file, FileKind kind, const HeaderValues& header,
                            bool friedel_law, size_t buffer_bytes = kReaderBufferBytes);

ReadResult read_data_line(ReflectionReader& r, DataLine& out);

void close_reflection_reader(ReflectionReader& r);

}  // namespace velmar
