// Calling callables: argument specs, argument fetching, and the calls of
// native!, action!, function! and routine! values.
//
// The argument spec of a callable is built from its argument block on its first
// call and cached in its record (cell 1 of the record block) as a byte
// series of plain records (ArgSpec, then one ArgEntry per argument and
// refinement, in spec order), so a call reads a flat array instead of
// walking its argument block. A series, not a C++ object: it dies with the
// callable. Its buffer may move at a safe point, so it is looked up again
// after every argument that runs code.
//
// Frames: a native's or action's frame holds its plain arguments, then the
// arguments of each refinement (none when it is not used), and the entry
// gets the refinement positions. A function's frame holds its context's
// values in context order: arguments, each refinement's flag and arguments,
// /local's flag and the locals.
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/fixed_words.h"
#include "datatypes/frames.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/unwind.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "engine/eval_internal.h"
#include "engine/natives.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/interrupt.h"
#include "runtime/routines.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace vyr::eval {

namespace script = err_id::script;

namespace {

// How an argument is fetched.
enum class Fetch : uint8_t {
    evaluated,    // a plain word in an argument block
    unevaluated,  // a get-word: the value as it stands
    quoted,       // a lit-word: quoted, but parens and get-forms evaluate
};

// One argument or refinement of a compiled argument spec.
struct ArgEntry {
    bool refinement;
    Fetch fetch;      // argument: how it is fetched
    uint16_t nargs;   // refinement: its arguments, the entries right after it
    uint32_t slot;    // argument: its frame cell; refinement: a function's flag cell, a native's first argument cell
    uint32_t spec_at; // position of its word in the argument block (errors name it)
    uint32_t ordinal; // refinement: its number among the refinements
    uint32_t symbol;  // refinement: its canonical symbol
    Cell types;       // argument: the accepted types (a typeset)
    uint64_t accepts[2];  // the same types as one bit per type id, ready to test

    bool accepts_type(uint32_t t) const { return t < 128 && ((accepts[t >> 6] >> (t & 63)) & 1); }
};

// The head of a compiled argument spec; the entries follow it.
struct ArgSpec {
    uint32_t count;        // entries
    uint32_t local_slots;  // function!: cells from /local on (its flag and the locals)
    uint32_t refinements;
    uint32_t plain;        // 1 when every argument is evaluated (call_plain can take the call)
    // The entries from the first refinement on are refinements and their
    // arguments: a call that uses none of them pushes `refinement_cells`
    // cells for them (a function's flags false, every argument none).
    uint32_t first_refinement;
    uint32_t refinement_cells;
    const ArgEntry& entry(uint32_t i) const { return reinterpret_cast<const ArgEntry*>(this + 1)[i]; }
};

inline constexpr uint32_t max_refinements = 32;

// The refinement positions of a call that uses none.
struct NoRefinements {
    int32_t refs[max_refinements];
    constexpr NoRefinements() : refs() {
        for (int32_t& r : refs) r = -1;
    }
};
constexpr NoRefinements no_refinements;
inline constexpr uint32_t record_arg_spec = 1;  // record cell that caches the argument spec

uint32_t canonical(int32_t symbol) { return uint32_t(symbol_t::resolve_alias(symbol)); }

bool is_function_like(uint32_t t) { return t == type_function || t == type_routine; }

// ---- Building argument specs ---------------------------------------------------

// ORs the types an argument's type block names into the typeset.
void add_types(Cell& ts, const Cell& type_block) {
    uint32_t n = memory::series_length(type_block.w2);
    for (uint32_t i = type_block.w1; i < n; ++i) {
        Cell entry = *memory::cell_at(type_block.w2, i);
        if (type_of(entry) == type_word) entry = *word_t::get(entry);
        switch (type_of(entry)) {
            case type_datatype:
                typeset_t::set(ts, datatype_t::get(entry));
                break;
            case type_typeset:
                ts.w1 |= entry.w1;
                ts.w2 |= entry.w2;
                ts.w3 |= entry.w3;
                break;
            case vyr::type_block:  // a callback's own spec, which documents what it is given
                break;
            default:
                raise_error(err_cat::script, script::invalid_type_spec, memory::cell_at(type_block.w2, i));
        }
    }
}

Cell all_types() {
    Cell ts = typeset_t::make_cell();
    for (uint32_t t = 1; t < type_count && t < typeset_t::map_bits; ++t) typeset_t::set(ts, t);
    return ts;
}

// Builds the argument spec of a callable and answers it as a binary! cell
// (see ArgSpec).
Cell build_arg_spec(const Cell& callable) {
    bool fn_like = is_function_like(type_of(callable));
    NodeId spec = callable.w2;
    NodeId ctx = fn_like ? NodeId(callable.w1) : no_node;
    uint32_t n = memory::series_length(spec);
    std::vector<ArgEntry> out;
    ArgSpec head{};
    int32_t local_sym = int32_t(canonical(int32_t(fixed::ref_local.w2)));
    int32_t return_sym = int32_t(canonical(fixed::sym_return));
    uint32_t position = 0;          // natives: next argument cell
    int32_t open_refinement = -1;   // index in `out` of the refinement taking arguments
    int32_t pending_types = -1;     // index in `out` of the argument a type block would fill
    auto slot_of = [&](const Cell& word) -> uint32_t {
        if (!fn_like) return position++;
        int32_t i = context_t::find_word(ctx, int32_t(word.w2), true);
        return i < 0 ? 0 : uint32_t(i);
    };
    for (uint32_t i = 0; i < n; ++i) {
        Cell c = *memory::cell_at(spec, i);
        uint32_t t = type_of(c);
        if (t == type_block) {
            if (pending_types >= 0) {
                Cell& ts = out[uint32_t(pending_types)].types;
                ts = typeset_t::make_cell();
                add_types(ts, c);
            }
            pending_types = -1;
            continue;
        }
        if (t == type_string) continue;
        pending_types = -1;
        if (t == type_set_word) {
            if (int32_t(canonical(int32_t(c.w2))) != return_sym)
                raise_error(err_cat::script, script::bad_func_def, memory::cell_at(spec, i));
            continue;
        }
        if (t == type_refinement) {
            if (int32_t(canonical(int32_t(c.w2))) == local_sym) {
                head.local_slots = uint32_t(function_t::arity_to_refinement(spec, i, false));
                break;
            }
            if (head.refinements >= max_refinements) raise_error(err_cat::script, script::bad_func_def, &c);
            ArgEntry e{};
            e.refinement = true;
            e.slot = fn_like ? slot_of(c) : position;  // a native refinement has no cell of its own
            e.spec_at = i;
            e.ordinal = head.refinements++;
            e.symbol = canonical(int32_t(c.w2));
            open_refinement = int32_t(out.size());
            out.push_back(e);
            continue;
        }
        if (t != type_word && t != type_get_word && t != type_lit_word) continue;
        ArgEntry e{};
        e.fetch = t == type_get_word ? Fetch::unevaluated : t == type_lit_word ? Fetch::quoted : Fetch::evaluated;
        e.slot = slot_of(c);
        e.spec_at = i;
        e.types = all_types();
        pending_types = int32_t(out.size());
        out.push_back(e);
        if (open_refinement >= 0) out[uint32_t(open_refinement)].nargs++;
    }
    for (ArgEntry& e : out) {
        if (e.refinement) continue;
        for (uint32_t t = 0; t < 128; ++t)
            if (typeset_t::has(e.types, t)) e.accepts[t >> 6] |= uint64_t(1) << (t & 63);
    }
    head.count = uint32_t(out.size());
    head.first_refinement = head.count;
    for (uint32_t i = 0; i < head.count; ++i) {
        if (!out[i].refinement) continue;
        if (head.first_refinement == head.count) head.first_refinement = i;
        head.refinement_cells += (fn_like ? 1 : 0) + out[i].nargs;
    }
    head.plain = 1;
    for (const ArgEntry& e : out)
        if (!e.refinement && e.fetch != Fetch::evaluated) head.plain = 0;
    uint32_t bytes = uint32_t(sizeof(ArgSpec) + out.size() * sizeof(ArgEntry));
    NodeId node = memory::alloc_series(bytes, 1);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), &head, sizeof head);
    if (!out.empty()) std::memcpy(b->head_ptr() + sizeof head, out.data(), out.size() * sizeof(ArgEntry));
    b->tail = b->head + bytes;
    return Cell{type_binary, 0, node, 0};
}

