// libFuzzer entry for the data lines target (built with VELMAR_FUZZ=ON).
#include "fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmar::fuzz::fuzz_data_lines(data, size);
  return 0;
}
