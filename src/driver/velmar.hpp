// The job driver: the whole run from start-up to the timing lines.
#pragma once

namespace velmar {

// Runs VELMAR in the current directory; returns the process exit status
// (0 after a completed or quietly ended run, 1 after an error message).
int velmar();

}  // namespace velmar
