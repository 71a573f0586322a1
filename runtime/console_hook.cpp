// The console output hook. It reads the string's buffer through its node,
// so its body arrives with the series layer.
#include "runtime/print_hooks.h"

namespace vyr::hooks {

void console_print_hook(const Cell* string, bool line_end) {
    (void)string;
    (void)line_end;
}

}  // namespace vyr::hooks
