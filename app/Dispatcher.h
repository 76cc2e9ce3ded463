#pragma once

#include "app/CommandLine.h"
#include "app/Edition.h"

// Runs the one command that the invocation names and returns its exit status.
int RunInvocation(const Invocation& invocation, Edition edition);

// The program: parse the command line, set the debug switch, run the command.
int RunApp(int argc, const char* const* argv, Edition edition);