// The compiled spec a cached cell holds (valid until the next safe point).
const ArgSpec& spec_at(const Cell& cached) {
    return *reinterpret_cast<const ArgSpec*>(memory::buffer_of(cached.w2)->head_ptr());
}

// The cached argument spec of a callable, built on first use.
Cell arg_spec_of(const Cell& callable) {
    Cell* cache = memory::cell_at(callable.w3, record_arg_spec);
    if (type_of(*cache) == type_binary) return *cache;
    Cell built = build_arg_spec(callable);
    *memory::cell_at(callable.w3, record_arg_spec) = built;
    return built;
}

// ---- Fetching --------------------------------------------------------------------

// What one call keeps: its cells held for the call (the
// callable, its compiled spec, the name, the path), and where its arguments
// come from.
struct Call {
    collector::Held held{4};
    detail::ArgSource& src;
    uint32_t flags;  // call_mode bits
    bool fn_like;
    int32_t refs[max_refinements];

    explicit Call(detail::ArgSource& s, uint32_t f) : src(s), flags(f), fn_like(false) {}
    Cell& callable() { return held[0]; }
    Cell& cached() { return held[1]; }
    Cell& name() { return held[2]; }
    Cell& path() { return held[3]; }
    // Valid until the next safe point: read it again after any evaluation.
    const ArgSpec& spec() { return spec_at(held[1]); }
};

// The word that names an entry in its argument block, for error messages.
Cell spec_word(const Cell& callable, const ArgSpec& spec, uint32_t entry) {
    return *memory::cell_at(callable.w2, spec.entry(entry).spec_at);
}
Cell spec_word(Call& c, uint32_t entry) { return spec_word(c.callable(), c.spec(), entry); }

[[noreturn]] void raise_expect_arg(const Cell& callable, const Cell& name_in, const ArgSpec& spec, uint32_t entry,
                                   uint32_t type) {
    Cell name = name_in;
    Cell datatype = datatype_t::value_of(type);
    Cell word = spec_word(callable, spec, entry);
    raise_error(err_cat::script, script::expect_arg, &name, &datatype, &word);
}
[[noreturn]] void raise_expect_arg(Call& c, uint32_t entry, uint32_t type) {
    raise_expect_arg(c.callable(), c.name(), c.spec(), entry, type);
}

void check_type(Call& c, uint32_t entry, const Cell& value) {
    uint32_t t = type_of(value);
    if (!c.spec().entry(entry).accepts_type(t)) raise_expect_arg(c, entry, t);
}

