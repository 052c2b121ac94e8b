#include "common/error.hpp"

namespace velmar {

void stop(std::string_view message) { throw VelmarError(" " + std::string(message)); }

void stop_after_blank(std::string_view message) { throw VelmarError("\n " + std::string(message)); }

void stop_verbatim(std::string_view lines) { throw VelmarError(std::string(lines)); }

void assert_violation(std::string_view routine) {
  stop("!!! ERROR !!! ASSERT VIOLATION IN \"" + std::string(routine) + "\"");
}

}  // namespace velmar
