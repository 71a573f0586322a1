// The terminal under the console: detection, the window size, raw mode and
// key reading.
//
// Raw mode (no echo, no line buffering, no signal keys) is entered around
// each line the editor reads and left afterwards, so that a running command
// sees the terminal as the user set it. The settings saved on entry are put
// back on every way out: leaving raw mode, the process's normal end, and the
// fatal signals (whose default action then runs).
//
// Keys arrive as bytes; VT sequences (ESC [ ... and ESC O ...) are decoded
// into the key codes below; an ESC followed by nothing within a short time
// is the Esc key itself. A failed read (the terminal hung up) answers
// key_failed, which the editor takes as the end of input.
//
// The window size comes from TIOCGWINSZ; SIGWINCH marks it stale, and the
// next key read or size query reads it again and updates the console's
// `size` pair through the hook that `init` installs.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace vyr::console::terminal {

// Key codes: a character key answers its code point; these stand for the
// keys without one.
namespace key {
inline constexpr int32_t enter = 13;
inline constexpr int32_t up = -20;
inline constexpr int32_t down = -21;
inline constexpr int32_t right = -22;
inline constexpr int32_t left = -23;
inline constexpr int32_t end = -24;
inline constexpr int32_t home = -25;
inline constexpr int32_t insert = -26;
inline constexpr int32_t del = -27;
inline constexpr int32_t page_up = -28;
inline constexpr int32_t page_down = -29;
inline constexpr int32_t other = 0;
inline constexpr int32_t failed = -1;
}  // namespace key

// The console's start-up: the window title (when standard output is a
// terminal), whether standard input is a terminal, the window size.
void init(const Cell& title);
bool input_is_terminal();

// The window size, read again when the window has changed; -1 when unknown.
int32_t columns();
int32_t rows();
// Where the console keeps its size pair (looked up at each change).
void set_size_cell_hook(Cell* (*hook)());

void enter_raw_mode();
void leave_raw_mode();

// One key (see key::); -1 when the read failed or the input ended.
int32_t read_key();

// Writes bytes to the terminal at once.
void write(std::string_view bytes);

// The cursor's row and column (0-based) asked of the terminal; false when it
// does not answer.
bool cursor_position(int32_t& row, int32_t& column);

}  // namespace vyr::console::terminal
