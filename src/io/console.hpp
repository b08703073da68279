// The console: progress lines to standard output, answers from standard input.
#pragma once

#include <string>

#include "io/format.hpp"

namespace qv {

// Writes one console line (free-format lines carry their leading blank).
void say(const fmt::Line& line);
void say(const std::string& fixed_line);

// A warning on standard error ("warning: " and the text); the console on
// standard output stays the defined one.
void warn(const std::string& text);

// Free-format console input: the next value, values being separated by
// blanks, commas or line ends.  No answer or a non-number raises IoError.
double ask_real();
long long ask_int();

}  // namespace qv
