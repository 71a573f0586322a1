// The console's start (see launch.h).
#include "console/launch.h"

#include "engine/source.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace vyr::console {

void launch() {
    // A throw or break that nothing caught ends the process as an escaped
    // throw does.
    // The call is the console's own code, as the body it calls is.
    stack::Mark mark;
    Cell* code = source::load("cli-console-ctx/launch");
    memory::set_series_flags(code->w2, memory::flag::boot_origin);
    Status s = source::evaluate(*code);
    mark.restore();
    if (s != Status::ok) throw_code(uint32_t(s));
}

}  // namespace vyr::console
