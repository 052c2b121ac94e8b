// Reading the cards of the control file: tokenising, keyword lookup, scope rules, values.
#include <algorithm>
#include <array>
#include <string>

#include "common/error.hpp"
#include "common/files.hpp"
#include "common/free_format.hpp"
#include "driver/control_file.hpp"
#include "symmetry/cell_geometry.hpp"

namespace velmar {
namespace {

constexpr size_t kLineWidth = 132;

const char kIllegal[] = "!!! ERROR !!! ILLEGAL OR MISPLACED KEYWORD OR VALUE";
const char kIllegalShells[] = "!!! ERROR !!! ILLEGAL RESOLUTION SHELL CARD";
const char kIllegalRange[] = "!!! ERROR !!! ILLEGAL RESOLUTION RANGE FOR ACCEPTING DATA";
const char kBadWeight[] = "!!! ERROR !!! INCORRECT WEIGHTING FACTOR";
const char kBadWfac1[] = "!!! ERROR !!! INCORRECT VALUE FOR WFAC1=";
const char kBadDoseRate[] = "!!! ERROR !!! PARAMETER DOSE_RATE= MUST BE POSITIVE";
const char kNameTooLong[] = "!!! ERROR !!! NAME TOO LONG (>50 CHARACTERS)";

// One card: columns 1..132 with column 1 blank; `last` is the last non-blank column
// before any comment (0 when there is none), `nkw` the "=" characters up to it.
struct Card {
  std::array<char, kLineWidth> col{};
  size_t last = 0;
  int nkw = 0;

  std::string_view text() const { return {col.data(), last}; }
};

Card make_card(std::string_view line) {
  Card c;
  c.col.fill(' ');
  const size_t n = std::min(line.size(), kLineWidth - 1);
  std::copy_n(line.begin(), n, c.col.begin() + 1);
  size_t end = kLineWidth;
  for (size_t i = 0; i < kLineWidth; ++i)
    if (c.col[i] == '!') {
      end = i;
      break;
    }
  for (size_t i = end; i > 0; --i)
    if (c.col[i - 1] != ' ') {
      c.last = i;
      break;
    }
  c.nkw = static_cast<int>(std::count(c.col.begin(), c.col.begin() + static_cast<long>(c.last), '='));
  return c;
}

// The first run of non-blank characters of `s` and the text after it.
std::string_view first_run(std::string_view s, std::string_view* rest = nullptr) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) {
    if (rest) *rest = {};
    return {};
  }
  size_t e = s.find(' ', b);
  if (e == std::string_view::npos) e = s.size();
  if (rest) *rest = s.substr(e);
  return s.substr(b, e - b);
}

// Position of `word` in `text` with a blank on both sides, or npos.
size_t find_blank_padded(std::string_view text, std::string_view word, bool blank_after) {
  for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    const size_t end = at + word.size();
    if (at > 0 && text[at - 1] == ' ' && (!blank_after || (end < text.size() && text[end] == ' '))) return at;
  }
  return std::string_view::npos;
}

bool is_known_kind(std::string_view word) {
  return !word.empty() && find_blank_padded(kFileKinds, word, true) != std::string_view::npos;
}

[[noreturn]] void stop_unknown_kind() {
  stop_verbatim("\n !!! ERROR !!! POSSIBLE FORMAT KEYWORDS ARE:\n" + std::string(kFileKinds));
}

// TRUE or FALSE as a whole word; anything else (also nothing) is no logical value.
bool read_logical(std::string_view value, Setting& out) {
  const std::string_view word = first_run(value);
  if (word == "TRUE") out = Setting::kTrue;
  else if (word == "FALSE") out = Setting::kFalse;
  else return false;
  return true;
}

float read_real_or(std::string_view value, const char* message) {
  float v[1];
  if (!read_free_reals(value, v)) stop(message);
  return v[0];
}

int read_int_or(std::string_view value, const char* message) {
  int v[1];
  if (!read_free_ints(value, v)) stop(message);
  return v[0];
}

// A real followed by an optional "*" (attached or after blanks) that holds the parameter.
float read_dose_value(std::string_view value, int& hold, const char* message) {
  size_t b = value.find_first_not_of(' ');
  if (b == std::string_view::npos) stop(message);
  size_t e = value.find_first_of(" ,*", b);
  if (e == std::string_view::npos) e = value.size();
  float v = 0;
  if (!parse_real(value.substr(b, e - b), v)) stop(message);
  size_t next = value.find_first_not_of(' ', e);
  if (next != std::string_view::npos && value[next] == '*') hold = 1;
  return v;
}

