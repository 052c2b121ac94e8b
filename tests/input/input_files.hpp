// Temporary files for the reflection-file reader tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "input/reflection_reader.hpp"

namespace velmar::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar_in_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string write(const std::string& name, std::string_view bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return file;
  }

 private:
  std::string path_;
};

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
