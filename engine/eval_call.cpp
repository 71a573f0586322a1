// Calling callables: argument specs, argument fetching, and the calls of
// native!, action!, function! and routine! values.
//
// The argument spec of a callable is built from its spec block on its first
// call and cached in its record (cell 1 of the record block), so a call reads
// a flat list instead of walking its spec block. Its layout, two cells per
// entry:
//   argument     A: typeset! (the accepted types; fetch mode in bits 20-21)
//                B: integer! with w1 the frame slot, w2 the position of the
//                   argument word in its spec block
//   refinement   A: integer! with w1 its ordinal, w2 its canonical symbol,
//                   w3 the number of its arguments (an integer!, not a
//                   refinement!: the collector would read w1 as a context)
//                B: integer! with w1 the frame slot of its first cell (a
//                   function's refinement slot; a native's first argument),
//                   w2 the refinement's position in its spec block
// and one last cell: integer! with w1 the local slots (from /local on),
// w2 the frame cells a call fills, w3 the number of refinements.
//
// Frames: a native's or action's frame holds its plain arguments, then the
// arguments of each refinement (none when it is not used), and the entry
// gets the refinement positions. A function's frame holds its context's
// values in context order: arguments, each refinement's flag and arguments,
// /local's flag and the locals.
#include <cstring>
#include <type_traits>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "engine/eval_internal.h"
#include "datatypes/frames.h"
#include "engine/natives.h"
#include "runtime/routines.h"
#include "runtime/stack.h"
#include "datatypes/unwind.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"

namespace vyr::eval {

namespace script = err_id::script;

namespace {

// Fetch modes of an argument (typeset header bits 20-21).
namespace mode {
inline constexpr uint32_t evaluated = 0;    // a plain word in a spec block
inline constexpr uint32_t unevaluated = 1;  // a get-word: the value as it stands
inline constexpr uint32_t quoted = 2;       // a lit-word: quoted, but parens and get-forms evaluate
inline constexpr uint32_t shift = 20;
inline constexpr uint32_t mask = 0x300000;
}  // namespace mode

inline constexpr uint32_t max_refinements = 32;
inline constexpr uint32_t refinement_entry = type_integer;  // type of a refinement's first cell
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

// Builds the argument spec block of a callable (see the layout above).
Cell build_arg_spec(const Cell& callable) {
    bool fn_like = is_function_like(type_of(callable));
    NodeId spec = callable.w2;
    NodeId ctx = fn_like ? NodeId(callable.w1) : no_node;
    uint32_t n = memory::series_length(spec);
    Cell out{type_block, 0, memory::alloc_cells(2 * n + 2), 0};
    collector::CellRoot keep(&out);
    auto append = [&](const Cell& c) { *series::append_cell(out) = c; };

    int32_t local_sym = int32_t(canonical(int32_t(fixed::ref_local.w2)));
    int32_t return_sym = int32_t(canonical(fixed::sym_return));
    uint32_t position = 0;        // native frames: next argument cell
    uint32_t refinements = 0;
    uint32_t local_slots = 0;
    int32_t open_refinement = -1;  // index in `out` of the refinement taking arguments
    int32_t pending_types = -1;   // index in `out` of the typeset a type block would fill
    bool after_return = false;
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
                Cell* ts = memory::cell_at(out.w2, uint32_t(pending_types));
                Cell fresh = typeset_t::make_cell();
                fresh.header = ts->header;
                *ts = fresh;
                add_types(*ts, c);
                ts = memory::cell_at(out.w2, uint32_t(pending_types));
            }
            pending_types = -1;
            after_return = false;
            continue;
        }
        if (t == type_string) continue;
        pending_types = -1;
        if (after_return && t != type_block) after_return = false;
        if (t == type_set_word) {
            if (int32_t(canonical(int32_t(c.w2))) != return_sym)
                raise_error(err_cat::script, script::bad_func_def, memory::cell_at(spec, i));
            after_return = true;
            continue;
        }
        if (t == type_refinement) {
            if (int32_t(canonical(int32_t(c.w2))) == local_sym) {
                local_slots = uint32_t(function_t::arity_to_refinement(spec, i, false));
                break;
            }
            if (refinements >= max_refinements) raise_error(err_cat::script, script::bad_func_def, &c);
            uint32_t slot = fn_like ? slot_of(c) : position;  // a native refinement has no cell of its own
            open_refinement = int32_t(memory::series_length(out.w2));
            append(Cell{refinement_entry, refinements++, canonical(int32_t(c.w2)), 0});
            append(Cell{type_integer, slot, i, 0});
            continue;
        }
        if (t != type_word && t != type_get_word && t != type_lit_word) continue;
        uint32_t m = t == type_get_word ? mode::unevaluated : t == type_lit_word ? mode::quoted : mode::evaluated;
        Cell ts = all_types();
        ts.header = type_typeset | (m << mode::shift);
        pending_types = int32_t(memory::series_length(out.w2));
        append(ts);
        append(Cell{type_integer, slot_of(c), i, 0});
        if (open_refinement >= 0) memory::cell_at(out.w2, uint32_t(open_refinement))->w3++;
    }
    uint32_t frame_cells = fn_like ? context_t::word_count(ctx) : position;
    append(Cell{type_integer, local_slots, frame_cells, refinements});
    return out;
}

