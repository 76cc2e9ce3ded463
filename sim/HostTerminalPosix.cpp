#include <unistd.h>

#include "sim/HostConventions.h"

namespace sim {

bool StderrIsHostTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace sim
