// Line-by-line reading of a text file through one large buffer.
//
// Every line is handed out as a view into the buffer, cut to the fixed record length of
// 132 characters (a longer line is read as its first 132 characters, the rest is skipped).
// A carriage return before the line feed is dropped. No allocation happens per line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

inline constexpr size_t kRecordLength = 132;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens an existing regular file for reading; null when it cannot be opened.
FileHandle open_input_file(const std::string& file_name);

// An input file read through one large buffer.
struct ReadBuffer {
  FileHandle file;
  std::vector<char> buffer;
  size_t pos = 0;   // start of the unread part of buffer
  size_t end = 0;   // end of the valid part of buffer
  bool eof = false;
  bool failed = false;
};

// Opens the file with a buffer of `bytes` bytes; false when it cannot be opened.
bool open_buffer(ReadBuffer& b, const std::string& file_name, size_t bytes);
// Same for a stream that is already open (a file, or a memory buffer through fmemopen);
// the buffer takes it over. False when `file` is null.
bool open_buffer(ReadBuffer& b, FileHandle file, size_t bytes);
void close_buffer(ReadBuffer& b);
// Moves the unread part to the front and reads as much as fits behind it.
void refill(ReadBuffer& b);

enum class LineStatus { kLine, kEndOfFile, kReadError };

struct LineSource : ReadBuffer {
  std::array<char, kRecordLength> long_line{};  // head of a line longer than the buffer
};

// Opens the file with a buffer of `buffer_size` bytes (at least 4096); false when it cannot
// be opened.
bool open_lines(LineSource& src, const std::string& file_name, size_t buffer_size);
bool open_lines(LineSource& src, FileHandle file, size_t buffer_size);
void close_lines(LineSource& src);

// The next line (without its end-of-line characters, at most kRecordLength characters).
// The view stays valid until the next call.
LineStatus next_line(LineSource& src, std::string_view& line);

}  // namespace velmar
