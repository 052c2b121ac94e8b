// velmar-report: the HTML page of a finished VELMAR run.
//
//   velmar-report [DIR]
//
// Reads DIR/VELMAR.LP and the correction-factor images beside it (DIR defaults to the
// current directory) and writes DIR/VELMAR.html, printing its path. The page is written
// under a temporary name and renamed when complete; on any error nothing is left behind,
// the message goes to stderr and the exit status is 1.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "common/error.hpp"
#include "common/files.hpp"
#include "driver/startup.hpp"
#include "report/html_page.hpp"
#include "report/run_report.hpp"

namespace velmar::report {
namespace {

constexpr char kUsage[] =
    "Usage: velmar-report [DIR]\n"
    "       velmar-report --version | --help\n"
    "\n"
    "Writes DIR/VELMAR.html, the report of the finished VELMAR run in DIR (default: the\n"
    "current directory) with plots, from DIR/VELMAR.LP and the correction-factor images.\n"
    "The page needs no network access. See README.md of VELMAR for what the plots show.\n";

constexpr long kMaxReportBytes = 256L << 20;

std::string read_report(const std::string& path) {
  std::FILE* f = open_regular_file(path);
  if (!f) stop("!!! ERROR !!! CANNOT OPEN OR READ " + path);
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && static_cast<long>(text.size()) <= kMaxReportBytes)
    text.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) stop("!!! ERROR !!! CANNOT OPEN OR READ " + path);
  if (static_cast<long>(text.size()) > kMaxReportBytes) stop("!!! ERROR !!! " + path + " IS TOO LARGE FOR A REPORT FILE");
  return text;
}

// Writes `text` to `path` through a temporary file in the same directory.
void write_page(const std::string& path, const std::string& text) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) stop("!!! ERROR !!! CANNOT WRITE FILE " + path);
  std::FILE* f = fdopen(fd, "wb");
  bool ok = f != nullptr;
  if (ok) ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f) ok = std::fclose(f) == 0 && ok;
  else close(fd);
  std::error_code ec;
  if (ok) std::filesystem::permissions(temp, std::filesystem::perms(0644), ec);
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    stop("!!! ERROR !!! CANNOT WRITE FILE " + path);
  }
}

void make_report(const std::string& dir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) stop("!!! ERROR !!! " + dir + " IS NOT A DIRECTORY");
  const std::string lp = (std::filesystem::path(dir) / "VELMAR.LP").string();
  const RunReport report = read_run_report(read_report(lp), lp);
  const std::string out = (std::filesystem::path(dir) / "VELMAR.html").string();
  const std::filesystem::path where = std::filesystem::canonical(dir, ec);
  write_page(out, render_html_page(report, ec ? dir : where.string()));
  std::printf("%s\n", out.c_str());
}

int run(std::span<const char* const> args) {
  if (args.size() == 1 && std::string_view(args[0]) == "--version") {
    std::printf("velmar-report (VELMAR %s)\n", kVersion);
    return 0;
  }
  if (args.size() == 1 && std::string_view(args[0]) == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.size() > 1 || (args.size() == 1 && std::string_view(args[0]).starts_with("-"))) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  return exit_status_of([&] { make_report(args.empty() ? std::string(".") : std::string(args[0])); });
}

}  // namespace
}  // namespace velmar::report

int main(int argc, char** argv) {
  return velmar::report::run(std::span<const char* const>(argv + 1, argc > 1 ? static_cast<size_t>(argc - 1) : 0));
}
