#include "input/scratch.hpp"

#include <cstring>
#include <vector>

namespace velmar {
namespace {

constexpr int32_t kRecordBytes = sizeof(ScratchRecord);
constexpr size_t kFramedBytes = kRecordBytes + 2 * sizeof(int32_t);
constexpr size_t kBufferBytes = 1 << 20;

void store(const ScratchRecord& r, ObservationList& obs, size_t i) {
  obs.key[i] = ReflKey{r.h, r.k, r.l, r.isym};
  obs.intensity[i] = r.intensity;
  obs.sigma[i] = r.sigma;
  obs.aux[i] = AuxRow{r.x, r.y, r.z, r.psi};
}

class FramedReader {
 public:
  explicit FramedReader(std::FILE* f) : f_(f), buf_(kBufferBytes / kFramedBytes * kFramedBytes) {}

  bool next(ScratchRecord& r) {
    if (pos_ == end_ && !refill()) return false;
    if (end_ - pos_ < kFramedBytes) return false;
    int32_t head, tail;
    std::memcpy(&head, &buf_[pos_], sizeof head);
    std::memcpy(&r, &buf_[pos_ + sizeof head], sizeof r);
    std::memcpy(&tail, &buf_[pos_ + sizeof head + sizeof r], sizeof tail);
    pos_ += kFramedBytes;
    return head == kRecordBytes && tail == kRecordBytes;
  }

 private:
  bool refill() {
    pos_ = 0;
    end_ = std::fread(buf_.data(), 1, buf_.size(), f_);
    return end_ > 0;
  }
  std::FILE* f_;
  std::vector<unsigned char> buf_;
  size_t pos_ = 0, end_ = 0;
};

}  // namespace

ScratchWriter::~ScratchWriter() {
  if (f_) std::fclose(f_);
}

bool ScratchWriter::open(const std::string& name) {
  f_ = std::fopen(name.c_str(), "wb");
  ok_ = f_ != nullptr;
  if (f_) std::setvbuf(f_, nullptr, _IOFBF, kBufferBytes);
  return ok_;
}

bool ScratchWriter::write(const ScratchRecord& r) {
  unsigned char framed[kFramedBytes];
  std::memcpy(framed, &kRecordBytes, sizeof kRecordBytes);
  std::memcpy(framed + sizeof kRecordBytes, &r, sizeof r);
  std::memcpy(framed + sizeof kRecordBytes + sizeof r, &kRecordBytes, sizeof kRecordBytes);
  ok_ = ok_ && f_ && std::fwrite(framed, 1, sizeof framed, f_) == sizeof framed;
  return ok_;
}

bool ScratchWriter::write_end_marker(const ScratchRecord& last) {
  ScratchRecord end = last;
  end.h = ReflKey::kEndMarkerH;
  end.k = end.l = end.isym = 0;
  end.intensity = 0.0f;
  end.sigma = -1.0f;
  return write(end);
}

bool ScratchWriter::close() {
  if (!f_) return false;
  ok_ = ok_ && std::fflush(f_) == 0 && !std::ferror(f_);
  ok_ = std::fclose(f_) == 0 && ok_;
  f_ = nullptr;
  return ok_;
}

bool read_scratch(const std::string& name, std::span<const DataSetBlock> blocks, ObservationList& obs) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  bool ok = f != nullptr;
  if (f) {
    std::setvbuf(f, nullptr, _IONBF, 0);
    FramedReader reader(f);
    ScratchRecord r{};
    for (const DataSetBlock& b : blocks) {
      for (int64_t i = 0; ok && i <= b.nrec; ++i) {
        ok = reader.next(r);
        if (ok) store(r, obs, static_cast<size_t>(b.start + i));
      }
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
  }
  std::remove(name.c_str());
  return ok;
}

}  // namespace velmar