enum class Scope { kGlobal, kSet, kGroup, kNewSet, kNewGroup };

struct Parser;
using Handler = void (*)(Parser&, std::string_view value);

struct Keyword {
  std::string_view text;  // with its "="
  Scope scope;
  bool alone;
  Handler handle;
};

struct Parser {
  ControlTables& t;
  const Report& rep;
  int shell_capacity;
  bool shells_given = false;

  DataSet& set() { return t.sets.back(); }
  OutputGroup& group() { return t.groups.back(); }
};

void on_processors(Parser& p, std::string_view v) {
  p.t.run.processors = std::clamp(read_int_or(v, kIllegal), 1, 32);
}

void on_shells(Parser& p, std::string_view v) {
  if (p.shells_given) stop(kIllegalShells);
  p.shells_given = true;
  std::string_view rest = v;
  std::vector<float>& shells = p.t.run.shells;
  while (true) {
    const std::string_view run = first_run(rest, &rest);
    if (run.empty()) break;
    float d = 0;
    if (!parse_real(run, d) || d <= 0.0f || (!shells.empty() && d >= shells.back())) stop(kIllegalShells);
    if (static_cast<int>(shells.size()) >= p.shell_capacity) stop("!!! ERROR !!! TOO MANY RESOLUTION SHELLS");
    shells.push_back(d);
  }
  if (shells.empty()) stop(kIllegalShells);
}

void on_space_group(Parser& p, std::string_view v) {
  const int g = read_int_or(v, kIllegalCell);
  if (g < 1 || g > 230) stop(kIllegalCell);
  p.t.run.space_group = g;
}

void on_cell(Parser& p, std::string_view v) {
  Cell c{};
  if (!read_free_reals(v, c)) stop(kIllegalCell);
  for (float x : c)
    if (x <= 0.0f) stop(kIllegalCell);
  if (invcel(c).volume <= 0.0f) stop(kIllegalCell);
  p.t.run.cell = c;
}

void on_reidx(Parser& p, std::string_view v) {
  std::array<int, 12> r{};
  if (!read_free_ints(v, r)) stop(kIllegal);
  p.t.run.reidx = r;
  p.t.run.reindex = r != std::array<int, 12>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
}

void on_min_i_sigma(Parser& p, std::string_view v) { p.t.run.min_i_sigma = read_real_or(v, kIllegal); }

void on_reflections_per_factor(Parser& p, std::string_view v) {
  const int n = read_int_or(v, kIllegal);
  if (n > 0) p.t.run.reflections_per_factor = n;
}

void on_dose_significance(Parser& p, std::string_view v) {
  const float s = read_real_or(v, kIllegal);
  if (s <= 0.0f) stop(kIllegal);
  p.t.run.dose_significance = s;
}

void on_reference(Parser& p, std::string_view v) {
  std::string_view rest;
  const std::string_view name = first_run(v, &rest);
  if (name.empty() || name.size() > kMaxNameLength) {
    p.rep.both(" !!! WARNING !!! ILLEGAL FILE NAME OF REFERENCE DATA SET");
    p.rep.both("                 REFERENCE DATA SET WILL BE IGNORED");
    return;
  }
  const std::string_view kind = first_run(rest);
  if (!kind.empty() && !is_known_kind(kind)) stop_unknown_kind();
  p.t.run.refdat = name;
  p.t.run.reffmt = kind.empty() ? "KVD_ASCII" : std::string(kind);
}

void on_input_file(Parser& p, std::string_view v) {
  size_t b = v.find_first_not_of(' ');
  bool reference = false;
  if (b != std::string_view::npos && v[b] == '*') {
    reference = true;
    v = v.substr(b + 1);
  }
  std::string_view rest;
  const std::string_view name = first_run(v, &rest);
  if (name.empty()) stop("!!! ERROR !!! FILE NAME MISSING FOR \"INPUT_FILE=\"");
  if (name.size() > kMaxNameLength) stop(kNameTooLong);
  if (static_cast<int>(p.t.sets.size()) >= p.t.capacity) stop("!!! ERROR !!! TOO MANY DATA SETS");
  DataSet s;
  s.name = name;
  s.group = static_cast<int>(p.t.groups.size());
  const std::string_view kind = first_run(rest);
  if (!kind.empty()) {
    if (!is_known_kind(kind)) stop_unknown_kind();
    s.kind = kind;
  }
  p.t.sets.push_back(std::move(s));
  if (reference) p.t.run.reference = static_cast<int>(p.t.sets.size());
}