// The cached argument spec of a callable, built on first use.
Cell arg_spec_of(const Cell& callable) {
    Cell* cache = memory::cell_at(callable.w3, record_arg_spec);
    if (type_of(*cache) == type_block) return *cache;
    Cell built = build_arg_spec(callable);
    *memory::cell_at(callable.w3, record_arg_spec) = built;
    return built;
}

// ---- Fetching --------------------------------------------------------------------

// What one call keeps rooted while its arguments are fetched.
struct CallState {
    Cell held[4];  // the callable, its argument spec, the name, the path
    collector::CellRoot root{held, 4};
    Cell& callable() { return held[0]; }
    Cell& spec() { return held[1]; }
    Cell& name() { return held[2]; }
    Cell& path() { return held[3]; }
    const Cell& entry(uint32_t i) { return *memory::cell_at(held[1].w2, i); }
    uint32_t entries() { return memory::series_length(held[1].w2) - 1; }  // without the summary
    const Cell& summary() { return *memory::cell_at(held[1].w2, entries()); }
};

// The word that names an entry in its spec block, for error messages.
Cell spec_word(CallState& st, uint32_t entry_index) {
    uint32_t i = st.entry(entry_index + 1).w2;
    Cell w = *memory::cell_at(st.callable().w2, i);
    return w;
}

[[noreturn]] void raise_expect_arg(CallState& st, uint32_t entry_index, uint32_t type) {
    Cell name = st.name();
    Cell datatype = datatype_t::value_of(type);
    Cell word = spec_word(st, entry_index);
    raise_error(err_cat::script, script::expect_arg, &name, &datatype, &word);
}

void check_type(CallState& st, uint32_t entry_index, const Cell& value) {
    uint32_t t = type_of(value);
    if (!typeset_t::has(st.entry(entry_index), t)) raise_expect_arg(st, entry_index, t);
}

