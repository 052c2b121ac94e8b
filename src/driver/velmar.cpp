#include "driver/velmar.hpp"

namespace velmar {

int velmar() { return 0; }

}  // namespace velmar