// An argument taken unevaluated or quoted from the code: pushes it.
Status fetch_literal(Cursor& at, Fetch how) {
    Cell v = at.value();
    ++at.pos;
    if (how == Fetch::quoted) {
        switch (type_of(v)) {
            case type_paren:
                return detail::eval_paren(v);
            case type_get_word:
                stack::push_copy(*word_t::get(v));
                return Status::ok;
            case type_get_path:
                return detail::eval_path(v, &at, type_get_path, nullptr);
            default:
                break;
        }
    }
    stack::push_copy(v);
    return Status::ok;
}

// Fetches the argument of one entry and pushes it, type checked.
// `no_infix`: the right operand of an infix call takes no operator itself.
Status fetch_one(Call& c, uint32_t entry, bool no_infix) {
    detail::ArgSource& src = c.src;
    if (src.cells) {
        if (src.count > 0) {
            stack::push_copy(*src.cells);
            ++src.cells;
            --src.count;
        } else {
            none_t::push();
        }
        check_type(c, entry, *stack::top_cell());
        return Status::ok;
    }
    Cursor& at = *src.at;
    Fetch how = c.spec().entry(entry).fetch;
    if (at.at_end()) {
        if (how == Fetch::quoted && c.spec().entry(entry).accepts_type(type_unset)) {
            unset_t::push();
            return Status::ok;
        }
        Cell name = c.name();
        Cell word = spec_word(c, entry);
        raise_error(err_cat::script, script::no_arg, &name, &word);
    }
    Status s;
    if (how != Fetch::evaluated) {
        s = fetch_literal(at, how);
    } else if (c.flags & (call_mode::values | call_mode::all)) {
        Cursor one(at.code, at.pos, at.pos + 1);
        ++at.pos;
        s = detail::eval_value(one, expr::no_infix);
    } else {
        s = detail::eval_value(at, no_infix ? expr::no_infix : 0);
    }
    if (s != Status::ok) return s;
    if (detail::tracing && how != Fetch::evaluated) {  // an evaluated argument was fetched as it was evaluated
        Cell code = at.code;
        if (Status t = trace::fire(event::fetch, &code, at.pos - 1, stack::top_cell(), nullptr); t != Status::ok)
            return t;
    }
    check_type(c, entry, *stack::top_cell());
    return Status::ok;
}

// Fetches the arguments of the refinement at `entry` into their frame cells
// from `first_cell` on.
Status fetch_refinement_args(Call& c, uint32_t entry, uint32_t first_cell) {
    uint32_t nargs = c.spec().entry(entry).nargs;
    for (uint32_t k = 0; k < nargs; ++k) {
        if (Status s = fetch_one(c, entry + 1 + k, false); s != Status::ok) return s;
        stack::arg_base()[first_cell + k] = *stack::top_cell();
        stack::pop_cells(1);
    }
    return Status::ok;
}

// The entry of the refinement with this symbol, or -1.
int32_t find_refinement(Call& c, int32_t symbol) {
    uint32_t sym = canonical(symbol);
    const ArgSpec& spec = c.spec();
    for (uint32_t i = 0; i < spec.count; ++i)
        if (spec.entry(i).refinement && spec.entry(i).symbol == sym) return int32_t(i);
    return -1;
}

// Marks a refinement used (`on`) or named but off: a function's flag cell,
// a native's refinement position. Answers the frame cell of its first
// argument.
uint32_t set_refinement(Call& c, uint32_t entry, bool on) {
    const ArgEntry& e = c.spec().entry(entry);
    if (c.fn_like) {
        stack::arg_base()[e.slot] = logic_t::value_of(on);
        return e.slot + 1;
    }
    if (on) c.refs[e.ordinal] = int32_t(e.slot);
    return e.slot;
}

// The main pass, in spec order: each argument is fetched; each refinement
// is marked unused with room for its arguments. With `infix` the left
// operand, already in the frame's first cell, is the first argument.
Status fetch_main(Call& c, bool infix) {
    uint32_t n = c.spec().count;
    bool first = true;
    for (uint32_t i = 0; i < n; ++i) {
        const ArgEntry& e = c.spec().entry(i);
        if (e.refinement) {
            c.refs[e.ordinal] = -1;
            if (c.fn_like) logic_t::push(false);
            for (uint32_t k = 0; k < e.nargs; ++k) none_t::push();
            i += e.nargs;
            continue;
        }
        if (first && infix) {
            stack::set_top(stack::arg_base() + 1);
            check_type(c, i, *stack::arg_base());
        } else if (Status s = fetch_one(c, i, infix); s != Status::ok) {
            return s;
        }
        first = false;
    }
    if (c.fn_like) function_t::push_initial_locals(int32_t(c.spec().local_slots));
    return Status::ok;
}

