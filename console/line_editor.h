// The line editor: reads one line from the terminal with its own key
// handling (cursor moves, deletion, history walk, Tab completion, hidden
// input) and redraws the prompt and the line with relative cursor moves,
// wrapping at the terminal width and counting wide characters as two
// columns (console/char_width.h).
//
// `setup` hands it the string to fill and the history block (newest entry
// first) and enters raw mode; `edit` shows the prompt, edits, leaves raw mode
// and moves output to the next line. The history block is shared with the
// console (`system/console/history`): the editor inserts each new line at
// its head.
#pragma once

#include "runtime/cell.h"

namespace vyr::console::line_editor {

void setup(const Cell& line, const Cell& history);
void edit(const Cell& prompt, bool hidden);

// Whether the terminal failed or hung up during a read (the input has ended).
bool input_failed();

}  // namespace vyr::console::line_editor
