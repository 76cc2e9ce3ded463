#include <cstdio>

#include <io.h>

#include "sim/HostConventions.h"

namespace sim {

bool StderrIsHostTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace sim
