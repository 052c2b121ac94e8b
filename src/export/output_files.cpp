// Writing export files whole, and names derived from file names.
#include "export/output_files.hpp"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>

#include "common/error.hpp"

namespace velmar {

void write_whole_file(const std::string& out, const std::function<void(const std::string&)>& write) {
  const std::string temporary = out + ".part" + std::to_string(getpid());
  bool ok = true;
  try {
    write(temporary);
  } catch (const std::exception&) {
    ok = false;
  }
  if (ok) ok = std::rename(temporary.c_str(), out.c_str()) == 0;
  if (!ok) {
    std::remove(temporary.c_str());
    stop("!!! ERROR !!! CANNOT OPEN OR WRITE " + out);
  }
}

std::string file_stem(const std::string& path) {
  const std::string stem = std::filesystem::path(path).stem().string();
  return stem.empty() ? std::string("velmar") : stem;
}

}  // namespace velmar
