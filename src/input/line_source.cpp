// Line-by-line reading of a text file through one large buffer.
#include "input/line_source.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace velmar {
namespace {

std::string_view cut_record(const char* begin, size_t n) {
  if (n > 0 && begin[n - 1] == '\r') --n;
  return {begin, std::min(n, kRecordLength)};
}

// Moves the unread part to the front and reads as much as fits behind it.
void refill(LineSource& s) {
  if (s.pos > 0) {
    std::memmove(s.buffer.data(), s.buffer.data() + s.pos, s.end - s.pos);
    s.end -= s.pos;
    s.pos = 0;
  }
  const size_t room = s.buffer.size() - s.end;
  const size_t n = std::fread(s.buffer.data() + s.end, 1, room, s.file.get());
  s.end += n;
  if (n < room) {
    if (std::ferror(s.file.get()))
      s.failed = true;
    else
      s.eof = true;
  }
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

FileHandle open_input_file(const std::string& file_name) {
  std::error_code ec;
  if (file_name.empty() || std::filesystem::is_directory(file_name, ec)) return nullptr;
  return FileHandle(std::fopen(file_name.c_str(), "rb"));
}

bool open_lines(LineSource& src, const std::string& file_name, size_t buffer_size) {
  close_lines(src);
  src.file = open_input_file(file_name);
  if (!src.file) return false;
  src.buffer.resize(std::max<size_t>(buffer_size, 4096));
  return true;
}

void close_lines(LineSource& src) {
  src.file.reset();
  src.pos = src.end = 0;
  src.eof = src.failed = false;
}

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
