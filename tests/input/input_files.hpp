// Temporary files for the reflection-file reader tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "input/reflection_reader.hpp"
#include "test_support.hpp"

namespace velmar::testing {

// All lines of a file up to and including the result that ended the reading.
struct ReadAll {
  std::vector<DataLine> lines;
  ReadResult end = ReadResult::kUnreadable;
};

inline ReadAll read_all(const std::string& file, FileKind kind, const HeaderValues& hdr,
                        bool friedel = false) {
  ReadAll out;
  ReflectionReader reader;
  if (!open_reflection_reader(reader, file, kind, hdr, friedel)) return out;
  DataLine line;
  while ((out.end = read_data_line(reader, line)) == ReadResult::kData) out.lines.push_back(line);
  return out;
}

}  // namespace velmar::testing