// The refinements named by the path after `path_index`, in path order.
Status fetch_path_refinements(Call& c, uint32_t path_index) {
    uint32_t used = 0;  // bit per ordinal
    for (uint32_t p = c.path().w1 + path_index; p < memory::series_length(c.path().w2); ++p) {
        Cell element = *memory::cell_at(c.path().w2, p);
        uint32_t et = type_of(element);
        bool on = true;
        if (et == type_get_word) {
            on = !logic_t::falsy(*word_t::get(element));
        } else if (et != type_word && et != type_refinement) {
            raise_error(err_cat::script, script::bad_refine, &element);
        }
        int32_t r = find_refinement(c, int32_t(element.w2));
        if (r < 0) {
            Cell name = c.name();
            raise_error(err_cat::script, script::no_refine, &name, &element);
        }
        uint32_t ordinal = c.spec().entry(uint32_t(r)).ordinal;
        if (used & (1u << ordinal)) {
            Cell path = c.path();
            raise_error(err_cat::script, script::dup_refine, &path);
        }
        used |= 1u << ordinal;
        uint32_t first_cell = set_refinement(c, uint32_t(r), on);
        if (!on && (c.flags & call_mode::safer)) continue;
        if (Status s = fetch_refinement_args(c, uint32_t(r), first_cell); s != Status::ok) return s;
        if (!on) {
            uint32_t nargs = c.spec().entry(uint32_t(r)).nargs;
            for (uint32_t k = 0; k < nargs; ++k) stack::arg_base()[first_cell + k] = none_t::value;
        }
    }
    return Status::ok;
}

// apply/all: each refinement's truth, then its arguments, follow in the block.
Status fetch_applied_refinements(Call& c) {
    Cursor& at = *c.src.at;
    for (uint32_t i = 0; i < c.spec().count; ++i) {
        if (!c.spec().entry(i).refinement) continue;
        uint32_t nargs = c.spec().entry(i).nargs;
        bool on = false;
        if (!at.at_end()) {
            Cursor one(at.code, at.pos, at.pos + 1);
            ++at.pos;
            if (Status s = detail::eval_value(one, expr::no_infix); s != Status::ok) return s;
            on = !logic_t::falsy(*stack::top_cell());
            stack::pop_cells(1);
        }
        uint32_t first_cell = set_refinement(c, i, on);
        for (uint32_t k = 0; k < nargs; ++k) {
            if (at.at_end()) break;
            if (!on && (c.flags & call_mode::safer)) {
                ++at.pos;
                continue;
            }
            if (Status s = fetch_one(c, i + 1 + k, false); s != Status::ok) return s;
            stack::arg_base()[first_cell + k] = on ? *stack::top_cell() : none_t::value;
            stack::pop_cells(1);
        }
        i += nargs;
    }
    return Status::ok;
}

// ---- Running a callable whose frame is open and filled --------------------------

// A function's body: its context's values are the frame's cells; `return`
// and `exit` land in this frame (the return-target bit). `callable` and
// `name` are rooted cells.
Status run_function_body(const Cell& callable, const Cell& name) {
    Cell fn = callable;
    context_t::set_stack_values(fn.w1, stack::arg_base());
    frames::set_return_target(true);
    bool saved_tracing = detail::tracing;
    if (fn.header & function_t::flag::no_trace) detail::tracing = false;
    Cell body = *memory::cell_at(fn.w3, function_t::record::body);
    Status s = Status::ok;
    if (type_of(body) == type_block) {
        // A library function's body has no prolog or epilog: it runs as
        // compiled code, and the user sees its call and return only.
        bool user_body = !detail::library_block_q(body);
        if (detail::tracing) {
            // Each callback may move everything: the body is read again after it.
            if (Status t = trace::fire(event::call, nullptr, 0, &callable, &name); t != Status::ok) return t;
            body = *memory::cell_at(callable.w3, function_t::record::body);
            if (user_body) {
                if (Status t = trace::fire(event::prolog, &body, body.w1, &callable, &name); t != Status::ok)
                    return t;
                body = *memory::cell_at(callable.w3, function_t::record::body);
            }
        }
        s = eval_block(frames::markers().body, body, true);
        if (detail::tracing && user_body && (s == Status::ok || s == Status::return_ || s == Status::exit)) {
            Cell n = name;
            Cell b = *memory::cell_at(callable.w3, function_t::record::body);
            if (Status t = trace::fire(event::epilog, &b, b.w1, stack::arg_base(), &n); t != Status::ok) return t;
        }
    } else {
        stack::reset_with_result(unset_t::value);
    }
    detail::tracing = saved_tracing && detail::trace_requested;  // the body may have said `trace false`
    if (s == Status::return_ || s == Status::exit) s = Status::ok;
    if (s != Status::ok) return s;
    frames::set_return_target(false);
    return Status::ok;  // the caller's return event follows
}

// Natives, actions and routines are C++ code that may call back into Vyr (a
// make body, a comparator, a change handler): a break, return or throw
// leaving such a callback crosses the C++ frames as an Unwind and becomes a
// status again here, so it reaches its target as it would without them.
Status invoke(const Cell& callable_cell, const Cell& name, const int32_t* refs) {
    Cell callable = callable_cell;
    switch (type_of(callable)) {
        case type_native: {
            natives::NativeFn fn = natives::entry_of(callable);
            if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
            return unwind::catch_status([&] { return fn(false, refs); });
        }
        case type_action: {
            actions::GenericEntry fn = actions::entry(callable.w1 + 1);
            if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
            return unwind::catch_status([&] {
                fn(refs);
                stack::stack_keep();
                return Status::ok;
            });
        }
        case type_function:
            return run_function_body(callable_cell, name);
        case type_routine: {
            int32_t index = integer_t::get(*memory::cell_at(callable.w3, function_t::record::entry));
            uint32_t count = uint32_t(stack::top() - stack::arg_base());
            Status s = unwind::catch_status([&] { return routines::call(index, stack::arg_base(), count); });
            if (s == Status::ok) stack::stack_keep();
            return s;
        }
        default:
            runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
    }
}

