// The cards of the control file: keywords, scope rules, values and their messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/error.hpp"
#include "driver/control_file.hpp"

namespace velmar {
namespace {

struct CardsResult {
  ControlTables tables;
  std::string report;    // what went to the report file
  std::string terminal;  // what went to the terminal
  std::string error;     // the stop message, empty when the cards were accepted
};

std::string read_stream(std::FILE* f) {
  std::string s;
  std::rewind(f);
  int c;
  while ((c = std::fgetc(f)) != EOF) s += static_cast<char>(c);
  std::fclose(f);
  return s;
}

CardsResult cards(const std::string& text) {
  CardsResult r;
  Report rep{std::tmpfile(), std::tmpfile()};
  r.tables.capacity = prescan_capacity(text);
  try {
    read_control_cards(text, rep, kMaxShells, r.tables);
  } catch (const VelmarError& e) {
    r.error = e.what();
  }
  r.report = read_stream(rep.file);
  r.terminal = read_stream(rep.terminal);
  return r;
}

const std::string kHead = "OUTPUT_FILE=out.hkl\nINPUT_FILE=in.hkl\n";

TEST(ControlCards, BannerAndEcho) {
  CardsResult r = cards("! a comment INPUT_FILE=x\nOUTPUT_FILE=a.hkl ! remark\n");
  EXPECT_EQ(r.error, "");
  const std::string frame(" " + std::string(78, '*'));
  const std::string banner = "\n" + frame + "\n                              CONTROL CARDS\n" + frame + "\n";
  // The report holds keyword lines only, without their comments.
  EXPECT_EQ(r.report, banner + " OUTPUT_FILE=a.hkl\n");
  // The terminal gets every line, at least 78 columns of it.
  const std::string comment_line = (" ! a comment INPUT_FILE=x" + std::string(78, ' ')).substr(0, 78);
  const std::string out_line = (" OUTPUT_FILE=a.hkl ! remark" + std::string(78, ' ')).substr(0, 78);
  EXPECT_EQ(r.terminal, banner + comment_line + "\n" + out_line + "\n");
  ASSERT_EQ(r.tables.groups.size(), 1u);
  EXPECT_EQ(r.tables.groups[0].name, "a.hkl");
  EXPECT_TRUE(r.tables.sets.empty());
}

TEST(ControlCards, GlobalValuesAndDefaults) {
  CardsResult r = cards(kHead +
                        "SPACE_GROUP_NUMBER=19 UNIT_CELL_CONSTANTS=50 60 70 90 90 90\n"
                        "MAXIMUM_NUMBER_OF_PROCESSORS=99\nMINIMUM_I/SIGMA=2.5\n"
                        "REFLECTIONS/CORRECTION_FACTOR=-5\n0-DOSE_SIGNIFICANCE_LEVEL=0.05 WFAC1=2\n"
                        "REIDX=0 1 0 0  1 0 0 0  0 0 -1 0\n");
  ASSERT_EQ(r.error, "");
  const RunParameters& run = r.tables.run;
  EXPECT_EQ(run.space_group, 19);
  EXPECT_EQ(run.cell, (Cell{50, 60, 70, 90, 90, 90}));
  EXPECT_EQ(run.processors, 32);
  EXPECT_FLOAT_EQ(run.min_i_sigma, 2.5f);
  EXPECT_EQ(run.reflections_per_factor, 50);  // a value <= 0 is ignored
  EXPECT_FLOAT_EQ(run.dose_significance, 0.05f);
  EXPECT_FLOAT_EQ(run.wfac1, 2.0f);
  EXPECT_TRUE(run.reindex);
  EXPECT_EQ(run.reidx[10], -1);
}

TEST(ControlCards, SetAndGroupKeywords) {
  CardsResult r = cards(
      "OUTPUT_FILE=o1\nFRIEDEL'S_LAW=FALSE\nINPUT_FILE=a.hkl UNIQUE\nNBATCH=7\n"
      "OUTPUT_FILE=o2\nINPUT_FILE= * b.hkl\nINCLUDE_RESOLUTION_RANGE=30 2.5\nWEIGHT=2\nNBATCH=0\n"
      "CORRECTIONS= DECAY MODULATION\nCRYSTAL_NAME=xtal1\nSTARTING_DOSE=5*\nDOSE_RATE=2 *\n"
      "MERGE=TRUE\nSTRICT_ABSORPTION_CORRECTION=TRUE\nINPUT_FILE=c.hkl DIRECT\n"
      "STARTING_DOSE=1 DOSE_RATE=3\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.tables.sets.size(), 3u);
  const DataSet& a = r.tables.sets[0];
  const DataSet& b = r.tables.sets[1];
  const DataSet& c = r.tables.sets[2];
  EXPECT_EQ(a.kind, "UNIQUE");
  EXPECT_EQ(a.nbatch, -1);  // NBATCH= is ignored for UNIQUE data
  EXPECT_EQ(a.group, 1);
  EXPECT_EQ(b.group, 2);
  EXPECT_EQ(r.tables.run.reference, 2);
  EXPECT_FLOAT_EQ(b.res_low, 30.0f);
  EXPECT_FLOAT_EQ(b.res_high, 2.5f);
  EXPECT_FLOAT_EQ(b.weight, 2.0f);
  EXPECT_EQ(b.nbatch, 1);
  EXPECT_EQ(b.corrections, " DECAY MODULATION");
  EXPECT_EQ(b.crystal_name, "xtal1");
  EXPECT_EQ(b.hold_starting_dose, 1);
  EXPECT_EQ(b.hold_dose_rate, 1);
  EXPECT_FLOAT_EQ(b.starting_dose, 5.0f);
  EXPECT_FLOAT_EQ(b.dose_rate, 2.0f);
  EXPECT_EQ(c.kind, "DIRECT");
  EXPECT_EQ(c.hold_starting_dose, 0);
  EXPECT_EQ(c.hold_dose_rate, 0);
  EXPECT_EQ(r.tables.groups[0].friedel, Setting::kFalse);
  EXPECT_EQ(r.tables.groups[1].merge, Setting::kTrue);
  EXPECT_EQ(r.tables.groups[1].strict_absorption, -1);
}

TEST(ControlCards, ResolutionShells) {
  EXPECT_EQ(cards("RESOLUTION_SHELLS=10 6 4 3\n").tables.run.shells, (std::vector<float>{10, 6, 4, 3}));
  const std::string bad = " !!! ERROR !!! ILLEGAL RESOLUTION SHELL CARD";
  EXPECT_EQ(cards("RESOLUTION_SHELLS=10 6 6 3\n").error, bad);
  EXPECT_EQ(cards("RESOLUTION_SHELLS=10 -6\n").error, bad);
  EXPECT_EQ(cards("RESOLUTION_SHELLS=\n").error, bad);
  EXPECT_EQ(cards("RESOLUTION_SHELLS=10 x\n").error, bad);
  EXPECT_EQ(cards("RESOLUTION_SHELLS=10\nRESOLUTION_SHELLS=5\n").error, bad);
  EXPECT_EQ(cards("RESOLUTION_SHELLS=10 WFAC1=2\n").error, bad);
  std::string many = "RESOLUTION_SHELLS=";
  for (int i = 21; i >= 1; --i) many += " " + std::to_string(i);
  EXPECT_EQ(cards(many + "\n").error, " !!! ERROR !!! TOO MANY RESOLUTION SHELLS");
}

TEST(ControlCards, LineRules) {
  const std::string illegal = " !!! ERROR !!! ILLEGAL OR MISPLACED KEYWORD OR VALUE";
  EXPECT_EQ(cards("OUTPUT_FILE=o\nINPUT_FILE=a WEIGHT=2\n").error,
            " !!! ERROR !!! ONLY ONE PARAMETER ALLOWED IN THIS LINE");
  EXPECT_EQ(cards(kHead + "WEIGHT=2\n").error, "");
  EXPECT_EQ(cards("! INPUT_FILE=a\n").error, "");
  EXPECT_EQ(cards(kHead + "wfac1=2\n").error, illegal);
  EXPECT_EQ(cards(kHead + "WFAC1=2 WFAC1=3\n").error, illegal);
  EXPECT_EQ(cards(kHead + "NOSUCHKEY=1\n").error, illegal);
  EXPECT_EQ(cards(kHead + "CRYSTAL_NAME=ab=c\n").error, illegal);
  // The remark after "!" is not part of the value.
  CardsResult r = cards(kHead + "WEIGHT=2 ! WEIGHT=3 x=\n");
  EXPECT_EQ(r.error, "");
  EXPECT_FLOAT_EQ(r.tables.sets[0].weight, 2.0f);
}

TEST(ControlCards, ScopeRules) {
  EXPECT_EQ(cards("WEIGHT=2\n").error, " !!! ERROR !!! MISPLACED PARAMETER");
  EXPECT_EQ(cards("OUTPUT_FILE=o\nWEIGHT=2\n").error, " !!! ERROR !!! MISPLACED PARAMETER");
  EXPECT_EQ(cards("MERGE=TRUE\n").error, " !!! ERROR !!! ILLEGAL OR MISPLACED KEYWORD OR VALUE");
  EXPECT_EQ(cards("INPUT_FILE=a\n").error, " !!! ERROR !!! OUTPUT-FILE MUST BE SPECIFIED FIRST");
}

TEST(ControlCards, ValueMessages) {
  struct Case {
    std::string card, message;
  };
  const std::vector<Case> cases = {
      {"SPACE_GROUP_NUMBER=231", "ILLEGAL SPACE GROUP OR CELL CONSTANTS"},
      {"UNIT_CELL_CONSTANTS=50 60 70 90 90", "ILLEGAL SPACE GROUP OR CELL CONSTANTS"},
      {"UNIT_CELL_CONSTANTS=50 60 70 90 90 0", "ILLEGAL SPACE GROUP OR CELL CONSTANTS"},
      {"UNIT_CELL_CONSTANTS=50 60 70 150 150 150", "ILLEGAL SPACE GROUP OR CELL CONSTANTS"},
      {"REIDX=1 0 0 0 0 1 0 0 0 0 1", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"MAXIMUM_NUMBER_OF_PROCESSORS=", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"MINIMUM_I/SIGMA=abc", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"0-DOSE_SIGNIFICANCE_LEVEL=0", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"INCLUDE_RESOLUTION_RANGE=2.0 50", "ILLEGAL RESOLUTION RANGE FOR ACCEPTING DATA"},
      {"INCLUDE_RESOLUTION_RANGE=50 -1", "ILLEGAL RESOLUTION RANGE FOR ACCEPTING DATA"},
      {"WEIGHT=0", "INCORRECT WEIGHTING FACTOR"},
      {"NBATCH=x", "WRONG VALUE FOR NBATCH="},
      {"CRYSTAL_NAME=", "NAME MISSING FOR \"CRYSTAL_NAME=\""},
      {"DOSE_RATE=-1", "PARAMETER DOSE_RATE= MUST BE POSITIVE"},
      {"FRIEDEL'S_LAW=YES", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"MERGE=", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"STRICT_ABSORPTION_CORRECTION=", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"WFAC1=-1", "INCORRECT VALUE FOR WFAC1="},
      {"SPACE_GROUP_NUMBER=1e99", "ILLEGAL SPACE GROUP OR CELL CONSTANTS"},
      {"MINIMUM_I/SIGMA=1e99", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
  };
  for (const Case& c : cases) EXPECT_EQ(cards(kHead + c.card + "\n").error, " !!! ERROR !!! " + c.message) << c.card;
  EXPECT_EQ(cards(kHead + "STRICT_ABSORPTION_CORRECTION=NO\n").error, "");
}

TEST(ControlCards, FileNames) {
  const std::string name50(50, 'n');
  EXPECT_EQ(cards("OUTPUT_FILE=" + name50 + "\n").error, "");
  EXPECT_EQ(cards("OUTPUT_FILE=" + name50 + "x\n").error, " !!! ERROR !!! NAME TOO LONG (>50 CHARACTERS)");
  EXPECT_EQ(cards("OUTPUT_FILE=o\nINPUT_FILE=" + name50 + "x\n").error,
            " !!! ERROR !!! NAME TOO LONG (>50 CHARACTERS)");
  EXPECT_EQ(cards("OUTPUT_FILE=\n").error, " !!! ERROR !!! FILE NAME MISSING FOR \"OUTPUT_FILE=\"");
  EXPECT_EQ(cards("OUTPUT_FILE=o\nINPUT_FILE= *\n").error, " !!! ERROR !!! FILE NAME MISSING FOR \"INPUT_FILE=\"");
  EXPECT_EQ(cards("OUTPUT_FILE=o\nOUTPUT_FILE=o\n").error, " !!! ERROR !!! DUPLICATE NAME FOR \"OUTPUT_FILE=\"");
  EXPECT_EQ(cards("OUTPUT_FILE=o\nINPUT_FILE=a BINARY\n").error,
            "\n !!! ERROR !!! POSSIBLE FORMAT KEYWORDS ARE:\n KVD_ASCII DIRECT UNIQUE OLDHKL NORMAL ANOMAL ");
}

TEST(ControlCards, ReferenceDataSet) {
  CardsResult r = cards("REFERENCE_DATA_SET=ref.hkl UNIQUE\n" + kHead);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.tables.run.refdat, "ref.hkl");
  EXPECT_EQ(r.tables.run.reffmt, "UNIQUE");
  r = cards("REFERENCE_DATA_SET=\n" + kHead);
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.tables.run.refdat.empty());
  const std::string warning =
      " !!! WARNING !!! ILLEGAL FILE NAME OF REFERENCE DATA SET\n"
      "                 REFERENCE DATA SET WILL BE IGNORED\n";
  EXPECT_NE(r.report.find(warning), std::string::npos);
  EXPECT_NE(r.terminal.find(warning), std::string::npos);
  EXPECT_EQ(cards("REFERENCE_DATA_SET=r WFAC1=2\n").error, " !!! ERROR !!! ONLY ONE PARAMETER ALLOWED IN THIS LINE");
}

TEST(ControlCards, PrescanSizesTheTables) {
  EXPECT_EQ(prescan_capacity("OUTPUT_FILE=a\nINPUT_FILE=b\nINPUT_FILE=c\n!INPUT_FILE=d\n"), 2);
  EXPECT_EQ(prescan_capacity("REFERENCE_DATA_SET=r\nOUTPUT_FILE=a\nOUTPUT_FILE=b\nOUTPUT_FILE=c\nINPUT_FILE=b\n"), 4);
  EXPECT_EQ(cards("OUTPUT_FILE=o\nINPUT_FILE=a\nINPUT_FILE=b\n").tables.sets.size(), 2u);
}

}  // namespace
}  // namespace velmar
