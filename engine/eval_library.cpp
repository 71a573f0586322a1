// Library code as compiled code (see eval_internal.h): the switch between the
// user's code and the code decoded from the boot image.
//
// eval_block crosses over whenever the block it is given is of the other
// kind than the code running, so the state always describes the innermost
// block. Inside library code the evaluator's current position keeps moving
// (nothing on the hot path tests the kind of code), but errors take their
// near from the position the user's code had when it called in.
#include "datatypes/frames.h"
#include "engine/eval.h"
#include "engine/eval_internal.h"
#include "runtime/collector.h"

namespace vyr::eval {

bool detail::in_library = false;

namespace {
Cell caller_position{type_unset, 0, 0, 0};
collector::CellRoot caller_position_root(&caller_position);
}  // namespace

void detail::set_in_library(bool library) {
    in_library = library;
    frames::set_library_code(library);
    tracing = trace_requested && !library;
}

detail::OriginCrossing::OriginCrossing(bool library) : former_(in_library), caller_position_(caller_position) {
    if (library) caller_position = current_position();
    set_in_library(library);
}

detail::OriginCrossing::~OriginCrossing() {
    set_in_library(former_);
    caller_position = caller_position_[0];
}

Status detail::eval_block_crossing(const Cell& word, const Cell& block, bool copy_result) {
    OriginCrossing crossing(!in_library);
    return eval_block(word, block, copy_result);
}

// Library code that no user code called (the console's own loop) has only
// its own position to give.
const Cell* near_position() {
    bool called = detail::in_library && type_of(caller_position) != type_unset;
    return called ? &caller_position : &current_position();
}

}  // namespace vyr::eval
