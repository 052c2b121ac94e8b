#include "input/scratch.hpp"

#include "common/scratch_files.hpp"

namespace velmar {
namespace {

constexpr size_t kBufferRecords = (1 << 20) / sizeof(ScratchRecord);

}  // namespace

ScratchWriter::~ScratchWriter() {
  if (f_) std::fclose(f_);
}

bool ScratchWriter::open(const std::string& name) {
  register_scratch_file(name);
  f_ = std::fopen(name.c_str(), "wb");
  ok_ = f_ != nullptr;
  if (f_) std::setvbuf(f_, nullptr, _IONBF, 0);
  buffer_.resize(kBufferRecords);
  used_ = 0;
  return ok_;
}

bool ScratchWriter::flush() {
  ok_ = ok_ && f_ && std::fwrite(buffer_.data(), sizeof(ScratchRecord), used_, f_) == used_;
  used_ = 0;
  return ok_;
}

bool ScratchWriter::write_end_marker(const ScratchRecord& last) {
  ScratchRecord end = last;
  end.key = ReflKey::end_marker();
  end.intensity = 0.0f;
  end.sigma = -1.0f;
  return write(end);
}

bool ScratchWriter::close() {
  if (!f_) return false;
  flush();
  ok_ = std::fclose(f_) == 0 && ok_;
  f_ = nullptr;
  return ok_;
}

ScratchReader::~ScratchReader() { close_and_delete(); }

bool ScratchReader::open(const std::string& name) {
  name_ = name;
  f_ = std::fopen(name.c_str(), "rb");
  return f_ != nullptr;
}

bool ScratchReader::read(ScratchRecord* out, size_t n) {
  return f_ && std::fread(out, sizeof(ScratchRecord), n, f_) == n;
}

void ScratchReader::close_and_delete() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
  if (!name_.empty()) remove_scratch_file(name_);
  name_.clear();
}

}  // namespace velmar
