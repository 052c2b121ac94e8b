#include "common/report.hpp"

#include <string>

#include "common/error.hpp"

namespace velmar {
namespace {

void put_line(std::FILE* f, std::string_view line) {
  if (!f) return;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fputc('\n', f);
}

}  // namespace

void Report::both(std::string_view line) const {
  put_line(file, line);
  put_line(terminal, line);
}

void Report::to_file(std::string_view line) const { put_line(file, line); }

void Report::to_terminal(std::string_view line) const { put_line(terminal, line); }

void Report::both_lines(std::string_view text) const {
  size_t start = 0;
  while (true) {
    size_t nl = text.find('\n', start);
    both(text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
}

void Report::flush() const {
  if (terminal) std::fflush(terminal);
  if (file && (std::fflush(file) != 0 || std::ferror(file)))
    stop(std::string("!!! ERROR !!! CANNOT WRITE FILE ") + kReportFileName);
}

std::string_view frame_line() {
  static constexpr char kFrame[] =
      " ******************************************************************************";
  return kFrame;
}

}  // namespace velmar
