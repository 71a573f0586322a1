// The console's start (see launch.h).
#include "console/launch.h"

#include "engine/source.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace vyr::console {

void launch() {
    // A throw or break that nothing caught ends the process as an escaped
    // throw does.
    stack::Mark mark;
    Status s = source::evaluate(*source::load("cli-console-ctx/launch"));
    mark.restore();
    if (s != Status::ok) throw_code(uint32_t(s));
}

}  // namespace vyr::console
