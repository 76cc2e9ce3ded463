// The program-wide debug switch set by a leading "-d". Its only reader is the
// controller's acknowledgement wait, which then reports each wait on stderr.
#pragma once

extern bool g_debugOutput;