void on_resolution_range(Parser& p, std::string_view v) {
  float r[2];
  if (!read_free_reals(v, r) || r[1] < 0.0f || r[0] <= r[1]) stop(kIllegalRange);
  p.set().res_low = r[0];
  p.set().res_high = r[1];
}

void on_weight(Parser& p, std::string_view v) {
  const float w = read_real_or(v, kBadWeight);
  if (w <= 0.0f) stop(kBadWeight);
  p.set().weight = w;
}

void on_nbatch(Parser& p, std::string_view v) {
  if (p.set().kind != "KVD_ASCII" && p.set().kind != "DIRECT") return;
  const int n = read_int_or(v, "!!! ERROR !!! WRONG VALUE FOR NBATCH=");
  p.set().nbatch = std::max(n, 1);
}

void on_corrections(Parser& p, std::string_view v) {
  std::string_view text = v.substr(0, 80);
  text = text.substr(0, text.find('='));
  p.set().corrections = text;
}

void on_crystal_name(Parser& p, std::string_view v) {
  const std::string_view name = first_run(v);
  if (name.empty()) stop("!!! ERROR !!! NAME MISSING FOR \"CRYSTAL_NAME=\"");
  if (name.size() > kMaxNameLength) stop(kNameTooLong);
  p.set().crystal_name = name;
}

void on_starting_dose(Parser& p, std::string_view v) {
  p.set().starting_dose = read_dose_value(v, p.set().hold_starting_dose, kIllegal);
}

void on_dose_rate(Parser& p, std::string_view v) {
  int hold = 0;
  const float rate = read_dose_value(v, hold, kBadDoseRate);
  if (rate <= 0.0f) stop(kBadDoseRate);
  p.set().dose_rate = rate;
  if (hold) p.set().hold_dose_rate = 1;
}

void on_output_file(Parser& p, std::string_view v) {
  const std::string_view name = first_run(v);
  if (name.empty()) stop("!!! ERROR !!! FILE NAME MISSING FOR \"OUTPUT_FILE=\"");
  if (name.size() > kMaxNameLength) stop(kNameTooLong);
  for (const OutputGroup& g : p.t.groups)
    if (g.name == name || same_file(g.name, std::string(name))) stop("!!! ERROR !!! DUPLICATE NAME FOR \"OUTPUT_FILE=\"");
  OutputGroup g;
  g.name = name;
  p.t.groups.push_back(std::move(g));
}

void on_friedel(Parser& p, std::string_view v) {
  if (!read_logical(v, p.group().friedel)) stop(kIllegal);
}

void on_merge(Parser& p, std::string_view v) {
  if (!read_logical(v, p.group().merge)) stop(kIllegal);
}

void on_strict_absorption(Parser& p, std::string_view v) {
  const std::string_view word = first_run(v);
  if (word.size() < 2) stop(kIllegal);
  if (word == "TRUE") p.group().strict_absorption = -1;
}

void on_wfac1(Parser& p, std::string_view v) {
  const float w = read_real_or(v, kBadWfac1);
  if (w <= 0.0f) stop(kBadWfac1);
  p.t.run.wfac1 = w;
}

