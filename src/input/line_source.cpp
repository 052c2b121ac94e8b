// Line-by-line reading of a text file through one large buffer.
#include "input/line_source.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/files.hpp"

namespace velmar {
namespace {

std::string_view cut_record(const char* begin, size_t n) {
  if (n > 0 && begin[n - 1] == '\r') --n;
  return {begin, std::min(n, kRecordLength)};
}

// The buffer is full and holds no line end: keep the head of the line, drop the rest.
LineStatus take_overlong_line(LineSource& s, std::string_view& line) {
  std::memcpy(s.long_line.data(), s.buffer.data(), kRecordLength);
  while (true) {
    s.pos = s.end = 0;
    refill(s);
    const void* nl = std::memchr(s.buffer.data(), '\n', s.end);
    if (nl != nullptr) {
      s.pos = static_cast<size_t>(static_cast<const char*>(nl) - s.buffer.data()) + 1;
      break;
    }
    if (s.eof || s.failed) {
      s.pos = s.end;
      break;
    }
  }
  line = std::string_view(s.long_line.data(), kRecordLength);
  return LineStatus::kLine;
}

}  // namespace

// Only regular files: a directory cannot be read, and a device or pipe such as /dev/zero
// may never end.
FileHandle open_input_file(const std::string& file_name) { return FileHandle(open_regular_file(file_name)); }

bool open_buffer(ReadBuffer& b, const std::string& file_name, size_t bytes) {
  return open_buffer(b, open_input_file(file_name), bytes);
}

bool open_buffer(ReadBuffer& b, FileHandle file, size_t bytes) {
  close_buffer(b);
  b.file = std::move(file);
  if (!b.file) return false;
  b.buffer.resize(bytes);
  return true;
}

void close_buffer(ReadBuffer& b) {
  b.file.reset();
  b.pos = b.end = 0;
  b.eof = b.failed = false;
}

void refill(ReadBuffer& b) {
  if (b.pos > 0) {
    std::memmove(b.buffer.data(), b.buffer.data() + b.pos, b.end - b.pos);
    b.end -= b.pos;
    b.pos = 0;
  }
  const size_t room = b.buffer.size() - b.end;
  const size_t n = std::fread(b.buffer.data() + b.end, 1, room, b.file.get());
  b.end += n;
  if (n < room) {
    if (std::ferror(b.file.get()))
      b.failed = true;
    else
      b.eof = true;
  }
}

bool open_lines(LineSource& src, const std::string& file_name, size_t buffer_size) {
  return open_lines(src, open_input_file(file_name), buffer_size);
}

bool open_lines(LineSource& src, FileHandle file, size_t buffer_size) {
  return open_buffer(src, std::move(file), std::max<size_t>(buffer_size, 4096));
}

void close_lines(LineSource& src) { close_buffer(src); }

LineStatus next_line(LineSource& s, std::string_view& line) {
  if (!s.file) return LineStatus::kReadError;
  size_t scan = s.pos;
  while (true) {
    const char* begin = s.buffer.data() + s.pos;
    const void* nl = std::memchr(s.buffer.data() + scan, '\n', s.end - scan);
    if (nl != nullptr) {
      const auto n = static_cast<size_t>(static_cast<const char*>(nl) - begin);
      line = cut_record(begin, n);
      s.pos += n + 1;
      return LineStatus::kLine;
    }
    if (s.failed) return LineStatus::kReadError;
    if (s.eof) {
      if (s.pos == s.end) return LineStatus::kEndOfFile;
      line = cut_record(begin, s.end - s.pos);
      s.pos = s.end;
      return LineStatus::kLine;
    }
    if (s.pos == 0 && s.end == s.buffer.size()) return take_overlong_line(s, line);
    const size_t searched = s.end - s.pos;
    refill(s);
    scan = s.pos + searched;
  }
}

}  // namespace velmar