// Fetches one argument per its mode and pushes it (type checked).
Status fetch_one(CallState& st, detail::ArgSource& src, uint32_t entry_index, bool infix, uint32_t call_flags) {
    const Cell& ts = st.entry(entry_index);
    uint32_t m = (ts.header & mode::mask) >> mode::shift;
    if (src.cells) {
        if (src.count > 0) {
            stack::push_copy(*src.cells);
            ++src.cells;
            --src.count;
        } else {
            none_t::push();
        }
        check_type(st, entry_index, *stack::top_cell());
        return Status::ok;
    }
    Cursor& at = *src.at;
    if (at.at_end()) {
        if (m == mode::quoted && typeset_t::has(ts, type_unset)) {
            unset_t::push();
            return Status::ok;
        }
        Cell name = st.name();
        Cell word = spec_word(st, entry_index);
        raise_error(err_cat::script, script::no_arg, &name, &word);
    }
    if (m == mode::evaluated) {
        if (call_flags & (call_mode::values | call_mode::all)) {
            Cursor one(at.code, at.pos, at.pos + 1);
            ++at.pos;
            if (Status s = detail::eval_value(one, true, false); s != Status::ok) return s;
        } else if (Status s = detail::eval_value(at, infix, false); s != Status::ok) {
            return s;
        }
    } else {
        Cell v = at.value();
        ++at.pos;
        if (m == mode::quoted && type_of(v) == type_paren) {
            frames::push_frame(frames::markers().body, frames::opener::interp_native);
            if (Status s = eval_block(frames::markers().body, v, true); s != Status::ok) return s;
            frames::frame_close();
        } else if (m == mode::quoted && type_of(v) == type_get_word) {
            stack::push_copy(*word_t::get(v));
        } else if (m == mode::quoted && type_of(v) == type_get_path) {
            if (Status s = detail::eval_path(v, &at, type_get_path, nullptr); s != Status::ok) return s;
        } else {
            stack::push_copy(v);
        }
    }
    if (detail::tracing) {
        Cell code = at.code;
        if (Status s = trace::fire(event::fetch, &code, at.pos - 1, stack::top_cell(), nullptr); s != Status::ok)
            return s;
    }
    check_type(st, entry_index, *stack::top_cell());
    return Status::ok;
}

// Fetches a refinement's arguments into their frame cells.
Status fetch_refinement_args(CallState& st, detail::ArgSource& src, uint32_t entry_index, uint32_t first_cell,
                             uint32_t call_flags) {
    uint32_t nargs = st.entry(entry_index).w3;
    for (uint32_t k = 0; k < nargs; ++k) {
        uint32_t arg_entry = entry_index + 2 * (k + 1);
        if (Status s = fetch_one(st, src, arg_entry, false, call_flags); s != Status::ok) return s;
        stack::arg_base()[first_cell + k] = *stack::top_cell();
        stack::pop_cells(1);
    }
    return Status::ok;
}

// The entry index of the refinement with this symbol, or -1.
int32_t find_refinement(CallState& st, int32_t symbol) {
    uint32_t sym = canonical(symbol);
    uint32_t n = st.entries();
    for (uint32_t i = 0; i < n; i += 2) {
        const Cell& e = st.entry(i);
        if (type_of(e) == refinement_entry && e.w2 == sym) return int32_t(i);
    }
    return -1;
}