// The keywords in the order in which every card is searched for them.
constexpr Keyword kKeywords[] = {
    {"MAXIMUM_NUMBER_OF_PROCESSORS=", Scope::kGlobal, false, on_processors},
    {"RESOLUTION_SHELLS=", Scope::kGlobal, true, on_shells},
    {"SPACE_GROUP_NUMBER=", Scope::kGlobal, false, on_space_group},
    {"UNIT_CELL_CONSTANTS=", Scope::kGlobal, false, on_cell},
    {"REIDX=", Scope::kGlobal, false, on_reidx},
    {"MINIMUM_I/SIGMA=", Scope::kGlobal, false, on_min_i_sigma},
    {"REFLECTIONS/CORRECTION_FACTOR=", Scope::kGlobal, false, on_reflections_per_factor},
    {"0-DOSE_SIGNIFICANCE_LEVEL=", Scope::kGlobal, false, on_dose_significance},
    {"REFERENCE_DATA_SET=", Scope::kGlobal, true, on_reference},
    {"INPUT_FILE=", Scope::kNewSet, true, on_input_file},
    {"INCLUDE_RESOLUTION_RANGE=", Scope::kSet, false, on_resolution_range},
    {"WEIGHT=", Scope::kSet, false, on_weight},
    {"NBATCH=", Scope::kSet, false, on_nbatch},
    {"CORRECTIONS=", Scope::kSet, false, on_corrections},
    {"CRYSTAL_NAME=", Scope::kSet, false, on_crystal_name},
    {"STARTING_DOSE=", Scope::kSet, false, on_starting_dose},
    {"DOSE_RATE=", Scope::kSet, false, on_dose_rate},
    {"OUTPUT_FILE=", Scope::kNewGroup, true, on_output_file},
    {"FRIEDEL'S_LAW=", Scope::kGroup, false, on_friedel},
    {"MERGE=", Scope::kGroup, false, on_merge},
    {"STRICT_ABSORPTION_CORRECTION=", Scope::kGroup, false, on_strict_absorption},
    {"WFAC1=", Scope::kGlobal, false, on_wfac1},
};

void check_scope(const Parser& p, Scope scope) {
  switch (scope) {
    case Scope::kSet:
      if (p.t.sets.empty()) stop("!!! ERROR !!! MISPLACED PARAMETER");
      break;
    case Scope::kGroup:
      if (p.t.groups.empty()) stop(kIllegal);
      break;
    case Scope::kNewSet:
      if (p.t.groups.empty()) stop("!!! ERROR !!! OUTPUT-FILE MUST BE SPECIFIED FIRST");
      break;
    case Scope::kGlobal:
    case Scope::kNewGroup:
      break;
  }
}

void process_card(Parser& p, Card& card) {
  const std::string_view text = card.text();
  for (const Keyword& kw : kKeywords) {
    const size_t at = find_blank_padded(text, kw.text, false);
    if (at == std::string_view::npos) continue;
    if (kw.alone && card.nkw != 1) {
      if (kw.handle == on_shells) stop(kIllegalShells);
      stop("!!! ERROR !!! ONLY ONE PARAMETER ALLOWED IN THIS LINE");
    }
    --card.nkw;
    if (kw.alone) card.nkw = 0;
    check_scope(p, kw.scope);
    const std::string_view value = text.substr(at + kw.text.size());
    kw.handle(p, value);
  }
  if (card.nkw != 0) stop(kIllegal);
}

void print_banner(const Report& rep) {
  rep.both("");
  rep.both(frame_line());
  rep.both("                              CONTROL CARDS");
  rep.both(frame_line());
}

}  // namespace

void read_control_cards(std::string_view control_text, const Report& rep, int shell_capacity,
                        ControlTables& t) {
  print_banner(rep);
  Parser p{t, rep, shell_capacity};
  size_t pos = 0;
  while (pos < control_text.size()) {
    size_t nl = control_text.find('\n', pos);
    std::string_view line = control_text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
    pos = nl == std::string_view::npos ? control_text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Card card = make_card(line);
    rep.to_terminal(std::string_view(card.col.data(), std::max<size_t>(78, card.last)));
    if (card.nkw == 0) continue;
    rep.to_file(card.text());
    process_card(p, card);
  }
}

int prescan_capacity(std::string_view control_text) {
  int inputs = 0, outputs = 0, references = 0;
  size_t pos = 0;
  while (pos < control_text.size()) {
    size_t nl = control_text.find('\n', pos);
    std::string_view line = control_text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
    pos = nl == std::string_view::npos ? control_text.size() : nl + 1;
    line = line.substr(0, kLineWidth);
    line = line.substr(0, line.find('!'));
    if (line.find("INPUT_FILE=") != std::string_view::npos) ++inputs;
    if (line.find("OUTPUT_FILE=") != std::string_view::npos) ++outputs;
    if (line.find("REFERENCE_DATA_SET=") != std::string_view::npos) ++references;
  }
  return std::max(inputs + references, outputs + references);
}

}  // namespace velmar
