// The cards of the control file: keywords, scope rules, values and their messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>

#include "common/error.hpp"
#include "driver/control_file.hpp"

namespace velmar {
namespace {

struct CardsResult {
  ControlTables tables;
  std::string report, terminal;
  std::string error;  // the stop message, empty when the cards were accepted
};

std::string read_stream(std::FILE* f) {
  std::string s;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
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

std::string error_of(const std::string& text) { return cards(text).error; }

// The values of one data set in one line.
std::string describe(const DataSet& s) {
  std::ostringstream o;
  o << s.kind << " g" << s.group << " " << s.res_low << "/" << s.res_high << " w" << s.weight << " nb" << s.nbatch
    << " [" << s.corrections << "] " << s.crystal_name << " dose " << s.starting_dose << (s.hold_starting_dose ? "*" : "")
    << " rate " << s.dose_rate << (s.hold_dose_rate ? "*" : "");
  return o.str();
}

const std::string kHead = "OUTPUT_FILE=out.hkl\nINPUT_FILE=in.hkl\n";
const std::string kError = " !!! ERROR !!! ";

TEST(ControlCards, BannerAndEcho) {
  const CardsResult r = cards("! a comment INPUT_FILE=x\nOUTPUT_FILE=a.hkl ! remark\n");
  EXPECT_EQ(r.error, "");
  const std::string frame(" " + std::string(78, '*'));
  const std::string banner = "\n" + frame + "\n                              CONTROL CARDS\n" + frame + "\n";
  // The report holds keyword lines only, without their comments; the terminal every line,
  // at least 78 columns of it.
  EXPECT_EQ(r.report, banner + " OUTPUT_FILE=a.hkl\n");
  const auto padded = [](std::string s) { return s.append(78 - s.size(), ' ') + "\n"; };
  EXPECT_EQ(r.terminal, banner + padded(" ! a comment INPUT_FILE=x") + padded(" OUTPUT_FILE=a.hkl ! remark"));
  EXPECT_TRUE(r.tables.sets.empty());
}

TEST(ControlCards, GlobalValues) {
  const CardsResult r = cards(kHead + "SPACE_GROUP_NUMBER=19 UNIT_CELL_CONSTANTS=50 60 70 90 90 90\n"
                                      "MAXIMUM_NUMBER_OF_PROCESSORS=99\nMINIMUM_I/SIGMA=2.5\nREFLECTIONS/CORRECTION_FACTOR=-5\n"
                                      "0-DOSE_SIGNIFICANCE_LEVEL=0.05 WFAC1=2\nREIDX=0 1 0 0  1 0 0 0  0 0 -1 0\n");
  ASSERT_EQ(r.error, "");
  const RunParameters& run = r.tables.run;
  EXPECT_EQ(run.cell, (Cell{50, 60, 70, 90, 90, 90}));
  EXPECT_EQ(std::make_tuple(run.space_group, run.processors, run.reflections_per_factor, run.reindex, run.reidx[10]),
            std::make_tuple(19, 32, 50, true, -1));  // REFLECTIONS/CORRECTION_FACTOR= <= 0 is ignored
  EXPECT_EQ((std::array{run.min_i_sigma, run.dose_significance, run.wfac1}), (std::array{2.5f, 0.05f, 2.0f}));
}

TEST(ControlCards, SetAndGroupKeywords) {
  const CardsResult r = cards(
      "OUTPUT_FILE=o1\nFRIEDEL'S_LAW=FALSE\nINPUT_FILE=a.hkl UNIQUE\nNBATCH=7\n"
      "OUTPUT_FILE=o2\nINPUT_FILE= * b.hkl\nINCLUDE_RESOLUTION_RANGE=30 2.5\nWEIGHT=2\nNBATCH=0\n"
      "CORRECTIONS= DECAY MODULATION\nCRYSTAL_NAME=xtal1\nSTARTING_DOSE=5*\nDOSE_RATE=2 *\n"
      "MERGE=TRUE\nSTRICT_ABSORPTION_CORRECTION=TRUE\nINPUT_FILE=c.hkl DIRECT\n"
      "STARTING_DOSE=1 DOSE_RATE=3\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.tables.sets.size(), 3u);
  // NBATCH= is ignored for UNIQUE data; a "*" after a dose value holds it; a STARTING_DOSE=
  // followed by DOSE_RATE= on one line holds neither.
  EXPECT_EQ(describe(r.tables.sets[0]), "UNIQUE g1 1e+06/1e-06 w1 nb-1 [ALL]  dose 0 rate 1");
  EXPECT_EQ(describe(r.tables.sets[1]), "KVD_ASCII g2 30/2.5 w2 nb1 [ DECAY MODULATION] xtal1 dose 5* rate 2*");
  EXPECT_EQ(describe(r.tables.sets[2]), "DIRECT g2 1e+06/1e-06 w1 nb-1 [ALL]  dose 1 rate 3");
  EXPECT_EQ(std::make_tuple(r.tables.run.reference, r.tables.groups[0].friedel, r.tables.groups[1].merge,
                            r.tables.groups[1].strict_absorption),
            std::make_tuple(2, Setting::kFalse, Setting::kTrue, -1));
}

TEST(ControlCards, ResolutionShells) {
  EXPECT_EQ(cards("RESOLUTION_SHELLS=10 6 4 3\n").tables.run.shells, (std::vector<float>{10, 6, 4, 3}));
  for (const char* bad : {"10 6 6 3\n", "10 -6\n", "\n", "10 x\n", "10\nRESOLUTION_SHELLS=5\n", "10 WFAC1=2\n"})
    EXPECT_EQ(error_of(std::string("RESOLUTION_SHELLS=") + bad), kError + "ILLEGAL RESOLUTION SHELL CARD") << bad;
  std::string many = "RESOLUTION_SHELLS=";
  for (int i = 21; i >= 1; --i) many.append(" ").append(std::to_string(i));
  EXPECT_EQ(error_of(many + "\n"), kError + "TOO MANY RESOLUTION SHELLS");
}

// The stop each card gives after an output and an input file; "" when it is accepted.
TEST(ControlCards, ValueMessages) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"ILLEGAL OR MISPLACED KEYWORD OR VALUE",
       {"wfac1=2", "WFAC1=2 WFAC1=3", "NOSUCHKEY=1", "CRYSTAL_NAME=ab=c", "REIDX=1 0 0 0 0 1 0 0 0 0 1",
        "MAXIMUM_NUMBER_OF_PROCESSORS=", "MINIMUM_I/SIGMA=abc", "MINIMUM_I/SIGMA=1e99", "0-DOSE_SIGNIFICANCE_LEVEL=0",
        "FRIEDEL'S_LAW=YES", "MERGE=", "STRICT_ABSORPTION_CORRECTION=", "STARTING_DOSE=1e39"}},
      {"ILLEGAL SPACE GROUP OR CELL CONSTANTS",
       {"SPACE_GROUP_NUMBER=231", "SPACE_GROUP_NUMBER=1e99", "UNIT_CELL_CONSTANTS=50 60 70 90 90",
        "UNIT_CELL_CONSTANTS=50 60 70 90 90 0", "UNIT_CELL_CONSTANTS=50 60 70 150 150 150"}},
      {"ILLEGAL RESOLUTION RANGE FOR ACCEPTING DATA", {"INCLUDE_RESOLUTION_RANGE=2.0 50", "INCLUDE_RESOLUTION_RANGE=50 -1"}},
      {"INCORRECT WEIGHTING FACTOR", {"WEIGHT=0", "WEIGHT=" + std::string(200, '9')}},
      {"WRONG VALUE FOR NBATCH=", {"NBATCH=x"}},
      {"NAME MISSING FOR \"CRYSTAL_NAME=\"", {"CRYSTAL_NAME="}},
      {"PARAMETER DOSE_RATE= MUST BE POSITIVE", {"DOSE_RATE=-1"}},
      {"INCORRECT VALUE FOR WFAC1=", {"WFAC1=-1"}},
      {"", {"STRICT_ABSORPTION_CORRECTION=NO", "WEIGHT=2"}},
  };
  for (const auto& [message, list] : cases)
    for (const std::string& card : list)
      EXPECT_EQ(error_of(kHead + card + "\n"), message.empty() ? "" : kError + message) << card;
  const CardsResult r = cards(kHead + "WEIGHT=2 ! WEIGHT=3 x=\n");  // the remark is no value
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.tables.sets[0].weight, 2.0f);
}

