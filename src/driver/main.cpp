// The program entry: runs the job driver and turns its outcome into the exit status.
#include "driver/velmar.hpp"

int main() { return velmar::velmar(); }
