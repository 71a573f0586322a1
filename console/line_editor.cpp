// The line editor (see line_editor.h).
#include "console/line_editor.h"

#include "console/input.h"
#include "console/terminal.h"
#include "runtime/print_hooks.h"

namespace vyr::console::line_editor {

namespace {
Cell line_cell;
}

void setup(const Cell& line, const Cell&) { line_cell = line; }

void edit(const Cell& prompt, bool) {
    hooks::console_print_hook(&prompt, false);
    stdin_readline(line_cell);
}

bool input_failed() { return false; }

}  // namespace vyr::console::line_editor
