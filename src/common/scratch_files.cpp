#include "common/scratch_files.hpp"

#include <unistd.h>

#include <csignal>
#include <cstring>

namespace velmar {
namespace {

constexpr int kMaxScratchFiles = 16;
constexpr size_t kMaxScratchName = 256;

// Slot i is in use when names[i][0] != 0. Signal handlers only read it.
struct ScratchRegistry {
  char names[kMaxScratchFiles][kMaxScratchName];
  volatile std::sig_atomic_t report_fd;
};
ScratchRegistry registry{{}, -1};

void write_all(int fd, const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(fd, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

extern "C" void on_termination_signal(int sig) {
  for (auto& name : registry.names)
    if (name[0] != 0) ::unlink(name);
  char message[64] = "\n !!! ERROR !!! RUN INTERRUPTED BY SIGNAL ";
  char digits[4] = {char('0' + sig / 10 % 10), char('0' + sig % 10), '\n', 0};
  std::strcat(message, sig >= 10 ? digits : digits + 1);
  write_all(STDOUT_FILENO, message);
  if (registry.report_fd >= 0) write_all(registry.report_fd, message);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

void register_scratch_file(const std::string& name) {
  if (name.size() >= kMaxScratchName) return;
  for (auto& slot : registry.names)
    if (std::strcmp(slot, name.c_str()) == 0) return;
  for (auto& slot : registry.names)
    if (slot[0] == 0) {
      std::memcpy(slot + 1, name.c_str() + 1, name.size());  // the name is complete before it is live
      slot[0] = name[0];
      return;
    }
}

void remove_scratch_file(const std::string& name) {
  ::unlink(name.c_str());
  for (auto& slot : registry.names)
    if (std::strcmp(slot, name.c_str()) == 0) slot[0] = 0;
}

void remove_all_scratch_files() {
  for (auto& slot : registry.names)
    if (slot[0] != 0) {
      ::unlink(slot);
      slot[0] = 0;
    }
}

void install_interrupt_handlers(int report_fd) {
  registry.report_fd = report_fd;
  struct sigaction action {};
  action.sa_handler = on_termination_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

}  // namespace velmar