// Whole control texts: lines, scope and file names.
TEST(ControlCards, LineScopeAndNameMessages) {
  const std::string name50(50, 'n'), too_long = "NAME TOO LONG (>50 CHARACTERS)";
  const std::pair<std::string, std::string> cases[] = {
      {"OUTPUT_FILE=o\nINPUT_FILE=a WEIGHT=2\n", "ONLY ONE PARAMETER ALLOWED IN THIS LINE"},
      {"REFERENCE_DATA_SET=r WFAC1=2\n", "ONLY ONE PARAMETER ALLOWED IN THIS LINE"},
      {"! INPUT_FILE=a\n", ""},
      {"WEIGHT=2\n", "MISPLACED PARAMETER"},
      {"OUTPUT_FILE=o\nWEIGHT=2\n", "MISPLACED PARAMETER"},
      {"MERGE=TRUE\n", "ILLEGAL OR MISPLACED KEYWORD OR VALUE"},
      {"INPUT_FILE=a\n", "OUTPUT-FILE MUST BE SPECIFIED FIRST"},
      {"OUTPUT_FILE=" + name50 + "\n", ""},
      {"OUTPUT_FILE=" + name50 + "x\n", too_long},
      {"OUTPUT_FILE=o\nINPUT_FILE=" + name50 + "x\n", too_long},
      {"OUTPUT_FILE=\n", "FILE NAME MISSING FOR \"OUTPUT_FILE=\""},
      {"OUTPUT_FILE=o\nINPUT_FILE= *\n", "FILE NAME MISSING FOR \"INPUT_FILE=\""},
      {"OUTPUT_FILE=o\nOUTPUT_FILE=o\n", "DUPLICATE NAME FOR \"OUTPUT_FILE=\""},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(error_of(text), message.empty() ? "" : kError + message) << text;
  EXPECT_EQ(error_of("OUTPUT_FILE=o\nINPUT_FILE=a BINARY\n"),
            "\n !!! ERROR !!! POSSIBLE FORMAT KEYWORDS ARE:\n KVD_ASCII DIRECT UNIQUE OLDHKL NORMAL ANOMAL ");
}

TEST(ControlCards, ReferenceDataSet) {
  CardsResult r = cards("REFERENCE_DATA_SET=ref.hkl UNIQUE\n" + kHead);
  EXPECT_EQ(std::make_tuple(r.error, r.tables.run.refdat, r.tables.run.reffmt), std::make_tuple("", "ref.hkl", "UNIQUE"));
  r = cards("REFERENCE_DATA_SET=\n" + kHead);
  EXPECT_EQ(std::make_pair(r.error, r.tables.run.refdat), std::make_pair(std::string(), std::string()));
  const std::string warning =
      " !!! WARNING !!! ILLEGAL FILE NAME OF REFERENCE DATA SET\n"
      "                 REFERENCE DATA SET WILL BE IGNORED\n";
  EXPECT_TRUE(r.report.find(warning) != std::string::npos && r.terminal.find(warning) != std::string::npos);
}

}  // namespace
}  // namespace velmar
