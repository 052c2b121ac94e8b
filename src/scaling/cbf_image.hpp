// Writing a two-dimensional integer image as a CBF file with byte-offset compression.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velmar {

// Status of fcb_write.
inline constexpr int kImageWritten = 0;
inline constexpr int kImageNotOpened = -1;
inline constexpr int kImageWriteFailed = -2;

// Most header-contents lines of an image and their longest length.
inline constexpr int kMaxHeaderLines = 100;
inline constexpr int kHeaderLineLength = 80;

// Writes `name` (replacing a file of that name): the CBF header with the given
// header-contents lines (trailing blanks dropped), the nx * ny pixels, fast index first,
// compressed with the byte-offset scheme as little-endian bytes, and zero padding to a
// multiple of 4096 bytes. Returns kImageWritten, kImageNotOpened (also when the name is not
// a regular file) or kImageWriteFailed; a failed image is closed and left as far as written.
int fcb_write(const std::string& name, std::span<const std::string> header_lines, std::span<const int32_t> pixels,
              int nx, int ny);

}  // namespace velmar
