#include "runtime/errors.h"

#include "runtime/runtime_error.h"

namespace vyr {

namespace {
errors::Raiser raiser = nullptr;
}  // namespace

namespace errors {
void install_raiser(Raiser r) { raiser = r; }
}  // namespace errors

void raise_error(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    if (raiser) raiser(category, id, arg1, arg2, arg3);
    runtime_error_quit(runtime_error_no::unknown, VYR_CODE_POSITION());
}

}  // namespace vyr
