#include "runtime/errors.h"

#include <cstdlib>

#include "runtime/platform.h"

namespace vyr {

// Until error! values exist: report the category and id, then end the run as
// an uncaught error does.
void raise_error(int category, int id, const Cell*, const Cell*, const Cell*) {
    platform::runtime_print_line({"*** Error: category ", category, " id ", id});
    platform::release_all_allocations();
    std::exit(-2);
}

}  // namespace vyr
