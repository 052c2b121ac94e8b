// The scratch files that exist at any moment of the run, so that every way out of the run
// removes them: the normal end, an error stop, running out of memory, and a termination
// signal (SIGINT, SIGTERM, SIGHUP, as a batch system's time limit sends).
//
// This is the one piece of process-wide state of the program: a signal handler can reach
// nothing else. It holds a few fixed-size names and is touched only by these functions.
#pragma once

#include <string>

namespace velmar {

// Records that `name` is about to be created as a scratch file.
void register_scratch_file(const std::string& name);
// Deletes the file (when it exists) and forgets it.
void remove_scratch_file(const std::string& name);
// Deletes every registered scratch file.
void remove_all_scratch_files();

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove the scratch files, print
// " !!! ERROR !!! RUN INTERRUPTED BY SIGNAL n" on the terminal and the report file (given as
// its file descriptor, -1 for none) and end the process with that signal.
void install_interrupt_handlers(int report_fd);

// A scratch file that is registered while the guard lives and removed when it goes, on
// every path out of its scope.
class ScratchFileGuard {
 public:
  explicit ScratchFileGuard(std::string name) : name_(std::move(name)) { register_scratch_file(name_); }
  ~ScratchFileGuard() { remove_scratch_file(name_); }
  ScratchFileGuard(const ScratchFileGuard&) = delete;
  ScratchFileGuard& operator=(const ScratchFileGuard&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace velmar