// Gathers the arguments: the main pass, then the refinements the path names.
Status fetch_arguments(CallState& st, detail::ArgSource& src, uint32_t path_index, uint32_t call_flags, bool infix,
                       int32_t* refs) {
    bool fn_like = is_function_like(type_of(st.callable()));
    uint32_t n = st.entries();
    bool first = true;
    for (uint32_t i = 0; i < n; i += 2) {
        const Cell& e = st.entry(i);
        if (type_of(e) == refinement_entry) {
            refs[e.w1] = -1;
            if (fn_like) logic_t::push(false);
            for (uint32_t k = 0; k < e.w3; ++k) none_t::push();
            i += 2 * e.w3;
            continue;
        }
        if (first && infix) {
            stack::set_top(stack::arg_base() + 1);  // the left operand is the first argument
            check_type(st, i, *stack::arg_base());
        } else if (Status s = fetch_one(st, src, i, infix, call_flags); s != Status::ok) {
            return s;
        }
        first = false;
    }
    if (fn_like) function_t::push_initial_locals(int32_t(st.summary().w1));

    // Refinements named by the path, in path order.
    if (type_of(st.path()) != type_none) {
        uint32_t used = 0;  // bit per ordinal
        uint32_t start = st.path().w1 + path_index;
        for (uint32_t p = start; p < memory::series_length(st.path().w2); ++p) {
            Cell element = *memory::cell_at(st.path().w2, p);
            uint32_t et = type_of(element);
            bool on = true;
            if (et == type_get_word) {
                on = !logic_t::falsy(*word_t::get(element));
            } else if (et != type_word && et != type_refinement) {
                raise_error(err_cat::script, script::bad_refine, &element);
            }
            int32_t r = find_refinement(st, int32_t(element.w2));
            if (r < 0) {
                Cell name = st.name();
                raise_error(err_cat::script, script::no_refine, &name, &element);
            }
            const Cell e = st.entry(uint32_t(r));
            if (used & (1u << e.w1)) {
                Cell path = st.path();
                raise_error(err_cat::script, script::dup_refine, &path);
            }
            used |= 1u << e.w1;
            uint32_t slot = st.entry(uint32_t(r) + 1).w1;
            uint32_t first_cell = slot;
            if (fn_like) {
                stack::arg_base()[slot] = logic_t::value_of(on);
                first_cell = slot + 1;
            } else if (on) {
                refs[e.w1] = int32_t(slot);
            }
            if (!on && (call_flags & call_mode::safer)) continue;
            if (Status s = fetch_refinement_args(st, src, uint32_t(r), first_cell, call_flags); s != Status::ok)
                return s;
            if (!on) {
                for (uint32_t k = 0; k < e.w3; ++k) stack::arg_base()[first_cell + k] = none_t::value;
            }
        }
    }
    // apply/all: each refinement's truth and arguments follow in the block.
    if ((call_flags & call_mode::all) && src.at) {
        for (uint32_t i = 0; i < n; i += 2) {
            const Cell& e = st.entry(i);
            if (type_of(e) != refinement_entry) continue;
            uint32_t ordinal = e.w1, nargs = e.w3;
            uint32_t slot = st.entry(i + 1).w1;
            bool on = false;
            if (!src.at->at_end()) {
                Cursor one(src.at->code, src.at->pos, src.at->pos + 1);
                ++src.at->pos;
                if (Status s = detail::eval_value(one, true, false); s != Status::ok) return s;
                on = !logic_t::falsy(*stack::top_cell());
                stack::pop_cells(1);
            }
            uint32_t first_cell = slot;
            if (fn_like) {
                stack::arg_base()[slot] = logic_t::value_of(on);
                first_cell = slot + 1;
            } else if (on) {
                refs[ordinal] = int32_t(slot);
            }
            for (uint32_t k = 0; k < nargs; ++k) {
                if (src.at->at_end()) break;
                if (!on && (call_flags & call_mode::safer)) {
                    ++src.at->pos;
                    continue;
                }
                if (Status s = fetch_one(st, src, i + 2 * (k + 1), false, call_flags); s != Status::ok) return s;
                stack::arg_base()[first_cell + k] = on ? *stack::top_cell() : none_t::value;
                stack::pop_cells(1);
            }
            i += 2 * nargs;
        }
    }
    return Status::ok;
}

// ---- Running a callable whose frame is open and filled --------------------------