// Fires `call` (the function's own body fires it), runs the callable and
// closes its frame; the result is the top cell.
Status run_and_close(const Cell& callable, const Cell& name, const int32_t* refs) {
    bool function = type_of(callable) == type_function;
    if (detail::tracing && !function) {
        if (Status s = trace::fire(event::call, nullptr, 0, &callable, &name); s != Status::ok) return s;
    }
    if (Status s = invoke(callable, name, refs); s != Status::ok) return s;
    if (function) frames::frame_close_function();
    else frames::frame_close();
    return Status::ok;
}
Status run_and_close(Call& c) { return run_and_close(c.callable(), c.name(), c.refs); }

// ---- The plain call ------------------------------------------------------------
// The most frequent call: from code, not through a path, not infix, no trace
// running, and every argument of the callable evaluated. It runs as
// call_callable would, in the same order, holding only the name: the
// callable's copy that marks the call's start on the argument stack is
// rooted there, and the compiled spec is read again from its record after
// each argument.

const ArgSpec& spec_of(const Cell& callable) {
    return spec_at(*memory::cell_at(callable.w3, record_arg_spec));
}

// Whether a native! is `if`, `unless` or `either`, whose chosen block
// run_conditional runs in place.
bool conditional_native(const Cell& native) { return native.w1 <= natives::slot_of(natives::no::either); }

// eval_block of a block whose value lands in the open frame's result slot,
// the stack cut to it; a block holding one quiet expression is computed
// without its run (quiet_block_value).
Status run_for_value(const Cell& block) {
    Cell quiet;
    if (detail::opens_quiet(block, false) && quiet_block_value(block, quiet)) {
        stack::reset_with_result(quiet);
        return Status::ok;
    }
    Status s = eval_block(frames::markers().body, block, true);
    if (s == Status::ok) stack::stack_keep();
    return s;
}

// `if`, `unless` and `either` as their natives run them (natives_control.cpp),
// without the native's call: the chosen block runs in the call's frame and
// its value lands in the frame's result slot. The block is evaluation code
// that hands back statuses, so no Unwind can cross it (the native's own
// catch has nothing to do here).
static_assert(natives::no::if_ == 1 && natives::no::unless == 2 && natives::no::either == 3);
Status run_conditional(const Cell& native) {
    const Cell* args = stack::arg_base();
    const Cell* body = &args[1];
    if (native.w1 == natives::slot_of(natives::no::either)) {
        if (!logic_t::arg_true_q()) body = &args[2];
    } else if (logic_t::arg_false_q() == (native.w1 == natives::slot_of(natives::no::if_))) {
        stack::reset_with_result(none_t::value);
        return Status::ok;
    }
    return run_for_value(*body);
}

// The branches of `if`, `unless` or `either` when they stand in the code as
// literal blocks with no operator after them, taken once the condition is
// fetched (the frame's only cell): their fetch could not fail or run
// anything, so they are read from the code instead of being pushed, and the
// chosen one runs as run_conditional would run it. Answers false, doing
// nothing, when the code holds anything else (the call then fetches them).
bool run_literal_branch(const Cell& native, Cursor& at, Status& status) {
    if (detail::tracing) return false;  // a trace the condition turned on sees each fetch
    detail::ConditionalForm form;
    detail::QuietCode code;
    const Cell* first = detail::peek_code(at, code);
    if (!first || !detail::conditional_form(native, form) || !detail::literal_branches(form, code, at.pos)) return false;
    uint32_t from = at.pos;
    at.pos += form.branches;
    // An unset condition raises here, as in the native.
    bool truth = form.either ? logic_t::arg_true_q() : !logic_t::arg_false_q();
    const Cell* chosen = detail::chosen_branch(form, code, from, truth);
    if (!chosen) {
        stack::reset_with_result(none_t::value);
        status = Status::ok;
        return true;
    }
    Cell body = *chosen;
    status = run_for_value(body);
    return true;
}

}  // namespace

bool detail::conditional_form(const Cell& native, ConditionalForm& form) {
    if (type_of(native) != type_native || !conditional_native(native)) return false;
    const Cell& cached = *memory::cell_at(native.w3, record_arg_spec);
    if (type_of(cached) != type_binary) return false;  // its first call compiles its arguments
    const ArgSpec& spec = spec_at(cached);
    form.either = native.w1 == natives::slot_of(natives::no::either);
    form.runs_when = native.w1 != natives::slot_of(natives::no::unless);
    form.branches = form.either ? 2 : 1;
    if (spec.count != form.branches + 1) return false;
    form.condition_types[0] = spec.entry(0).accepts[0];
    form.condition_types[1] = spec.entry(0).accepts[1];
    form.takes_blocks = true;
    for (uint32_t k = 0; k < form.branches; ++k) form.takes_blocks &= spec.entry(1 + k).accepts_type(type_block);
    return form.takes_blocks;
}

// conditional_form for the loop natives, which look once per loop: a
// function of its own, so that the evaluator's calls of conditional_form
// stay compiled as they are (inlined).
bool detail::loop_conditional_form(const Cell& native, ConditionalForm& form) {
    if (type_of(native) != type_native || !conditional_native(native)) return false;
    const Cell& cached = *memory::cell_at(native.w3, record_arg_spec);
    if (type_of(cached) != type_binary) return false;
    const ArgSpec& spec = spec_at(cached);
    form.either = native.w1 == natives::slot_of(natives::no::either);
    form.runs_when = native.w1 != natives::slot_of(natives::no::unless);
    form.branches = form.either ? 2 : 1;
    form.takes_blocks = spec.count == form.branches + 1;
    for (uint32_t k = 0; k < spec.count && form.takes_blocks; ++k) {
        const ArgEntry& e = spec.entry(k);
        if (k == 0) {
            form.condition_types[0] = e.accepts[0];
            form.condition_types[1] = e.accepts[1];
        } else {
            form.takes_blocks = e.accepts_type(type_block);
        }
    }
    return form.takes_blocks;
}

