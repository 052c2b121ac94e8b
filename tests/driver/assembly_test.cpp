// Assembly of the loaded observations: loading jobs, scratch read-back, sorting, the
// unique-reflection table, per-data-set ranges and default shells; start-up texts.
#include "driver/assembly.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "driver/control_file.hpp"
#include "input/scratch.hpp"
#include "symmetry/asym.hpp"
#include "test_support.hpp"

namespace velmar {
namespace {

using testing::InDirectory;
using testing::stop_text;
using testing::TempDir;

TEST(Assembly, OneLoadingJobWhateverTheProcessorCount) {
  UnitTable units;
  const std::vector<LoadingJob> jobs = make_loading_jobs(32, 5, units);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(std::make_tuple(jobs[0].first_set, jobs[0].last_set, jobs[0].scratch_name), std::make_tuple(0, 4, "VMROUT_01.tmp"));
  UnitTable full;
  for (int u = 1; u <= 200; ++u) full.open(u);
  full.close(7);
  EXPECT_EQ(full.find_free(1), std::vector<int>{7});
  EXPECT_EQ(stop_text([&] { make_loading_jobs(1, 1, full); }), " !!! ERROR !!! CANNOT ALLOCATE DEVICE UNIT NUMBERS");
}

TEST(Assembly, DefaultShells) {
  EXPECT_EQ(std::make_tuple(default_shells(1234, 0.25f).size(), default_shells(40, 0.25f).size(),
                            default_shells(5000, 0.25f).size()),
            std::make_tuple(12u, 1u, 20u));
  const std::vector<float> s = default_shells(400, 0.25f);  // 4 shells up to 2 A
  ASSERT_EQ(s.size(), 4u);
  EXPECT_FLOAT_EQ(s[0], 1.0f / std::sqrt(0.0625f));
  EXPECT_FLOAT_EQ(s[3], 2.0f);
  EXPECT_FLOAT_EQ(default_shells(10, 0.0f)[0], 1000.0f);  // at least 1.0E-6 in (1/d)^2
}

// Writes the observations of the data sets to a scratch file the way the loader does.
void write_scratch(const std::string& name, const std::vector<std::vector<ScratchRecord>>& sets) {
  ScratchWriter w;
  ASSERT_TRUE(w.open(name));
  for (const auto& set : sets) {
    for (const ScratchRecord& r : set) ASSERT_TRUE(w.write(r));
    ASSERT_TRUE(w.write_end_marker(set.empty() ? ScratchRecord{} : set.back()));
  }
  ASSERT_TRUE(w.close());
}

ScratchRecord record(int h, int k, int l, int isym, float i) {
  return {ReflKey{int16_t(h), int16_t(k), int16_t(l), int16_t(isym)}, i, 1.0f, Position{float(h), 2, 3, 4}};
}

TEST(Assembly, ReadBackSortsEachBlockAndLosesNothing) {
  TempDir dir;
  InDirectory in(dir);
  write_scratch("VMROUT_01.tmp", {{record(3, 1, 0, 1, 30), record(1, 0, 0, -2, 10), record(3, 1, 0, -1, 31),
                                   record(2, 0, 0, 1, 20)},
                                  {record(2, 0, 0, 2, 21), record(5, 0, 0, 1, 50)}});
  std::vector<DataSet> rows(2);
  rows[0].load.nrec = 4;
  rows[1].load.nrec = 2;
  const std::vector<DataSetBlock> blocks = observation_blocks(rows);
  UnitTable units;
  ObservationList obs;
  read_back_observations(make_loading_jobs(1, 2, units), blocks, obs, -1);
  EXPECT_FALSE(dir.exists("VMROUT_01.tmp"));
  EXPECT_EQ(obs.intensity, (std::vector<float>{10, 20, 31, 30, 0, 21, 50, 0}));
  EXPECT_TRUE(obs.key[4].is_end_marker() && obs.key[7].is_end_marker());
  EXPECT_EQ(obs.pos[3].x, 3.0f);  // companions travel with their records
  EXPECT_EQ(obs.corr[0], 1.0f);

  UniqueTable table;
  build_unique_table(SymopList{Symop{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}}, Cell{10, 10, 10, 90, 90, 90}, blocks, obs,
                     table);
  ASSERT_EQ(table.size(), 4u);  // (1,0,0), (2,0,0), (3,1,0), (5,0,0)
  EXPECT_EQ(std::make_tuple(table.count(1, 0), table.count(1, 1), table.first(1, 1), table.max_observations),
            std::make_tuple(1, 1, 5, 2));
  data_set_ranges(table, obs, rows);
  EXPECT_FLOAT_EQ(rows[0].range.ss_min, 0.01f);
  EXPECT_FLOAT_EQ(rows[0].range.ss_max, 0.1f);
  EXPECT_FLOAT_EQ(rows[1].range.x_max, 5.0f);
  EXPECT_FLOAT_EQ(rows[0].range.max_i_over_sigma, 31.0f);
  EXPECT_FLOAT_EQ(rows[0].range.b_min, -0.9f / (31.0f * 31.0f));
}

TEST(Assembly, TruncatedScratchFileStops) {
  TempDir dir;
  InDirectory in(dir);
  write_scratch("VMROUT_01.tmp", {{record(1, 0, 0, 1, 1), record(2, 0, 0, 1, 2)}});
  std::vector<DataSet> sets(1);
  sets[0].load.nrec = 3;  // one more than the file holds
  UnitTable units;
  ObservationList obs;
  EXPECT_EQ(stop_text([&] { read_back_observations(make_loading_jobs(1, 1, units), observation_blocks(sets), obs, -1); }),
            " !!! ERROR !!! CANNOT OPEN OR READ FILE  VMROUT_01.tmp" + std::string(37, ' '));
  EXPECT_FALSE(dir.exists("VMROUT_01.tmp"));
}

// The control tables of `control` and its data sets loaded and read back, as the driver has
// them before the unique reflections are built (in the working directory).
struct Loaded {
  ControlTables t;
  std::vector<DataSetBlock> blocks;
  ObservationList obs;
};

Loaded load(const std::string& control) {
  Loaded l;
  const Report quiet{nullptr, nullptr};
  l.t.capacity = prescan_capacity(control);
  pvelmar(control, quiet, kMaxShells, l.t);
  UnitTable units;
  const std::vector<LoadingJob> jobs = make_loading_jobs(l.t.run.processors, static_cast<int>(l.t.sets.size()), units);
  readhkl1(quiet, l.t, jobs);
  l.blocks = observation_blocks(l.t.sets);
  read_back_observations(jobs, l.blocks, l.obs, -1);
  return l;
}

TEST(Assembly, NoObservationLostBetweenInputAndUniqueTable) {
  TempDir dir;
  ASSERT_TRUE(testing::synthesize(dir, "s.hkl", "--sg 96 --obs 20000 --dmin 2.5 --seed 11"));
  ASSERT_TRUE(testing::synthesize(dir, "t.hkl", "--sg 96 --obs 7000 --dmin 3.0 --seed 12 --friedel FALSE"));
  InDirectory in(dir);
  const Loaded l = load("OUTPUT_FILE=o\nINPUT_FILE=s.hkl\nINPUT_FILE=t.hkl\n");
  UniqueTable table;
  build_unique_table(l.t.ops, l.t.run.cell, l.blocks, l.obs, table);
  EXPECT_EQ(l.t.sets[0].load.nrec + l.t.sets[1].load.nrec, 20000 + 7000) << "synthetic sigmas are all positive";
  for (int j = 0; j < 2; ++j) {
    int64_t sum = 0;
    for (size_t u = 0; u < table.size(); ++u) {
      sum += table.count(u, j);
      for (int32_t i = table.first(u, j); i < table.first(u, j) + table.count(u, j); ++i)
        ASSERT_TRUE(l.obs.key[size_t(i)].same_hkl(ReflKey{table.uniq[u].h, table.uniq[u].k, table.uniq[u].l, 0}));
    }
    EXPECT_EQ(sum, l.t.sets[size_t(j)].load.nrec) << "data set " << j + 1;
  }
}

TEST(Assembly, ReferenceDataSetIsMergedToOneObservationPerReflection) {
  TempDir dir;
  dir.write("a.hkl", testing::kvd_file("1 2 3 100 10\n1 2 3 104 10\n2 2 3 200 10\n", true));
  // (1,2,3) three times, once as its mate (-1,2,3); (2,2,3) once.
  dir.write("r.hkl", testing::kvd_file("1 2 3 100 10\n-1 2 3 130 5\n1 2 3 70 10\n2 2 3 210 10\n", true));
  InDirectory in(dir);
  Loaded l = load("REFERENCE_DATA_SET=r.hkl\nOUTPUT_FILE=o\nINPUT_FILE=a.hkl\n");
  UniqueTable table;
  assemble_unique_reflections(l.t, l.blocks, l.obs, table);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(l.blocks[1].nrec, 2);
  EXPECT_EQ(table.count(0, 0), 2) << "the other data set keeps its observations";
  EXPECT_EQ(std::make_pair(table.count(0, 1), table.count(1, 1)), std::make_pair(1, 1));
  // Inverse-variance mean of 100 (w 1/100), 130 (w 1/25), 70 (w 1/100): 6.9/0.06 = 115.
  const size_t first = static_cast<size_t>(table.first(0, 1));
  EXPECT_FLOAT_EQ(l.obs.intensity[first], 115.0f);
  EXPECT_FLOAT_EQ(l.obs.sigma[first], 1.0f / std::sqrt(0.06f));
  EXPECT_TRUE(l.obs.key[first + 2].is_end_marker()) << "the merged block ends with its marker";
  EXPECT_FLOAT_EQ(l.t.sets[1].range.ss_max, table.ss[1]);
}

TEST(Startup, DatesBannerAndElapsedTime) {
  EXPECT_EQ(run_date_text({5, 12, 2026}) + run_date_text({28, 2, 2027}), " 5-Dec-202628-Feb-2027");
  EXPECT_EQ(banner_line(" 5-Dec-2026"),
            "***** VELMAR ***** (VERSION " + std::string(kVersion) + "  BUILT=" + build_date_text() + ")   5-Dec-2026");
  EXPECT_DOUBLE_EQ(elapsed_wall_seconds({23, 59, 50, 0}, {0, 0, 20, 0}), 30.0);
  EXPECT_DOUBLE_EQ(elapsed_wall_seconds({10, 0, 0, 250}, {10, 0, 1, 0}), 0.75);
}

}  // namespace
}  // namespace velmar