// A function's body: its context's values are the frame's cells; `return`
// and `exit` land in this frame (the return-target bit).
Status run_function_body(CallState& st) {
    Cell fn = st.callable();
    context_t::set_stack_values(fn.w1, stack::arg_base());
    frames::set_return_target(true);
    bool saved_tracing = detail::tracing;
    if (fn.header & function_t::flag::no_trace) detail::tracing = false;
    Cell body = *memory::cell_at(fn.w3, function_t::record::body);
    Status s = Status::ok;
    if (type_of(body) == type_block) {
        if (detail::tracing) {
            Cell name = st.name();
            if (Status t = trace::fire(event::call, nullptr, 0, &st.callable(), &name); t != Status::ok) return t;
            if (Status t = trace::fire(event::prolog, &body, body.w1, &st.callable(), &name); t != Status::ok) return t;
            body = *memory::cell_at(st.callable().w3, function_t::record::body);  // the callback may have moved it
        }
        s = eval_block(frames::markers().body, body, true);
        if (detail::tracing && (s == Status::ok || s == Status::return_ || s == Status::exit)) {
            Cell name = st.name();
            Cell b = *memory::cell_at(st.callable().w3, function_t::record::body);
            if (Status t = trace::fire(event::epilog, &b, b.w1, stack::arg_base(), &name); t != Status::ok) return t;
        }
    } else {
        stack::reset_with_result(unset_t::value);
    }
    detail::tracing = saved_tracing;
    if (s == Status::return_ || s == Status::exit) s = Status::ok;
    if (s != Status::ok) return s;
    frames::set_return_target(false);
    if (detail::tracing) {
        Cell name = st.name();
        return trace::fire(event::return_, nullptr, 0, stack::arg_base(), &name);
    }
    return Status::ok;
}

// Natives, actions and routines are C++ code that may call back into Vyr (a
// spec block, a comparator, a change handler): a break, return or throw
// leaving such a callback crosses the C++ frames as an Unwind and becomes a
// status again here, so it reaches its target as it would without them.
Status invoke(CallState& st, const int32_t* refs) {
    Cell c = st.callable();
    switch (type_of(c)) {
        case type_native: {
            natives::NativeFn fn = natives::entry_of(c);
            if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
            return unwind::catch_status([&] { return fn(false, refs); });
        }
        case type_action: {
            actions::GenericEntry fn = actions::entry(c.w1 + 1);
            if (!fn) raise_error(err_cat::internal, err_id::internal::not_done);
            return unwind::catch_status([&] {
                fn(refs);
                stack::stack_keep();
                return Status::ok;
            });
        }
        case type_function:
            return run_function_body(st);
        case type_routine: {
            int32_t index = integer_t::get(*memory::cell_at(c.w3, function_t::record::entry));
            uint32_t count = uint32_t(stack::top() - stack::arg_base());
            Status s = unwind::catch_status([&] { return routines::call(index, stack::arg_base(), count); });
            if (s == Status::ok) stack::stack_keep();
            return s;
        }
        default:
            runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
    }
}

// Fast paths of the arithmetic and comparison operators: two integer!
// operands, or two float! operands, answer without the generic dispatch.
// Answers false when the operation must take the general road (other types,
// integer overflow, float equality with its near-equality rule).
namespace native_index {
inline constexpr uint32_t equal_q = 25, not_equal_q = 26, strict_equal_q = 27, lesser_q = 28, greater_q = 29,
                          lesser_or_equal_q = 30, greater_or_equal_q = 31;
}

template <typename T>
bool fast_compare(uint32_t index, T x, T y, bool& out) {
    switch (index) {
        case native_index::lesser_q: out = x < y; return true;
        case native_index::greater_q: out = x > y; return true;
        case native_index::lesser_or_equal_q: out = x <= y; return true;
        case native_index::greater_or_equal_q: out = x >= y; return true;
        default: break;
    }
    if constexpr (std::is_integral_v<T>) {
        switch (index) {
            case native_index::equal_q:
            case native_index::strict_equal_q: out = x == y; return true;
            case native_index::not_equal_q: out = x != y; return true;
            default: break;
        }
    }
    return false;
}

