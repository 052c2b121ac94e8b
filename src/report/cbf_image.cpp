// Reading the correction-factor images that a run writes.
#include "report/cbf_image.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/files.hpp"

namespace velmar::report {
namespace {

constexpr unsigned char kBinaryStart[4] = {0x0C, 0x1A, 0x04, 0xD5};
constexpr long kMaxFileBytes = 64L << 20;
constexpr long kMaxPixels = 16L << 20;

int32_t little_endian(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | p[k];
  if (bytes == 2) return static_cast<int16_t>(v);
  return static_cast<int32_t>(v);
}

// The integer after `key` in the header text, or -1.
long header_number(std::string_view header, std::string_view key) {
  const size_t p = header.find(key);
  if (p == std::string_view::npos) return -1;
  const std::string value(header.substr(p + key.size(), 24));
  char* end = nullptr;
  const long v = std::strtol(value.c_str(), &end, 10);
  return end == value.c_str() ? -1 : v;
}

std::vector<std::string> header_contents(std::string_view header) {
  std::vector<std::string> lines;
  const size_t start = header.find("_array_data.header_contents");
  if (start == std::string_view::npos) return lines;
  size_t p = header.find("\n;", start);
  if (p == std::string_view::npos) return lines;
  p = header.find('\n', p + 1);
  while (p != std::string_view::npos && p + 1 < header.size()) {
    const size_t end = header.find('\n', p + 1);
    std::string_view line = header.substr(p + 1, end == std::string_view::npos ? std::string_view::npos : end - p - 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == ";") break;
    lines.emplace_back(line);
    p = end;
  }
  return lines;
}

}  // namespace

long decode_byte_offset(std::span<const unsigned char> data, std::span<int32_t> values) {
  size_t p = 0;
  int64_t previous = 0;
  for (int32_t& v : values) {
    if (p >= data.size()) return -1;
    int64_t d = static_cast<signed char>(data[p]);
    p += 1;
    if (data[p - 1] == 0x80) {
      if (p + 2 > data.size()) return -1;
      d = little_endian(&data[p], 2);
      p += 2;
      if (d == -32768) {
        if (p + 4 > data.size()) return -1;
        d = little_endian(&data[p], 4);
        p += 4;
      }
    }
    previous += d;
    v = static_cast<int32_t>(previous);
  }
  return static_cast<long>(p);
}

bool parse_cbf_image(std::span<const unsigned char> bytes, CbfImage& image, std::string& error) {
  const unsigned char* start = nullptr;
  for (size_t p = 0; p + 4 <= bytes.size(); ++p)
    if (std::memcmp(&bytes[p], kBinaryStart, 4) == 0) {
      start = &bytes[p];
      break;
    }
  if (!start) {
    error = "no binary section";
    return false;
  }
  const std::string_view header(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(start - bytes.data()));
  if (!header.starts_with("###CBF:")) {
    error = "not a CBF file";
    return false;
  }
  if (header.find("x-CBF_BYTE_OFFSET") == std::string_view::npos) {
    error = "not byte-offset compressed";
    return false;
  }
  const long nx = header_number(header, "X-Binary-Size-Fastest-Dimension:");
  const long ny = header_number(header, "X-Binary-Size-Second-Dimension:");
  const long count = header_number(header, "X-Binary-Number-of-Elements:");
  const long size = header_number(header, "X-Binary-Size:");
  if (nx < 1 || ny < 1 || nx > kMaxPixels || ny > kMaxPixels || nx * ny > kMaxPixels || count != nx * ny) {
    error = "image dimensions missing or inconsistent";
    return false;
  }
  const std::span<const unsigned char> data(start + 4, static_cast<size_t>(bytes.data() + bytes.size() - start - 4));
  image.nx = static_cast<int>(nx);
  image.ny = static_cast<int>(ny);
  image.pixels.assign(static_cast<size_t>(count), 0);
  const long used = decode_byte_offset(data, image.pixels);
  if (used < 0 || (size >= 0 && used != size)) {
    error = used < 0 ? "binary data cut short" : "binary size differs from X-Binary-Size";
    return false;
  }
  image.header_contents = header_contents(header);
  return true;
}

bool read_cbf_image(const std::string& path, CbfImage& image, std::string& error) {
  std::FILE* f = open_regular_file(path);
  if (!f) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<unsigned char> bytes;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    bytes.insert(bytes.end(), buf, buf + n);
    if (static_cast<long>(bytes.size()) > kMaxFileBytes) break;
  }
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error || static_cast<long>(bytes.size()) > kMaxFileBytes) {
    error = read_error ? "cannot read " + path : path + " is too large for a correction-factor image";
    return false;
  }
  return parse_cbf_image(bytes, image, error);
}

}  // namespace velmar::report
