// The header of an input reflection file.
#include "input/readhdr.hpp"

#include <span>
#include <utility>

#include "common/free_format.hpp"
#include "input/file_kind.hpp"
#include "input/line_source.hpp"

namespace velmar {
namespace {

struct IntKeyword {
  std::string_view word;
  int HeaderValues::*field;
};

const IntKeyword kIntKeywords[] = {
    {"NX=", &HeaderValues::nx},
    {"NY=", &HeaderValues::ny},
    {"STARTING_FRAME=", &HeaderValues::starting_frame},
    {"SPACE_GROUP_NUMBER=", &HeaderValues::space_group},
    {"NUMBER_OF_ITEMS_IN_EACH_DATA_RECORD=", &HeaderValues::items},
    {"!ITEM_H=", &HeaderValues::item_h},
    {"!ITEM_K=", &HeaderValues::item_k},
    {"!ITEM_L=", &HeaderValues::item_l},
    {"!ITEM_IOBS=", &HeaderValues::item_iobs},
    {"!ITEM_SIGMA(IOBS)=", &HeaderValues::item_sigma},
    {"!ITEM_XD=", &HeaderValues::item_xd},
    {"!ITEM_YD=", &HeaderValues::item_yd},
    {"!ITEM_ZD=", &HeaderValues::item_zd},
    {"!ITEM_PSI=", &HeaderValues::item_psi},
};

struct RealKeyword {
  std::string_view word;
  size_t count;
  void (*store)(HeaderValues&, const float*);
};

template <size_t N>
void copy_to(std::array<float, N>& to, const float* from) {
  for (size_t i = 0; i < N; ++i) to[i] = from[i];
}

const RealKeyword kRealKeywords[] = {
    {"QX=", 1, [](HeaderValues& v, const float* x) { v.qx = x[0]; }},
    {"QY=", 1, [](HeaderValues& v, const float* x) { v.qy = x[0]; }},
    {"ORGX=", 1, [](HeaderValues& v, const float* x) { v.orgx = x[0]; }},
    {"ORGY=", 1, [](HeaderValues& v, const float* x) { v.orgy = x[0]; }},
    {"DETECTOR_DISTANCE=", 1, [](HeaderValues& v, const float* x) { v.detector_distance = x[0]; }},
    {"DIRECTION_OF_DETECTOR_X-AXIS=", 3,
     [](HeaderValues& v, const float* x) { copy_to(v.detector_x_axis, x); }},
    {"DIRECTION_OF_DETECTOR_Y-AXIS=", 3,
     [](HeaderValues& v, const float* x) { copy_to(v.detector_y_axis, x); }},
    {"ROTATION_AXIS=", 3, [](HeaderValues& v, const float* x) { copy_to(v.rotation_axis, x); }},
    {"OSCILLATION_RANGE=", 1, [](HeaderValues& v, const float* x) { v.oscillation_range = x[0]; }},
    {"STARTING_ANGLE=", 1, [](HeaderValues& v, const float* x) { v.starting_angle = x[0]; }},
    {"INCIDENT_BEAM_DIRECTION=", 3,
     [](HeaderValues& v, const float* x) { copy_to(v.incident_beam, x); }},
    {"UNIT_CELL_CONSTANTS=", 6, [](HeaderValues& v, const float* x) { copy_to(v.cell, x); }},
    {"X-RAY_WAVELENGTH=", 1, [](HeaderValues& v, const float* x) { v.wavelength = x[0]; }},
    {"INCLUDE_RESOLUTION_RANGE=", 2,
     [](HeaderValues& v, const float* x) {
       v.res_low = x[0];
       v.res_high = x[1];
     }},
    {"VARIANCE_MODEL=", 2,
     [](HeaderValues& v, const float* x) {
       v.variance_a0 = x[0];
       v.variance_b0 = x[1];
     }},
};

struct LogicalKeyword {
  std::string_view word;
  bool HeaderValues::*field;
};

const LogicalKeyword kLogicalKeywords[] = {
    {"MERGE=", &HeaderValues::merge},
    {"FRIEDEL'S_LAW=", &HeaderValues::friedel},
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The run of non-blank characters at the start of text (after leading blanks).
std::string_view first_run(std::string_view text) {
  size_t b = 0;
  while (b < text.size() && is_blank(text[b])) ++b;
  size_t e = b;
  while (e < text.size() && !is_blank(text[e])) ++e;
  return text.substr(b, e - b);
}

// The text after `word` when the line contains it.
bool find_value(std::string_view line, std::string_view word, std::string_view& value) {
  const size_t p = line.find(word);
  if (p == std::string_view::npos) return false;
  value = line.substr(p + word.size());
  return true;
}

// Takes every keyword of the line; false on a value that cannot be read.
bool read_header_line(std::string_view line, HeaderValues& v) {
  std::string_view text;
  for (const IntKeyword& k : kIntKeywords) {
    if (!find_value(line, k.word, text)) continue;
    int x = 0;
    if (!read_free_ints(text, std::span<int>(&x, 1))) return false;
    v.*k.field = x;
  }
  for (const RealKeyword& k : kRealKeywords) {
    if (!find_value(line, k.word, text)) continue;
    std::array<float, 6> x{};
    if (!read_free_reals(text, std::span<float>(x.data(), k.count))) return false;
    k.store(v, x.data());
  }
  for (const LogicalKeyword& k : kLogicalKeywords) {
    if (!find_value(line, k.word, text)) continue;
    const std::string_view word = first_run(text);
    if (word == "TRUE") v.*k.field = true;
    if (word == "FALSE") v.*k.field = false;
  }
  return true;
}

// h, k, l must be the first three columns, and intensity and sigma must be columns.
bool item_layout_valid(const HeaderValues& v) {
  auto column = [&](int item) { return item >= 1 && item <= v.items; };
  return v.item_h >= 1 && column(v.item_h) && column(v.item_k) && column(v.item_l) &&
         column(v.item_iobs) && column(v.item_sigma) && v.item_h == 1 && v.item_k == 2 &&
         v.item_l == 3;
}

// Header lines all hold "!"; the header ends with "!END_OF_HEADER".
bool read_kvd_header(LineSource& src, HeaderValues& v) {
  std::string_view line;
  while (next_line(src, line) == LineStatus::kLine) {
    if (line.find('!') == std::string_view::npos) return false;
    if (line.find("!END_OF_HEADER") != std::string_view::npos) return item_layout_valid(v);
    if (!read_header_line(line, v)) return false;
  }
  return false;
}

}  // namespace

HeaderValues readhdr(const std::string& file_name, std::string_view kind) {
  return readhdr(open_input_file(file_name), kind);
}

HeaderValues readhdr(FileHandle file, std::string_view kind, size_t buffer_bytes) {
  HeaderValues v;
  const auto k = file_kind_from_name(kind);
  if (!k) return v;
  if (*k == FileKind::kDirect) v.merge = false;
  if (*k == FileKind::kAnomal) v.friedel = false;
  if (*k != FileKind::kKvdAscii) {
    if (file) v.status = 0;
    return v;
  }
  LineSource src;
  if (!open_lines(src, std::move(file), buffer_bytes)) return v;
  if (read_kvd_header(src, v)) v.status = 0;
  return v;
}

}  // namespace velmar
