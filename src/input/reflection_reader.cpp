// Reading the data of an input reflection file one observation line at a time.
#include "input/reflection_reader.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "input/line_values.hpp"

namespace velmar {
namespace {

constexpr int kTextEndOfData = 10000;

int value_position(int item, int count) { return item >= 1 && item <= count ? item - 1 : -1; }

ItemColumns item_columns(const HeaderValues& hdr) {
  ItemColumns c;
  c.count = hdr.items;
  c.iobs = value_position(hdr.item_iobs, hdr.items);
  c.sigma = value_position(hdr.item_sigma, hdr.items);
  c.xd = value_position(hdr.item_xd, hdr.items);
  c.yd = value_position(hdr.item_yd, hdr.items);
  c.zd = value_position(hdr.item_zd, hdr.items);
  c.psi = value_position(hdr.item_psi, hdr.items);
  return c;
}

bool holds_only_blanks(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

bool contains(std::string_view line, char c) {
  return std::memchr(line.data(), c, line.size()) != nullptr;
}

// Moves past the line holding "!END_OF_HEADER"; false when there is none.
bool skip_header(LineSource& src) {
  std::string_view line;
  while (next_line(src, line) == LineStatus::kLine)
    if (line.find("!END_OF_HEADER") != std::string_view::npos) return true;
  return false;
}

float value_or(const LineValues& v, int position, float absent) {
  return position >= 0 ? v.value[size_t(position)] : absent;
}

bool fits_float(double d) { return std::fabs(d) <= double(std::numeric_limits<float>::max()); }

void start_line(const LineValues& v, DataLine& out) {
  out = DataLine{};
  out.h = v.h;
  out.k = v.k;
  out.l = v.l;
}

ReadResult take_kvd_line(const ItemColumns& c, const LineValues& v, DataLine& out) {
  if (v.count != c.count) return ReadResult::kUnreadable;
  start_line(v, out);
  out.intensity = v.value[size_t(c.iobs)];
  out.sigma = v.value[size_t(c.sigma)];
  out.x = value_or(v, c.xd, 0.0f);
  out.y = value_or(v, c.yd, 0.0f);
  out.z = value_or(v, c.zd, 0.0f);
  out.psi = value_or(v, c.psi, kPsiUnknown);
  return ReadResult::kData;
}

// Intensity t4; sigma t5, or 10 % of the intensity (at least 1) when the line has no t5.
ReadResult take_normal_line(const LineValues& v, DataLine& out) {
  if (v.count < 4) return ReadResult::kUnreadable;
  start_line(v, out);
  out.intensity = v.value[3];
  out.sigma = v.count >= 5 ? v.value[4] : std::max(1.0f, 0.1f * v.value[3]);
  return ReadResult::kData;
}

// Weighted mean of I(+) and I(-) over the halves with a positive sigma.
void combine_mates(float ip, float sp, float im, float sm, DataLine& out) {
  double sum_w = 0.0, sum_wi = 0.0;
  for (const auto& [i, s] : {std::pair{ip, sp}, std::pair{im, sm}}) {
    if (s <= 0.0f) continue;
    const double w = 1.0 / (double(s) * double(s));
    sum_w += w;
    sum_wi += w * double(i);
  }
  if (sum_w <= 0.0) return;
  out.intensity = static_cast<float>(sum_wi / sum_w);
  out.sigma = static_cast<float>(1.0 / std::sqrt(sum_w));
}

// I(+) t4, sigma(+) t5, I(-) t6, sigma(-) t7; one combined intensity under Friedel's law.
ReadResult take_anomal_line(const LineValues& v, bool friedel, DataLine& out) {
  if (v.count != 11) return ReadResult::kUnreadable;
  start_line(v, out);
  const float* t = v.value.data();
  if (friedel) {
    combine_mates(t[3], t[4], t[5], t[6], out);
  } else {
    out.intensity = t[3];
    out.sigma = t[4];
    out.intensity2 = t[5];
    out.sigma2 = t[6];
  }
  return ReadResult::kData;
}

// Mean intensity t4 (sigma t5) and anomalous difference t6 (sigma t7). Apart from Friedel's
// law the mates are split by the difference; a negative t7 means only the half named by
// the sign of t6 was measured.
ReadResult take_unique_line(const LineValues& v, bool friedel, DataLine& out) {
  if (v.count != 7) return ReadResult::kUnreadable;
  start_line(v, out);
  const float mean = v.value[3], sig = v.value[4], diff = v.value[5], sigd = v.value[6];
  if (friedel || sigd == 0.0f) {
    out.intensity = mean;
    out.sigma = sig;
  } else if (sigd > 0.0f) {
    const double plus = double(mean) + double(diff) / 2.0;
    const double minus = double(mean) - double(diff) / 2.0;
    const double s = std::sqrt(double(sig) * sig + double(sigd) * sigd / 4.0);
    if (!fits_float(plus) || !fits_float(minus) || !fits_float(s)) return ReadResult::kUnreadable;
    out.intensity = static_cast<float>(plus);
    out.intensity2 = static_cast<float>(minus);
    out.sigma = out.sigma2 = static_cast<float>(s);
  } else if (diff < 0.0f) {
    out.intensity2 = mean;
    out.sigma2 = sig;
  } else if (diff > 0.0f) {
    out.intensity = mean;
    out.sigma = sig;
  }
  return ReadResult::kData;
}

ReadResult take_other_line(const ReflectionReader& r, std::string_view line, DataLine& out) {
  LineValues v;
  const LineParse p = read_line_values(line, v);
  if (p == LineParse::kBadIndices) {
    int h = 0;
    const bool marker = read_leading_int(line, h) && h == kTextEndOfData;
    return marker ? ReadResult::kEnd : ReadResult::kUnreadable;
  }
  if (v.h == kTextEndOfData) return ReadResult::kEnd;
  if (p != LineParse::kOk) return ReadResult::kUnreadable;
  switch (r.kind) {
    case FileKind::kNormal: return take_normal_line(v, out);
    case FileKind::kAnomal: return take_anomal_line(v, r.friedel, out);
    case FileKind::kUnique: return take_unique_line(v, r.friedel, out);
    default: return ReadResult::kUnreadable;
  }
}

ReadResult read_text_line(ReflectionReader& r, DataLine& out) {
  const bool kvd = r.kind == FileKind::kKvdAscii;
  std::string_view line;
  while (true) {
    const LineStatus st = next_line(r.text, line);
    if (st == LineStatus::kEndOfFile) return ReadResult::kEnd;
    if (st == LineStatus::kReadError) return ReadResult::kUnreadable;
    if (contains(line, '!')) {
      if (kvd && line.find("!END_OF_DATA") != std::string_view::npos) return ReadResult::kEnd;
      continue;
    }
    if (holds_only_blanks(line)) continue;
    if (!kvd) return take_other_line(r, line, out);
    LineValues v;
    if (read_line_values(line, v) != LineParse::kOk) return ReadResult::kUnreadable;
    return take_kvd_line(r.columns, v, out);
  }
}

void finish(ReflectionReader& r, ReadResult result) {
  r.done = true;
  r.last = result;
}

}  // namespace

bool open_reflection_reader(ReflectionReader& r, const std::string& file_name, FileKind kind,
                            const HeaderValues& header, bool friedel_law) {
  return open_reflection_reader(r, open_input_file(file_name), kind, header, friedel_law);
}

bool open_reflection_reader(ReflectionReader& r, FileHandle file, FileKind kind, const HeaderValues& header,
                            bool friedel_law, size_t buffer_bytes) {
  close_reflection_reader(r);
  r.kind = kind;
  r.friedel = friedel_law;
  r.columns = item_columns(header);
  if (kind == FileKind::kDirect) return open_direct(r.direct, std::move(file), buffer_bytes);
  if (!open_lines(r.text, std::move(file), buffer_bytes)) return false;
  if (kind == FileKind::kOldHkl) finish(r, ReadResult::kUnreadable);
  if (kind == FileKind::kKvdAscii) {
    const bool layout = r.columns.iobs >= 0 && r.columns.sigma >= 0;
    if (!layout || !skip_header(r.text)) finish(r, ReadResult::kUnreadable);
  }
  return true;
}

ReadResult read_data_line(ReflectionReader& r, DataLine& out) {
  if (r.done) return r.last;
  const ReadResult result = r.kind == FileKind::kDirect ? read_direct_record(r.direct, out)
                                                        : read_text_line(r, out);
  if (result != ReadResult::kData) finish(r, result);
  return result;
}

void close_reflection_reader(ReflectionReader& r) {
  close_lines(r.text);
  close_direct(r.direct);
  r.done = false;
  r.last = ReadResult::kUnreadable;
}

}  // namespace velmar