bool detail::quick_conditional(Cursor& at, QuietCode code, const Cell& first, Status& status) {
    const Cell* native = word_value_fast(first);
    ConditionalForm form;
    if (!native || !conditional_form(*native, form)) return false;
    uint32_t pos = at.pos + 1;
    Cell condition;
    if (!quiet_value(code, pos, condition) || !form.accepts(type_of(condition)) || !literal_branches(form, code, pos))
        return false;
    // From here on it is the native's own course, but for the frame that
    // nothing could see until a branch runs. A quiet value is never unset.
    const Cell* chosen = chosen_branch(form, code, pos, !logic_t::falsy(condition));
    at.pos = pos + form.branches;
    status = Status::ok;
    if (!chosen) {
        stack::push_copy(none_t::value);
        return true;
    }
    Cell branch = *chosen;
    Cell callable = *native;
    Cell name = first;
    // A branch of one number, or of one word holding a number (often a
    // function's argument), is that number: the quiet walk's answer
    // without its set-up, when no trace could ask to see it and no
    // interrupt waits.
    memory::SeriesBuffer* b = memory::buffer_of(branch.w2);
    const Cell* only = b->cells() + branch.w1;
    if (only + 1 == b->cells_end() && !trace_requested && !interrupt::requested()) {
        const Cell* v = type_of(*only) == type_word ? word_value_fast(*only) : only;
        if (v && number_type(type_of(*v))) {
            stack::push_copy(*v);
            return true;
        }
    }
    // The quiet statements that open the branch are done in place; what
    // follows them runs from there, in the native's frame. A branch that
    // opens with anything but a word, a set-word or a number has none.
    Cell last;
    uint32_t lead = only < b->cells_end() ? type_of(*only) : type_none;
    bool may_open_quiet = lead == type_word || lead == type_set_word || number_type(lead);
    uint32_t from = may_open_quiet ? quiet_block_run(branch, last) : branch.w1;
    if (from == quiet_all) {
        stack::push_copy(last);
        return true;
    }
    branch.w1 = from;
    Cell* start = stack::push_copy(callable);  // where the result goes, as in call_plain
    frames::push_frame(name, frames::opener::interp_native);
    stack::push_copy(condition);
    // run_for_value, but for its quiet value: the walk just refused the
    // branch's first statement, so the branch is no quiet expression.
    if (status = eval_block(frames::markers().body, branch, true); status != Status::ok) return true;
    frames::frame_close();
    Cell result = *stack::top_cell();
    *start = result;
    stack::set_top(start + 1);
    return true;
}

