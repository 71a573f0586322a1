// The console's start: `launch` hands the process over to the console's own
// Vyr code (`cli-console-ctx/launch`, console/cli.vyr), which loads the
// settings, initialises the terminal, runs the script named on the command
// line and, when there is none (or with "--catch"), the read-eval-print loop.
#pragma once

namespace vyr::console {

// Returns when the console's launch returns (a script has run); the loop
// itself leaves only through quit.
void launch();

}  // namespace vyr::console
