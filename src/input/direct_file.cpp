// Binary DIRECT reflection files: fixed records of 68 bytes.
#include "input/direct_file.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace velmar {
namespace {

constexpr int kEndOfData = 10000;
constexpr int kMaxByteOrderProbe = 192;

// Byte offsets of S1..S16 and R1..R9 in a record.
size_t short_offset(int n) { return n <= 9 ? size_t(2 * (n - 1)) : size_t(30 + 2 * (n - 10)); }
size_t real_offset(int n) { return n <= 3 ? size_t(18 + 4 * (n - 1)) : size_t(44 + 4 * (n - 4)); }

int short_field(const unsigned char* rec, int n, bool swap) {
  uint16_t u;
  std::memcpy(&u, rec + short_offset(n), 2);
  if (swap) u = static_cast<uint16_t>((u >> 8) | (u << 8));
  int16_t s;
  std::memcpy(&s, &u, 2);
  return s;
}

float real_field(const unsigned char* rec, int n, bool swap) {
  uint32_t u;
  std::memcpy(&u, rec + real_offset(n), 4);
  if (swap)
    u = (u >> 24) | ((u >> 8) & 0x0000ff00u) | ((u << 8) & 0x00ff0000u) | (u << 24);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

// Makes at least one whole record available unless the file ends or fails first.
void fill(DirectSource& s) {
  while (s.end - s.pos < kDirectRecordBytes && !s.eof && !s.failed) refill(s);
}

bool decode_record(const unsigned char* rec, bool swap, DataLine& out) {
  out.h = short_field(rec, 4, swap);
  out.k = short_field(rec, 5, swap);
  out.l = short_field(rec, 6, swap);
  out.intensity = real_field(rec, 1, swap);
  out.sigma = real_field(rec, 2, swap);
  out.intensity2 = 0.0f;
  out.sigma2 = kSigmaAbsent;
  out.z = static_cast<float>(short_field(rec, 13, swap));
  out.x = static_cast<float>(short_field(rec, 15, swap)) / 10.0f;
  out.y = static_cast<float>(short_field(rec, 16, swap)) / 10.0f;
  out.psi = kPsiUnknown;
  out.axis_angle1 = short_field(rec, 11, swap);
  out.axis_angle2 = short_field(rec, 12, swap);
  out.axis_rotation = short_field(rec, 14, swap);
  for (int i = 0; i < 3; ++i) out.beam[size_t(i)] = real_field(rec, 4 + i, swap);
  return std::isfinite(out.intensity) && std::isfinite(out.sigma) &&
         std::all_of(out.beam.begin(), out.beam.end(), [](float b) { return std::isfinite(b); });
}

}  // namespace

bool open_direct(DirectSource& src, const std::string& file_name, size_t buffer_bytes) {
  return open_direct(src, open_input_file(file_name), buffer_bytes);
}

bool open_direct(DirectSource& src, FileHandle file, size_t buffer_bytes) {
  close_direct(src);
  const size_t records = std::max<size_t>(buffer_bytes / kDirectRecordBytes, 1);
  return open_buffer(src, std::move(file), records * kDirectRecordBytes);
}

void close_direct(DirectSource& src) {
  close_buffer(src);
  src.records = 0;
  src.swap_bytes = false;
}

ReadResult read_direct_record(DirectSource& src, DataLine& out) {
  if (!src.file) return ReadResult::kUnreadable;
  fill(src);
  const size_t left = src.end - src.pos;
  if (left < kDirectRecordBytes) {
    const bool clean_end = left == 0 && src.eof && src.records > 0;
    return clean_end ? ReadResult::kEnd : ReadResult::kUnreadable;
  }
  const auto* rec = reinterpret_cast<const unsigned char*>(src.buffer.data() + src.pos);
  if (src.records == 0) {
    const int s7 = short_field(rec, 7, false);
    src.swap_bytes = s7 < -kMaxByteOrderProbe || s7 > kMaxByteOrderProbe;
  }
  src.pos += kDirectRecordBytes;
  ++src.records;
  if (short_field(rec, 1, src.swap_bytes) == kEndOfData) return ReadResult::kEnd;
  return decode_record(rec, src.swap_bytes, out) ? ReadResult::kData : ReadResult::kUnreadable;
}

}  // namespace velmar