namespace {

// run_and_close without a trace running, for a native!, action! or
// function!: the same steps, with a function's body run in place.
Status run_plainly(const Cell& callable, const int32_t* refs) {
    switch (type_of(callable)) {
        case type_native: {
            if (conditional_native(callable)) {
                if (Status s = run_conditional(callable); s != Status::ok) return s;
                break;
            }
            natives::NativeFn fn = natives::entry_of(callable);
            if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
            if (Status s = unwind::catch_status([&] { return fn(false, refs); }); s != Status::ok) return s;
            break;
        }
        case type_action: {
            actions::GenericEntry fn = actions::entry(callable.w1 + 1);
            if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
            if (Status s = unwind::catch_status([&] { fn(refs); }); s != Status::ok) return s;
            break;  // the close keeps the result slot alone
        }
        default: {  // function!
            Cell body = *memory::cell_at(callable.w3, function_t::record::body);
            context_t::context_cell(callable.w1)->w2 = stack::cell_index(stack::arg_base());
            frames::set_return_target(true);
            if (type_of(body) != type_block) {
                stack::reset_with_result(unset_t::value);
            } else if (Status s = eval_block(frames::markers().body, body, true);
                       s != Status::ok && s != Status::return_ && s != Status::exit) {
                return s;
            }
            // The frame is popped with its return-target bit: nothing reads a
            // popped frame's header.
            frames::frame_close_function();
            return Status::ok;
        }
    }
    frames::frame_close();
    return Status::ok;
}

// Pushes `cells` none cells, with one look at the stack's room (a push that
// overflows raises, so a short stack takes them one by one).
[[gnu::always_inline]] inline void push_nones(uint32_t cells) {
    Cell* c = stack::top();
    if (c + cells >= stack::detail::args_end) [[unlikely]] {
        for (; cells > 0; --cells) none_t::push();
        return;
    }
    for (Cell* end = c + cells; c < end; ++c) *c = none_t::value;
    stack::set_top(c);
}

// frame_open_function, then mark_interpreted, as one store.
[[gnu::noinline]] void open_function_frame(const Cell& word, NodeId context) {
    frames::push_frame_inline(word, frames::opener::interp_function, context,
                              context ? context_t::context_cell(context)->w2 : 0);
}

// `spec`: the callable's compiled argument spec, read just before; it never
// changes, so its address holds until a collection cycle moves it.
[[gnu::noinline]] Status call_plain(const Cell& callable_in, Cursor& at, const Cell& name_in, const ArgSpec* spec) {
    uint32_t moves = collector::moves();
    Cell* start = stack::push_copy(callable_in);  // marks where the call's result goes
    const Cell& callable = *start;
    bool function = type_of(callable) == type_function;
    const Cell& name_word = type_of(name_in) == type_word ? name_in : frames::markers().anon;
    if (function) {
        open_function_frame(name_word, callable.w1);
    } else {
        frames::push_frame_inline(name_word, frames::opener::interp_native);
    }
    // The frame keeps the name from here on (the collector follows it).
    const frames::Frame* frame = frames::top_frame();
    auto name_of = [frame] { return Cell{type_word, frame->word_context, frame->symbol, frame->word_index}; };
    collector::safe_point();
    // The result takes the callable's place; a trace turned on during the
    // call sees it return (the closed frame's record is intact until the next
    // push).
    auto answer = [&]() __attribute__((always_inline)) -> Status {
        Cell result = *stack::top_cell();
        *start = result;
        stack::set_top(start + 1);
        if (!detail::tracing) [[likely]] return Status::ok;
        Cell name = name_of();
        Cell code = at.code;
        return trace::fire(event::return_, &code, at.pos, start, &name);
    };
    const int32_t* refs = no_refinements.refs;
    if (collector::moves() != moves) {
        spec = &spec_of(callable);
        moves = collector::moves();
    }
    uint32_t n = spec->first_refinement;
    bool conditional = !function && type_of(callable) == type_native && conditional_native(callable);
    // The code's cells, looked up once: an argument pushed as it stands runs
    // nothing and allocates nothing, so they hold until one is evaluated.
    detail::QuietCode code;
    const Cell* next = detail::peek_code(at, code);
    for (uint32_t i = 0; i < n; ++i) {
        if (i == 1 && conditional) {
            Status s;
            if (run_literal_branch(callable, at, s)) {
                if (s != Status::ok) return s;
                frames::frame_close();
                return answer();
            }
        }
        if (!next) {
            Cell word = spec_word(callable, *spec, i);
            Cell named = name_of();
            raise_error(err_cat::script, script::no_arg, &named, &word);
        }
        if (detail::push_inert(at, code, next)) {
            next = at.pos < code.end ? code.cells + at.pos : nullptr;
        } else {
            if (Status s = detail::eval_value(at, 0); s != Status::ok) return s;
            if (detail::tracing) {
                Cell code = at.code;
                if (Status t = trace::fire(event::fetch, &code, at.pos - 1, stack::top_cell(), nullptr); t != Status::ok)
                    return t;
            }
            if (collector::moves() != moves) {
                spec = &spec_of(callable);
                moves = collector::moves();
            }
            next = detail::peek_code(at, code);
        }
        uint32_t t = type_of(*stack::top_cell());
        if (!spec->entry(i).accepts_type(t)) raise_expect_arg(callable, name_of(), *spec, i, t);
    }
    // Every refinement is off: a native's arguments of refinements are none;
    // a function's refinement flags false, their arguments none.
    if (uint32_t cells = spec->refinement_cells) {
        if (function) {
            for (uint32_t i = n; i < spec->count; i += 1 + spec->entry(i).nargs) {
                logic_t::push(false);
                for (uint32_t k = spec->entry(i).nargs; k > 0; --k) none_t::push();
            }
        } else {
            push_nones(cells);
        }
    }
    if (function) function_t::push_initial_locals(int32_t(spec->local_slots));
    if (detail::tracing) [[unlikely]] {
        collector::Held name(name_of());
        if (Status s = run_and_close(callable, name[0], refs); s != Status::ok) return s;
        Cell result = *stack::top_cell();
        *start = result;
        stack::set_top(start + 1);
        Cell code = at.code;
        return trace::fire(event::return_, &code, at.pos, start, &name[0]);
    }
    if (Status s = run_plainly(callable, refs); s != Status::ok) return s;
    return answer();
}

}  // namespace

// ---- Calls ------------------------------------------------------------------------

namespace {

// Every call but the plain one (see call_plain).
[[gnu::noinline]] Status call_general(const Cell& callable, detail::ArgSource& src, const Cell& name_in,
                                      const Cell* path, uint32_t path_index, uint32_t call_flags, bool infix) {
    using namespace detail;
    Call c(src, call_flags);
    c.callable() = callable;
    c.name() = type_of(name_in) == type_word ? name_in : frames::markers().anon;
    c.path() = path ? *path : none_t::value;
    c.cached() = none_t::value;
    collector::safe_point();  // everything the call holds is rooted by now
    c.cached() = arg_spec_of(c.callable());
    uint32_t t = type_of(c.callable());
    c.fn_like = is_function_like(t);
    Cell* start;
    if (infix) {
        start = stack::top() - 1;  // the left operand, the top cell
    } else {
        start = stack::top();
        stack::push_copy(c.callable());  // marks where the call's result goes
    }
    // The events name the call as the code did: by its path, its word, or
    // for an anonymous call by the callable itself.
    bool named = type_of(name_in) == type_word && name_in.w2 != frames::markers().anon.w2;
    const Cell& ref = type_of(c.path()) != type_none ? c.path() : named ? c.name() : c.callable();
    if (tracing && src.at) {  // above the left operand or the callable
        Cell code = src.at->code;
        if (Status s = trace::fire(event::open, &code, src.at->pos, &ref, nullptr); s != Status::ok) return s;
    }
    if (infix) stack::set_top(start);
    if (t == type_function) {
        frames::frame_open_function(c.name(), c.callable().w1);
        frames::mark_interpreted();
    } else {
        frames::push_frame(c.name(), frames::opener::interp_native);
    }
    if (infix) stack::set_top(start + 1);  // the left operand is the frame's first cell
    if (Status s = fetch_main(c, infix); s != Status::ok) return s;
    if (type_of(c.path()) != type_none) {
        if (Status s = fetch_path_refinements(c, path_index); s != Status::ok) return s;
    }
    if ((call_flags & call_mode::all) && src.at) {
        if (Status s = fetch_applied_refinements(c); s != Status::ok) return s;
    }
    if (Status s = run_and_close(c.callable(), ref, c.refs); s != Status::ok) return s;
    // The result sits in the frame's first cell, just above `start` unless
    // the call was infix; it takes `start`'s place.
    Cell result = *stack::top_cell();
    *start = result;
    stack::set_top(start + 1);
    if (tracing) {
        Cell code = src.at ? src.at->code : none_t::value;
        return trace::fire(event::return_, src.at ? &code : nullptr, src.at ? src.at->pos : 0, start, &ref);
    }
    return Status::ok;
}

}  // namespace

