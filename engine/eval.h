// The evaluator: runs interpreted code.
//
// A block is evaluated expression by expression on the argument stack
// (runtime/stack.h) inside call frames (datatypes/frames.h). Words are looked up,
// callables are called with arguments gathered from the code that follows
// them, infix operators apply left to right, paths walk through the
// path-access action, function bodies are evaluated in their kind-1 frame.
//
// Every function here answers a Status (runtime/catch_codes.h): ok, or the
// code of a break/continue/return/exit/throw in progress. A non-ok status
// has already unrolled the frames to its target (datatypes/unwind.h); callers
// hand it back unchanged until the site that takes it. Errors travel as the
// Unwind exception.
//
// Positions in code are indexes into the block's buffer, never
// addresses: the block may grow, shrink or move (the collector compacts at
// every safe point) while its own code runs. The blocks being walked and the
// callables being called are held on the collector's scoped cell stack
// (collector::Held).
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace vyr::eval {

// ---- Positions in code ------------------------------------------------------

// Where evaluation stands in a block: the block value (node in w2), held for
// the cursor's lifetime, the position and the end, both as indexes from the
// buffer's head. The end is fixed when the cursor is made; a block that
// shrinks under its own code ends early instead of reading past its tail.
class Cursor {
public:
    // From the block's index to its tail.
    explicit Cursor(const Cell& block) : held_(block), code(held_[0]), pos(block.w1), tail(cells_in(block.w2)) {}
    Cursor(const Cell& block, uint32_t from, uint32_t end) : held_(block), code(held_[0]), pos(from), tail(end) {}
    // From the block's index to its tail, holding `kept` beside the block
    // (a block run keeps there the position it restores on the way out).
    Cursor(const Cell& block, const Cell& kept) : held_(block, kept), code(held_[0]), pos(block.w1), tail(cells_in(block.w2)) {}
    // The same with the block's length already read.
    Cursor(const Cell& block, const Cell& kept, uint32_t end) : held_(block, kept), code(held_[0]), pos(block.w1), tail(end) {}
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    bool at_end() const {
        if (pos >= tail) return true;
        memory::SeriesBuffer* b = memory::buffer_of(code.w2);
        return b->cells() + pos >= b->cells_end();
    }
    // The value at the position (valid until the next allocation or safe point).
    const Cell& value() const { return *memory::cell_at(code.w2, pos); }
    // The value at the position, or null at the end: at_end and value in
    // one look at the buffer.
    const Cell* peek() const {
        if (pos >= tail) return nullptr;
        memory::SeriesBuffer* b = memory::buffer_of(code.w2);
        const Cell* c = b->cells() + pos;
        return c < b->cells_end() ? c : nullptr;
    }
    // The second held cell of a cursor made with one.
    Cell& kept() const { return held_[1]; }
    // The block value standing at the position (w1 = pos).
    Cell here() const {
        Cell c = code;
        c.w1 = pos;
        return c;
    }

private:
    static uint32_t cells_in(NodeId block) {
        memory::SeriesBuffer* b = memory::buffer_of(block);
        return uint32_t(b->cells_end() - b->cells());
    }

    collector::Held held_;

public:
    Cell& code;
    uint32_t pos;
    uint32_t tail;
};

// ---- Evaluating --------------------------------------------------------------

// Evaluates a block (block!, paren!) from its index to its tail in an
// evaluation frame named by `word`. The value of the last expression is the
// result (unset for an empty block); with copy_result it is copied into the
// caller's result slot (the argument base current at the call), else it
// stays in the evaluation frame's first cell, which becomes the top cell.
Status eval_block(const Cell& word, const Cell& block, bool copy_result);
// eval_block named `<body>`, result into the caller's result slot: what a
// native uses to run a block argument.
Status do_block(const Cell& block);

// The value of a block (block!, paren!) holding exactly one quiet
// expression (numbers and words holding them, with infix arithmetic or
// comparisons that cannot fail), computed without running the block when
// nothing could tell the difference: no trace on, no interrupt waiting.
// False, nothing done, otherwise (the caller then runs the block). For
// loop conditions.
bool quiet_block_value(const Cell& block, Cell& out);

// Runs the quiet statements that open a block (from its index): quiet
// expressions, and set-words with one whose store is plain, each done as
// its full evaluation would do it, when nothing could tell the difference
// (no trace for the block, no interrupt waiting). Answers quiet_all when
// the whole block ran so (`last` then holds its value), else the position
// where the block's run must take over: the block's index when nothing
// ran. For loops, whose blocks run over and over.
inline constexpr uint32_t quiet_all = UINT32_MAX;
uint32_t quiet_block_run(const Cell& block, Cell& last);

// The steps of a while loop (`test` then `body`) or of an until loop (its
// body as `test`, no `body`) taken over and over while every statement of
// their blocks is quiet, each as quiet_block_run would take it, until the
// test's value is falsy (while, `stop_when` false) or truthy (until, true):
// then `ended`, `last` holding that value. Otherwise the step to take the
// full way, from its block's position `from` on (the statements before it
// have run): `test` (then the body after it, if any) or `body`. The caller
// passes the collector's safe point before each call: a later step that
// needs one comes back as `pause`, nothing of it run (the caller's next
// step begins with that safe point); an interrupt, as `test`.
enum class QuietLoop : uint8_t { ended, pause, test, body };
// With `decodable` (true at the loop's start), the statements are decoded
// before the first step, conditionals too (`if`, `unless`, `either` over a
// quiet condition, each literal branch one quiet statement); when they do
// not decode, it is set false and later calls only walk.
QuietLoop quiet_loop(const Cell& test, const Cell* body, bool stop_when, uint32_t& from, Cell& last,
                     bool* decodable = nullptr);

// The body of a loop native (repeat, foreach, ...) decoded once for the
// steps of one loop: its quiet statements, and `if`, `unless` or `either`
// over a quiet condition whose literal branches are one such statement
// each. A step runs decoded as long as nothing could tell it from the
// body's run (the code and the words it reads as operators unchanged, no
// buffer moved, no trace, no interrupt waiting).
namespace detail {
class QuietProgram;
}
class QuietBody {
public:
    QuietBody() = default;
    ~QuietBody();
    QuietBody(const QuietBody&) = delete;
    QuietBody& operator=(const QuietBody&) = delete;
    // Whether run may still run a step (a body that does not decode is
    // soon given up).
    bool active() const { return !given_up_; }
    void give_up() { given_up_ = true; }
    // One step of the body: quiet_all when it ran whole (`last` its value),
    // else the position from which the body's run must take over (its
    // index when nothing ran). `words`: the word or block of words the
    // loop sets between steps (it runs no code between them but for their
    // stores), or null.
    uint32_t run(const Cell& body, const Cell* words, Cell& last);

private:
    detail::QuietProgram* program_ = nullptr;
    uint32_t steps_ = 0;     // run by the program since it was decoded
    uint32_t failures_ = 0;  // decodings that failed or lasted few steps
    bool given_up_ = false;
};

// The store of word_t::set when nothing can go wrong or be notified: a
// value that is set, a word bound to the global context or to a running
// function's context, its index resolved. Answers false, storing nothing,
// otherwise (the caller then takes word_t::set). For set-words and loop
// words.
bool store_plainly(const Cell& word, const Cell& value);

// How an expression is evaluated (bits).
namespace expr {
// The value is pushed as a new cell; without it, the value becomes the
// current frame's result (the stack is cut to the result slot).
inline constexpr uint32_t push = 1;
// No operator lookahead after the value.
inline constexpr uint32_t no_infix = 2;
// A callable value standing literally in the code is taken as a value
// instead of being called.
inline constexpr uint32_t callables_as_values = 4;
}  // namespace expr

// Evaluates one expression at the cursor and moves past it (`how`: expr bits).
Status eval_expression(Cursor& at, uint32_t how);
// One expression (infix allowed) in its own call frame named `<body>`; with
// expr::push the value is left as a new top cell, else it is copied into
// the caller's result slot. For any, all, case, reduce.
Status eval_next(Cursor& at, uint32_t how);
// Evaluates one expression of a block from its index; answers in `next` the
// index after it (at the tail: the result is unset and `next` the index).
// The value is the current frame's result. For do/next.
Status eval_next_index(const Cell& block, uint32_t& next);
// Evaluates a path value in get mode (do of a path!); the value is pushed
// (expr::push) or becomes the result.
Status eval_path_value(const Cell& path, uint32_t how);

// Calls a callable (native!, action!, function!, routine!; an op! must be
// retyped to its wrapped type first) with arguments taken from the cursor.
// `name`: the word that names the call frame (`<anon>` when not a word).
// `path`/`path_index`: a path whose elements after `path_index` name
// refinements (null: none). `mode`: 0 for a call from code; for `apply`, 1
// (every argument and refinement in spec order from the block) or 2 (the
// block's values are single arguments, refinements only from the path), plus
// 4 (/safer: arguments of a refinement that is off are skipped, not
// evaluated). The result is pushed (expr::push in `how`) or copied into the
// caller's result slot.
namespace call_mode {
inline constexpr uint32_t code = 0;
inline constexpr uint32_t all = 1;
inline constexpr uint32_t values = 2;
inline constexpr uint32_t safer = 4;
}  // namespace call_mode
Status eval_call(const Cell& callable, Cursor& args, const Cell& name, const Cell* path, uint32_t path_index,
                 uint32_t mode, uint32_t how);

// The one entry through which C++ code runs a function!, routine!, native!
// or action! value: `args` are `count` cells on the argument stack (the
// arguments in spec order; a function's locals and unused refinements are
// filled in). Opens the frame named by `name`, runs the call and copies the
// answer into `answer`. Installed as function_t's caller at start-up.
// With `args_after`, the argument cells after the first (whose cell the
// answer takes) are copied back into args_after[1 .. count - 1] as the callee
// left them, for callers that let the callee move a series it received.
Status call_value(const Cell& fn, Cell* args, uint32_t count, const Cell& name, Cell& answer,
                  Cell* args_after = nullptr);

// ---- The current position -----------------------------------------------------

// A copy of the block being evaluated whose index is the expression being
// evaluated; unset outside any evaluation. New errors copy it into `near`.
Cell& current_position();
// Where a new error is placed: the current position, or inside library code
// the position of the user's code that called into it.
const Cell* near_position();

// ---- Tracing --------------------------------------------------------------------

namespace event {
inline constexpr uint32_t init = 1;
inline constexpr uint32_t end = 2;
inline constexpr uint32_t prolog = 4;
inline constexpr uint32_t epilog = 8;
inline constexpr uint32_t enter = 16;
inline constexpr uint32_t exit = 32;
inline constexpr uint32_t open = 64;
inline constexpr uint32_t return_ = 128;
inline constexpr uint32_t fetch = 256;
inline constexpr uint32_t push = 512;
inline constexpr uint32_t set = 1024;
inline constexpr uint32_t call = 2048;
inline constexpr uint32_t error = 4096;
inline constexpr uint32_t throw_ = 8192;
inline constexpr uint32_t catch_ = 16384;
inline constexpr uint32_t expr = 32768;
inline constexpr uint32_t all_events = 0x1FFFF;
}  // namespace event

namespace trace {
// Whether events are being delivered (never inside library code).
bool on();
// Whether a traced evaluation is under way (do/trace installed a callback).
bool active();
// Whether the trace asks for its events: the flag that `trace true` and
// `trace false` set, which holds only while a trace is active.
bool requested();
void request(bool on);
// The events a callback asks for: the words of the block that opens its
// argument block, or every event when that block does not open with a block.
uint32_t events_to_bits(const Cell& callback);
// Installs the callback (a function!) with its event mask and turns tracing
// on; `uninstall` turns it off and forgets the callback.
void install(const Cell& callback);
void uninstall();
// Delivers one event to the callback when tracing is on and the mask holds
// it. `code`: the block the event happened in (null: none) and `pos` the
// position in it; `value` and `ref` may be null.
Status fire(uint32_t event, const Cell* code, uint32_t pos, const Cell* value, const Cell* ref);
}  // namespace trace

// Start-up: the current position becomes unset, the trace callback none,
// and the evaluator installs its entries into the modules that call Vyr
// code (function values, object specs, sort comparators, error stacks,
// the lexer's trace callback).
void interp_init();

}  // namespace vyr::eval
