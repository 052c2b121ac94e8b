// Shared test helpers: temporary working directories, whole runs of the program, the
// synthetic-data generator and the measured data files beside the project.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "common/error.hpp"

namespace velmar::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  std::string write(const std::string& name, std::string_view bytes) const {
    const std::string f = file(name);
    std::ofstream(f, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return f;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

 private:
  std::string path_;
};

// Runs the body with the working directory switched to `dir`.
class InDirectory {
 public:
  explicit InDirectory(const TempDir& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir.path());
  }
  ~InDirectory() { std::filesystem::current_path(old_); }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

// Output of a shell command run in `dir` and its exit status.
struct CommandResult {
  int status = -1;
  std::string output;
};

inline CommandResult run_in(const TempDir& dir, const std::string& command) {
  CommandResult r;
  const std::string cmd = "cd '" + dir.path() + "' && " + command;
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int w = pclose(p);
  r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return r;
}

// Exit status, terminal output and report file of a whole run.
struct RunResult {
  int status = -1;
  std::string terminal;
  std::string report;
};

// A whole run of the program in `dir`, with `control` written as the control file first
// unless it is empty.
inline RunResult run_velmar(const TempDir& dir, const std::string& control = "") {
  if (!control.empty()) dir.write("VELMAR.INP", control);
  const CommandResult c = run_in(dir, std::string("'") + VELMAR_BINARY + "' 2>&1");
  return {c.status, c.output, dir.read("VELMAR.LP")};
}

#ifdef VELMAR_SYNTH_BINARY
// Writes a synthetic reflection file `name` in `dir` with the generator's options.
inline bool synthesize(const TempDir& dir, const std::string& name, const std::string& options) {
  return run_in(dir, std::string("'") + VELMAR_SYNTH_BINARY + "' -o " + name + " " + options + " 2>/dev/null")
             .status == 0;
}
#endif

// Path of a measured data file beside the project, or empty when the data are absent.
inline std::string real_data(const std::string& name) {
  const std::string p = std::string(VELMAR_SOURCE_DIR) + "/../shared/data/real/" + name;
  return std::filesystem::exists(p) ? std::filesystem::canonical(p).string() : std::string();
}

// A KVD_ASCII reflection file of five items per record: `head` holds the header lines
// before the item layout, `data` the data lines.
inline std::string kvd_file(const std::string& data, bool merge = false,
                            const std::string& head = "!SPACE_GROUP_NUMBER=19\n!UNIT_CELL_CONSTANTS= 50 60 70 90 90 90\n") {
  return std::string("!FORMAT=KVD_ASCII    MERGE=") + (merge ? "TRUE " : "FALSE") + "    FRIEDEL'S_LAW=TRUE\n" + head +
         "!NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=5\n!ITEM_H=1\n!ITEM_K=2\n!ITEM_L=3\n!ITEM_IOBS=4\n"
         "!ITEM_SIGMA(IOBS)=5\n!END_OF_HEADER\n" + data + "!END_OF_DATA\n";
}

// The message of the stop that f raises, or "no stop".
template <typename F>
std::string stop_text(F&& f) {
  try { f(); } catch (const VelmarError& e) { return e.what(); }
  return "no stop";
}

inline bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

}  // namespace velmar::testing
