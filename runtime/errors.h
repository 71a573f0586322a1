// Raising language errors.
//
// Every language error is raised through `raise_error`, named by two
// positions in the error catalog (runtime/error_catalog.h): the category
// (err_cat::script) and the id within it (err_id::script::no_value), with up
// to three argument values. Its code is category x 100 + (id - 2).
//
// Recording the error, making its error! value and unwinding to a catch site
// are the work of the layers above (datatypes/errors.h); they install the
// raiser before `main` runs. Code in this layer raises through the same call.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/error_catalog.h"

namespace vyr {

// Records the error (category, id) with up to three arguments (absent ones
// are none!) and unwinds to the nearest catch site. Never returns.
[[noreturn]] void raise_error(int category, int id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);

namespace errors {

// The raiser must not return. With none installed, raising ends the process
// with runtime error 99: nothing could catch the error.
using Raiser = void (*)(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
void install_raiser(Raiser raiser);

}  // namespace errors

}  // namespace vyr
