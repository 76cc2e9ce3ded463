// What a test reads: lines the tool printed, steps on the wire. One type for
// all of them, compared as a whole so that a failure shows both sides.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

using Transcript = std::vector<std::string>;

// The lines of a text, without their line ends.
Transcript Lines(const std::string& text);

// The parts one after the other.
Transcript Join(std::initializer_list<Transcript> parts);