namespace {

// A call from code whose callable's arguments are not compiled yet (its
// first call): compiles them and takes the plain or the general course.
[[gnu::noinline]] Status call_uncompiled(const Cell& callable, detail::ArgSource& src, const Cell& name_in) {
    if (spec_at(arg_spec_of(callable)).plain) return call_plain(callable, *src.at, name_in, &spec_of(callable));
    return call_general(callable, src, name_in, nullptr, 0, call_mode::code, false);
}

}  // namespace

namespace {

// call_from_code, inlined where statements call.
[[gnu::always_inline]] inline Status call_code(const Cell& callable, Cursor& at, const Cell& name) {
    using namespace detail;
    if (!tracing) {
        uint32_t t = type_of(callable);
        if (t == type_native || t == type_action || t == type_function) {
            const Cell& cached = *memory::cell_at(callable.w3, record_arg_spec);
            ArgSource src{&at};
            if (type_of(cached) != type_binary) [[unlikely]] return call_uncompiled(callable, src, name);
            const ArgSpec& spec = spec_at(cached);
            if (spec.plain) return call_plain(callable, at, name, &spec);
        }
    }
    ArgSource src{&at};
    return call_general(callable, src, name, nullptr, 0, call_mode::code, false);
}

}  // namespace

Status detail::call_from_code(const Cell& callable, Cursor& at, const Cell& name) {
    return call_code(callable, at, name);
}

[[gnu::noinline]] Status detail::call_statement(Cursor& at, const Cell& callable_in, const Cell& name_in) {
    if (collector::detail::gate) return eval_value(at, 0);
    Cell* start = stack::top();
    Cell callable = callable_in;
    Cell name = name_in;
    ++at.pos;
    if (Status s = call_code(callable, at, name); s != Status::ok) return s;
    return operator_at(at.peek()) ? infix_after(at, start) : Status::ok;
}

Status detail::call_callable(const Cell& callable, ArgSource& src, const Cell& name_in, const Cell* path,
                             uint32_t path_index, uint32_t call_flags, bool infix) {
    if (src.at && !path && !infix && call_flags == call_mode::code && !tracing) {
        uint32_t t = type_of(callable);
        if (t == type_native || t == type_action || t == type_function) {
            const Cell& cached = *memory::cell_at(callable.w3, record_arg_spec);
            if (type_of(cached) != type_binary) [[unlikely]] return call_uncompiled(callable, src, name_in);
            const ArgSpec& spec = spec_at(cached);
            if (spec.plain) return call_plain(callable, *src.at, name_in, &spec);
        }
    }
    return call_general(callable, src, name_in, path, path_index, call_flags, infix);
}

Status detail::finish_operator(const Cell& callable, const Cell& name) {
    ArgSource none_left;
    Call c(none_left, call_mode::code);
    c.callable() = callable;
    c.name() = type_of(name) == type_word ? name : frames::markers().anon;
    c.path() = none_t::value;
    c.cached() = arg_spec_of(c.callable());
    check_type(c, 0, stack::arg_base()[0]);
    check_type(c, 1, stack::arg_base()[1]);
    return run_and_close(c);
}

Status call_value(const Cell& fn, Cell* args, uint32_t count, const Cell& name, Cell& answer, Cell* args_after) {
    uint32_t t = type_of(fn);
    if (t == type_op) return call_value(detail::unwrap_op(fn), args, count, name, answer, args_after);
    if (t != type_native && t != type_action && t != type_function && t != type_routine)
        raise_error(err_cat::script, script::invalid_arg, &fn);
    stack::Mark mark;
    Cell* start = stack::top();
    detail::ArgSource src;
    src.cells = args;
    src.count = count;
    Status s = detail::call_callable(fn, src, name, nullptr, 0, call_mode::code, false);
    if (s != Status::ok) return s;
    answer = *stack::top_cell();
    // The frame's cells stay in place above the answer until the next push:
    // the callable's copy at `start`, the arguments from start + 1.
    if (args_after)
        for (uint32_t i = 1; i < count; ++i) args_after[i] = start[1 + i];
    mark.restore();
    return Status::ok;
}

}  // namespace vyr::eval
