// The console's start (see launch.h).
#include "console/launch.h"

#include <cstring>

#include "datatypes/frames.h"
#include "engine/eval.h"
#include "engine/lexer.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace vyr::console {

namespace {

// Evaluates Vyr source text; a throw or break that nothing caught ends the
// process as an escaped throw does.
void run_text(const char* text) {
    stack::Mark mark;
    lexer::Request request;
    request.text = reinterpret_cast<const uint8_t*>(text);
    request.length = uint32_t(std::strlen(text));
    Cell* code = stack::push_copy(Cell{type_none, 0, 0, 0});
    lexer::lexer_scan(code, request, nullptr);
    Status s = eval::eval_block(frames::markers().body, *code, false);
    mark.restore();
    if (s != Status::ok) throw_code(uint32_t(s));
}

}  // namespace

void launch() { run_text("cli-console-ctx/launch"); }

}  // namespace vyr::console
