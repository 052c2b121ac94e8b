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

Outcome replay(Body body, const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  const std::string bytes = s.str();
  return body(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(FuzzCorpus, EveryEntryIsAcceptedOrRejectedCleanly) {
  for (const Target& t : kTargets) {
    ASSERT_TRUE(std::filesystem::is_directory(corpus_dir(t.name))) << t.name;
    for (const auto& entry : std::filesystem::directory_iterator(corpus_dir(t.name))) {
      try {
        replay(t.body, entry.path());
      } catch (const std::exception& e) {
        ADD_FAILURE() << t.name << "/" << entry.path().filename().string() << ": " << e.what();
      }
    }
  }
}

// Seeds whose outcome is known, both outcomes for each target: the bodies drive the parsers
// the way the program does (the control target finds its input files, the first byte of a
// data input chooses the kind).
TEST(FuzzCorpus, KnownSeedsHaveTheirOutcome) {
  const struct {
    const Target& target;
    const char* file;
    bool accepted;
  } cases[] = {
      {kTargets[0], "demo", true},           {kTargets[0], "every_keyword", true},
      {kTargets[0], "header_from_file", true}, {kTargets[0], "reidx_overflow", true},
      {kTargets[0], "errors_alone", false},  {kTargets[0], "errors_reidx_singular", false},
      {kTargets[1], "demo", true},           {kTargets[1], "free_form_values", true},
      {kTargets[1], "no_item_h", false},     {kTargets[1], "unreadable_value", false},
      {kTargets[1], "h_in_column_2", false}, {kTargets[2], "normal_line_longer_than_buffer", true},
      {kTargets[2], "kvd_demo", true},       {kTargets[2], "kvd_bad_value", false},
      {kTargets[2], "normal", true},         {kTargets[2], "anomal_friedel", true},
      {kTargets[2], "unique", true},         {kTargets[2], "oldhkl", false},
      {kTargets[2], "direct_little", true},  {kTargets[2], "direct_swapped", true},
      {kTargets[2], "direct_truncated", false},
  };
  for (const auto& c : cases) {
    const std::filesystem::path p = corpus_dir(c.target.name) / c.file;
    ASSERT_TRUE(std::filesystem::exists(p)) << p;
    EXPECT_EQ(replay(c.target.body, p) == Outcome::kAccepted, c.accepted) << c.target.name << "/" << c.file;
  }
}

}  // namespace
}  // namespace velmar::fuzz