bool fast_infix(const Cell& callable) {
    Cell* a = stack::arg_base();
    uint32_t ta = type_of(a[0]), tb = type_of(a[1]);
    if (ta != tb || (ta != type_integer && ta != type_float)) return false;
    if (type_of(callable) == type_native) {
        bool out;
        bool done = ta == type_integer
                        ? fast_compare(callable.w1 + 1, integer_t::get(a[0]), integer_t::get(a[1]), out)
                        : fast_compare(callable.w1 + 1, cell_float(a[0]), cell_float(a[1]), out);
        if (!done) return false;
        a[0] = logic_t::value_of(out);
        stack::stack_keep();
        return true;
    }
    if (type_of(callable) != type_action) return false;
    uint32_t slot = callable.w1 + 1;
    if (ta == type_float) {
        double x = cell_float(a[0]), y = cell_float(a[1]), r;
        switch (slot) {
            case registry::slot_add: r = x + y; break;
            case registry::slot_subtract: r = x - y; break;
            case registry::slot_multiply: r = x * y; break;
            default: return false;
        }
        Cell f{type_float, 0, 0, 0};
        set_cell_float(f, r);
        a[0] = f;
        stack::stack_keep();
        return true;
    }
    int64_t x = integer_t::get(a[0]), y = integer_t::get(a[1]), r;
    switch (slot) {
        case registry::slot_add: r = x + y; break;
        case registry::slot_subtract: r = x - y; break;
        case registry::slot_multiply: r = x * y; break;
        default: return false;
    }
    if (r != int64_t(int32_t(r))) return false;
    a[0] = Cell{type_integer, 0, uint32_t(int32_t(r)), 0};
    stack::stack_keep();
    return true;
}

}  // namespace

// ---- Calls ------------------------------------------------------------------------

Status detail::call_callable(const Cell& callable, ArgSource& src, const Cell& name_in, const Cell* path,
                             uint32_t path_index, uint32_t call_flags, bool infix) {
    CallState st;
    st.callable() = callable;
    st.name() = type_of(name_in) == type_word ? name_in : frames::markers().anon;
    st.path() = path ? *path : none_t::value;
    st.spec() = none_t::value;
    collector::safe_point();  // everything the call holds is rooted in `st` by now
    st.spec() = arg_spec_of(st.callable());
    uint32_t t = type_of(st.callable());
    Cell* start;
    if (infix) {
        start = stack::top() - 1;  // the left operand, the top cell
    } else {
        start = stack::top();
        stack::push_copy(st.callable());  // marks where the call's result goes
    }
    if (tracing && src.at) {  // above the left operand or the callable
        Cell code = src.at->code;
        if (Status s = trace::fire(event::open, &code, src.at->pos, &st.callable(), &st.name()); s != Status::ok)
            return s;
    }
    if (infix) stack::set_top(start);
    if (t == type_function) {
        frames::frame_open_function(st.name(), st.callable().w1);
        frames::mark_interpreted();
    } else {
        frames::push_frame(st.name(), frames::opener::interp_native);
    }
    if (infix) stack::push_copy(*start);  // the left operand is the frame's first cell
    int32_t refs[max_refinements];
    if (Status s = fetch_arguments(st, src, path_index, call_flags, infix, refs); s != Status::ok) return s;
    if (tracing && t != type_function) {
        if (Status s = trace::fire(event::call, nullptr, 0, &st.callable(), &st.name()); s != Status::ok) return s;
    }
    if (!(infix && fast_infix(st.callable()))) {
        if (Status s = invoke(st, refs); s != Status::ok) return s;
    }
    if (t == type_function) frames::frame_close_function();
    else frames::frame_close();
    // The result sits in the frame's first cell, just above `start` unless
    // the call was infix; it takes `start`'s place.
    Cell result = *stack::top_cell();
    *start = result;
    stack::set_top(start + 1);
    if (tracing && src.at) {
        Cell code = src.at->code;
        return trace::fire(event::return_, &code, src.at->pos, start, &st.name());
    }
    return Status::ok;
}

Status call_value(const Cell& fn, Cell* args, uint32_t count, NodeId object, const Cell& name, Cell& answer,
                  Cell* args_after) {
    (void)object;
    uint32_t t = type_of(fn);
    if (t == type_op) return call_value(detail::unwrap_op(fn), args, count, object, name, answer, args_after);
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
