// The command line as the console's own code takes it: a block of the
// program's arguments after its own path, as a routine with an "Internal
// Use Only" spec.
#include <string>

#include "console/host.h"
#include "datatypes/block.h"
#include "datatypes/string_buffer.h"
#include "runtime/platform.h"
#include "runtime/stack.h"

namespace vyr::console::host {

Status command_line(Cell* args, uint32_t) {
    stack::Mark mark;
    Cell* block = block_t::push_new(uint32_t(platform::arg_count()));
    for (int i = 1; i < platform::arg_count(); ++i) {
        std::string arg = platform::arg_vector()[i];
        Cell* text = string_t::push_from_utf8(reinterpret_cast<const uint8_t*>(arg.data()), uint32_t(arg.size()));
        block_t::append_value(*block, *text);
    }
    args[0] = *block;
    mark.restore();
    return Status::ok;
}

}  // namespace vyr::console::host
