// libFuzzer entry for the control file target (built with VELMAR_FUZZ=ON).
#include "fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmar::fuzz::fuzz_control_file(data, size);
  return 0;
}
