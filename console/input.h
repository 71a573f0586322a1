// Console input: the routines through which the console's Vyr code asks for
// a line (`_set-buffer-history`, `_read-input`), the console's `init`, the
// reader of UTF-8 lines from a standard input that is not a terminal, and
// the other small input routines.
//
// `_set-buffer-history` hands over the string to fill and the history block;
// `_read-input` fills the string: on a terminal through the line editor
// (console/line_editor.h), otherwise by reading one line of UTF-8 text from
// standard input without prompt or echo. Invalid UTF-8 becomes U+FFFD; the
// end of input ends the line, and every later read answers an empty line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace vyr::console {

// Start-up (boot step): adds the console's routines to the routine table and
// binds them to their words, with their specs from `specs` (the loaded
// routine source); `init` is `_console-init`, which the console object takes
// into its `init` field.
void make_routines(const Cell& specs);
// The names of the console's routines (see library::routine_names).
std::vector<std::string> routine_names();

// Whether standard input is a terminal (decided by `init`; false before).
bool terminal_input();

// Appends the code points of one line of standard input to the string, up to
// a line feed (not stored) or the end of input. Answers false when the end of
// input was reached.
bool stdin_readline(const Cell& line);

// Whether a read has met the end of standard input.
bool stdin_ended();

// One code point read from standard input (U+FFFD for an invalid sequence),
// or -1 at the end of input or when the read fails.
int32_t read_utf8_char();

}  // namespace vyr::console
