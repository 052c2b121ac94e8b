// The committed fuzz corpora replayed through the target bodies: every entry must be
// accepted or rejected with the parser's own error, with no other exception and (in the
// sanitizer build) no sanitizer report.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/fuzz_targets.hpp"

namespace velmar::fuzz {
namespace {

using Body = Outcome (*)(const uint8_t*, size_t);

struct Target {
  const char* name;
  Body body;
};

constexpr Target kTargets[] = {
    {"control_file", fuzz_control_file}, {"header", fuzz_header}, {"data_lines", fuzz_data_lines}};

std::filesystem::path corpus_dir(const char* target) {
  return std::filesystem::path(VELMAR_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / target;
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

Outcome run(Body body, const std::string& bytes) {
  return body(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(FuzzCorpus, EveryEntryIsAcceptedOrRejectedCleanly) {
  for (const Target& t : kTargets) {
    const std::filesystem::path dir = corpus_dir(t.name);
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    int accepted = 0, rejected = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      try {
        ++(run(t.body, read_file(entry.path())) == Outcome::kAccepted ? accepted : rejected);
      } catch (const std::exception& e) {
        ADD_FAILURE() << t.name << "/" << entry.path().filename().string() << ": " << e.what();
      }
    }
    // Each corpus leads through the parser both to acceptance and to rejection.
    EXPECT_GT(accepted, 0) << t.name;
    EXPECT_GT(rejected, 0) << t.name;
  }
}

// Seeds whose outcome is known: the bodies drive the parsers the way the program does (the
// control target finds its input files, the first byte of a data input chooses the kind).
TEST(FuzzCorpus, KnownSeedsHaveTheirOutcome) {
  const struct {
    Body body;
    const char* target;
    const char* file;
    Outcome expected;
  } cases[] = {
      {fuzz_control_file, "control_file", "demo", Outcome::kAccepted},
      {fuzz_control_file, "control_file", "every_keyword", Outcome::kAccepted},
      {fuzz_control_file, "control_file", "reference_set", Outcome::kAccepted},
      {fuzz_control_file, "control_file", "header_from_file", Outcome::kAccepted},
      {fuzz_control_file, "control_file", "two_keywords_a_line", Outcome::kAccepted},
      {fuzz_control_file, "control_file", "reidx_overflow", Outcome::kAccepted},
      {fuzz_control_file, "control_file", "repeated_plus_signs", Outcome::kRejected},
      {fuzz_control_file, "control_file", "errors_alone", Outcome::kRejected},
      {fuzz_control_file, "control_file", "errors_reidx_singular", Outcome::kRejected},
      {fuzz_control_file, "control_file", "errors_crystal_kind", Outcome::kRejected},
      {fuzz_header, "header", "demo", Outcome::kAccepted},
      {fuzz_header, "header", "every_keyword", Outcome::kAccepted},
      {fuzz_header, "header", "free_form_values", Outcome::kAccepted},
      {fuzz_header, "header", "no_item_h", Outcome::kRejected},
      {fuzz_header, "header", "h_in_column_2", Outcome::kRejected},
      {fuzz_header, "header", "unreadable_value", Outcome::kRejected},
      {fuzz_data_lines, "data_lines", "kvd_demo", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "kvd_every_item", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "kvd_bad_value", Outcome::kRejected},
      {fuzz_data_lines, "data_lines", "normal", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "normal_line_longer_than_buffer", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "anomal_friedel", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "unique", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "oldhkl", Outcome::kRejected},
      {fuzz_data_lines, "data_lines", "direct_little", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "direct_swapped", Outcome::kAccepted},
      {fuzz_data_lines, "data_lines", "direct_truncated", Outcome::kRejected},
  };
  for (const auto& c : cases) {
    const std::filesystem::path p = corpus_dir(c.target) / c.file;
    ASSERT_TRUE(std::filesystem::exists(p)) << p;
    const bool accepted = run(c.body, read_file(p)) == Outcome::kAccepted;
    EXPECT_EQ(accepted, c.expected == Outcome::kAccepted) << c.target << "/" << c.file;
  }
}

}  // namespace
}  // namespace velmar::fuzz
