#pragma once

#include <string>

#include "app/Edition.h"

// What follows the last '/' or '\' of the start path.
std::string ProgramName(const std::string& programPath);

// Prints the usage text for the program started by programPath; returns 1.
int PrintUsage(const std::string& programPath, Edition edition);
