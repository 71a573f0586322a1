// Script start: `vyr FILE` reads the script named on the command line, finds
// its `Vyr [...]` header and evaluates what follows the header.
//
// The command line: leading arguments that begin with "--" are switches and
// are passed over ("--" itself ends them, so the argument after it is the
// script even when it begins with "--"); the first other argument names the
// script. Without one, nothing runs.
//
// The header is found, the text loaded and evaluated by engine/source.h. A
// text without a header prints "*** Error: Vyr header not found!". The loaded
// text must hold the word `Vyr` followed by a block, else "*** Error: not a
// Vyr program!" (or "*** Error: contains Vyr/System code which requires
// compilation!" when the text mentions Vyr/System). Errors raised while reading, loading or evaluating the script
// travel to the entry frame, which prints their report and ends the process
// with status -2.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vyr::console {

// The script argument among the command-line arguments (the program's own
// path excluded), or null when there is none.
const char* script_argument(int argc, const char* const* argv);

// Runs the script named on the command line; returns when it ends normally
// (or when nothing is named).
void launch();

}  // namespace vyr::console
