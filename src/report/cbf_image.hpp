// Reading the correction-factor images that a run writes: CBF files with byte-offset
// compressed 32-bit pixels and a short header of text lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmar::report {

struct CbfImage {
  int nx = 0, ny = 0;                       // fast and slow dimension
  std::vector<int32_t> pixels;              // nx * ny values, the fast index varying fastest
  std::vector<std::string> header_contents; // the lines between the ';' lines of the header
};

// Decodes `count` byte-offset compressed values from `data`. Returns the number of bytes
// used, or -1 when the data end before the last value.
long decode_byte_offset(std::span<const unsigned char> data, std::span<int32_t> values);

// Reads an image from the bytes of a file. False, with the reason in `error`, when the bytes
// are not such an image (no binary section, unknown compression, sizes that disagree).
bool parse_cbf_image(std::span<const unsigned char> bytes, CbfImage& image, std::string& error);

// Reads the image file `path` (at most 64 MB).
bool read_cbf_image(const std::string& path, CbfImage& image, std::string& error);

}  // namespace velmar::report
