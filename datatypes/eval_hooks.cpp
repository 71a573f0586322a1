#include "datatypes/eval_hooks.h"

#include "runtime/errors.h"

namespace vyr::eval_hooks {

namespace {
Hooks installed;
}  // namespace

const Hooks& hooks() { return installed; }
void install(const Hooks& h) { installed = h; }

Status call(const Cell& fn, Cell* args, uint32_t count, NodeId object, const Cell& name, Cell& answer) {
    if (!installed.call) raise_error(err_cat::internal, err_id::internal::not_done);
    return installed.call(fn, args, count, object, name, answer);
}

}  // namespace vyr::eval_hooks
