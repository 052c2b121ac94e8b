// libFuzzer entry for the header target (built with VELMAR_FUZZ=ON).
#include "fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmar::fuzz::fuzz_header(data, size);
  return 0;
}
