#include "datatypes/eval_hooks.h"

#include "datatypes/object.h"
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

CallbackScope::CallbackScope(CallbackKind kind) {
    if (!installed.tracing_on || !installed.set_tracing || !installed.tracing_on()) return;
    const Cell* bits = object_t::system_field({"state", "callbacks", "bits"});
    if (bits && type_of(*bits) == type_integer && (bits->w2 & kind)) return;
    installed.set_tracing(false);
    suspended_ = true;
}

CallbackScope::~CallbackScope() {
    if (suspended_) installed.set_tracing(true);
}

}  // namespace vyr::eval_hooks
