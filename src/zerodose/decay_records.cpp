#include "zerodose/decay_records.hpp"

#include "common/error.hpp"

namespace velmar {
namespace {

struct Entry {
  int32_t set;
  float b, sd;
};
static_assert(sizeof(Entry) == 12);

[[noreturn]] void cannot_write(const std::string& name) { stop("!!! ERROR !!! CANNOT OPEN OR WRITE " + name); }
[[noreturn]] void cannot_read(const std::string& name) { stop("!!! ERROR !!! CANNOT OPEN OR READ " + name); }

// Closes the file when a stop leaves the reader early.
struct InputFile {
  std::FILE* f;
  ~InputFile() {
    if (f) std::fclose(f);
  }
};

}  // namespace

DecayRecordWriter::DecayRecordWriter(const std::string& file_name) : name(file_name) {
  file = std::fopen(name.c_str(), "wb");
  if (!file) cannot_write(name);
}

DecayRecordWriter::~DecayRecordWriter() {
  if (file) std::fclose(file);
}

void write_decay_record(DecayRecordWriter& w, const int32_t* set, const float* b, const float* sd, int n) {
  const int32_t count = n;
  bool ok = std::fwrite(&count, sizeof count, 1, w.file) == 1;
  for (int k = 0; k < n && ok; ++k) {
    const Entry e{set[k], b[k], sd[k]};
    ok = std::fwrite(&e, sizeof e, 1, w.file) == 1;
  }
  if (!ok) w.failed = true;
  ++w.records;
}

void close_decay_records(DecayRecordWriter& w) {
  const bool ok = !w.failed && std::ferror(w.file) == 0;
  const bool closed = std::fclose(w.file) == 0;
  w.file = nullptr;
  if (!ok || !closed) cannot_write(w.name);
}

DecayRecords read_decay_records(const std::string& name, int64_t expected, int nset) {
  InputFile in{std::fopen(name.c_str(), "rb")};
  if (!in.f) cannot_read(name);
  DecayRecords r;
  for (int64_t k = 0; k < expected; ++k) {
    int32_t n = 0;
    if (std::fread(&n, sizeof n, 1, in.f) != 1 || n < 1 || n > nset) cannot_read(name);
    for (int32_t e = 0; e < n; ++e) {
      Entry entry{};
      if (std::fread(&entry, sizeof entry, 1, in.f) != 1 || entry.set < 0 || entry.set >= nset) cannot_read(name);
      r.add(entry.set, entry.b, entry.sd);
    }
    r.close_record();
  }
  if (std::fgetc(in.f) != EOF || std::ferror(in.f)) cannot_read(name);
  return r;
}

}  // namespace velmar
