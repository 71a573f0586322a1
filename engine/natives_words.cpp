// Word, context and object natives: get, set, unset, value?, type?, bind,
// in, context?, construct, extend, as, new-line, new-line?; and the
// word-setting helpers that foreach shares (natives_words.h).
//
// Only get and set of a path evaluate code (through the evaluator's path
// walk); set and unset of an object's field may run its on-change* handler.
// Both read their argument cells again by position afterwards.
#include "engine/natives_words.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "runtime/registry.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr {

namespace script = err_id::script;
using natives::answer;
using natives::raise_invalid_arg;
using natives::raise_not_done;
using natives::used;

namespace {

// ---- Type groups ------------------------------------------------------------------

// The kinds `as` converts between: lists share a cell buffer, texts a
// text buffer, so a value of one kind can be read as another of its kind.
bool list_kind_q(uint32_t t) { return t == type_block || t == type_paren || any_path_q(t); }
bool text_kind_q(uint32_t t) {
    return t == type_string || t == type_file || t == type_url || t == type_tag || t == type_email || t == type_ref;
}
// Values that give one value per word to set-words-from-values.
bool per_word_values_q(uint32_t t) {
    return t == type_block || t == type_paren || t == type_hash || t == type_map || any_path_q(t);
}

// Cell i of a block value counted from its head, read where it lies now.
Cell element(const Cell& block, uint32_t i) { return *memory::cell_at(block.w2, i); }
uint32_t tail_of(const Cell& block) { return memory::series_length(block.w2); }

// The i-th value (from 1) of a series value, none past its tail. A map!
// gives the cells of its live pairs in order, its keys as word! (as foreach
// gives them).
Cell pick_value(const Cell& series, int32_t i) {
    if (type_of(series) == type_map) {
        stack::Mark mark;
        Cell field{type_word, 0, uint32_t(fixed::sym_body), 0};
        Cell* body = stack::push_copy(series);
        map_t::reflect(body, &field);
        bool inside = i >= 1 && i <= block_t::length_at(*body);
        Cell v = inside ? *block_t::cell_at(*body, body->w1 + uint32_t(i) - 1) : none_t::value;
        mark.restore();
        v.header &= ~header::new_line;
        if (type_of(v) == type_set_word && i % 2 == 1) set_type(v, type_word);
        return v;
    }
    Cell s = series;
    return *actions::pick(&s, i, nullptr);
}

// The context a value names for binding: an object's, a function's or a
// word's own (0 when it has none). `object` tells whether it belongs to an
// object, whose `self` words the block binder binds.
NodeId context_of(const Cell& value, bool& object) {
    uint32_t t = type_of(value);
    NodeId ctx = no_node;
    if (any_object_q(t) || t == type_function || t == type_routine || all_word_q(t)) ctx = value.w1;
    if (t == type_op) {
        uint32_t wrapped = op_t::wrapped_type(value);
        if (wrapped == type_function || wrapped == type_routine) ctx = value.w1;
    }
    object = ctx != no_node && context_t::kind_of(*context_t::context_cell(ctx)) == context_t::kind_object;
    return ctx;
}

}  // namespace

// ---- Setting words from values ------------------------------------------------------

namespace natives_words {

void set_words_from_values(const Cell& words_in, const Cell& values_in, uint32_t count, bool any, bool only,
                           bool some) {
    stack::Mark mark;
    Cell* words = stack::push_copy(words_in);
    Cell* values = stack::push_copy(values_in);
    // Elements past the tail do not exist: they are neither checked nor set.
    uint32_t first = words->w1;
    uint32_t length = block_t::length_at(*words);
    if (count > length) count = length;
    bool per_word = !only && per_word_values_q(type_of(*values));

    if (per_word) {
        for (uint32_t i = 1; i <= count; ++i) {
            Cell w = element(*words, first + i - 1);
            if (!any_word_q(type_of(w))) raise_invalid_arg(w);
            if (!any && type_of(pick_value(*values, int32_t(i))) == type_unset)
                raise_error(err_cat::script, script::need_value, &w);
        }
    }
    Cell* top = stack::top();
    for (uint32_t i = 1; i <= count; ++i) {
        stack::set_top(top);
        Cell v = per_word ? pick_value(*values, int32_t(i)) : *values;
        if (some && type_of(v) == type_none) continue;
        if (first + i - 1 >= tail_of(*words)) break;  // a change handler shortened the block
        Cell w = element(*words, first + i - 1);
        if (!any_word_q(type_of(w))) raise_invalid_arg(w);
        word_t::set(w, v);
    }
    mark.restore();
}

void set_words_from_series(const Cell& words_in, const Cell& series_in, uint32_t n) {
    stack::Mark mark;
    Cell* words = stack::push_copy(words_in);
    Cell* series = stack::push_copy(series_in);
    Cell* top = stack::top();
    for (uint32_t i = 1; i <= n; ++i) {
        stack::set_top(top);
        uint32_t at = words->w1 + i - 1;
        if (at >= tail_of(*words)) break;
        Cell w = element(*words, at);
        if (!any_word_q(type_of(w))) raise_invalid_arg(w);
        word_t::set(w, pick_value(*series, int32_t(i)));
    }
    mark.restore();
}

}  // namespace natives_words

namespace {

// Paths are walked by the evaluator: `get` and `set` run the code
// `:path` or `path: :value` (in a block rooted on the stack), so that the
// walk is the one the language uses everywhere, in get mode (a function
// found is answered, not called) or set mode (fields of objects fire their
// change events, values nested in other values are written back). The
// value given to a set-path is read by a get-word from a one-word context
// that holds it. The value of the code lands in the result slot.
Status run_path_code(const Cell& path, uint32_t kind, const Cell* value) {
    Cell target = path;
    set_type(target, kind);
    NodeId code = memory::alloc_cells(2);
    *series::alloc_tail_cell(code) = target;
    if (value) {
        NodeId holder = context_t::make(1, false, false, no_node, context_t::kind_global);
        Cell name{type_word, no_node, uint32_t(fixed::sym_values), word_t::unresolved};
        context_t::put_word_value(holder, name, *value);
        *series::alloc_tail_cell(code) = Cell{type_get_word, holder, uint32_t(fixed::sym_values), 0};
    }
    Cell block{type_block, 0, code, 0};
    stack::push_copy(block);
    Status s = eval::do_block(block);
    if (s == Status::ok) stack::stack_keep();
    return s;
}

}  // namespace

// ---- Natives ------------------------------------------------------------------------

namespace natives {

// get word /any /case
Status get(bool, const int32_t* refs) {
    Cell* base = stack::arg_base();
    Cell target = base[0];
    uint32_t t = type_of(target);
    if (any_path_q(t)) return run_path_code(target, type_get_path, nullptr);
    if (any_object_q(t)) {
        Cell field{type_word, no_node, uint32_t(fixed::sym_values), 0};
        return answer(*object_t::reflect(&target, &field));
    }
    Cell v = *word_t::get(target);
    if (type_of(v) == type_unset && !used(refs, 0)) raise_error(err_cat::script, script::no_value, &target);
    return answer(v);
}

// set word value /any /case /only /some
Status set(bool, const int32_t* refs) {
    Cell* base = stack::arg_base();
    bool any = used(refs, 0), only = used(refs, 2), some = used(refs, 3);
    if (!any && type_of(base[1]) == type_unset) raise_error(err_cat::script, script::need_value, &base[0]);
    uint32_t t = type_of(base[0]);
    if (t == type_block) {
        frames::frame_open(frames::markers().anon);
        natives_words::set_words_from_values(base[0], base[1], uint32_t(block_t::length_at(base[0])), any, only,
                                             some);
        Cell value = base[1];
        frames::frame_discard();
        return answer(value);
    }
    if (any_path_q(t)) return run_path_code(base[0], type_set_path, &base[1]);
    if (any_object_q(t)) {
        object_t::set_fields(base[0], base[1], any, only, some);
    } else {
        Cell w = base[0];
        word_t::set(w, base[1]);
    }
    return answer(base[1]);
}

// unset word
Status unset(bool, const int32_t*) {
    Cell* base = stack::arg_base();
    if (type_of(base[0]) == type_word) {
        Cell w = base[0];
        word_t::set(w, unset_t::value);
    } else {
        for (uint32_t i = base[0].w1; i < tail_of(base[0]); ++i) {
            Cell w = element(base[0], i);
            if (type_of(w) == type_word) word_t::set(w, unset_t::value);
        }
    }
    return answer(unset_t::value);
}

// value? value
Status value_q(bool, const int32_t*) {
    Cell v = stack::arg_base()[0];
    if (any_word_q(type_of(v))) v = *word_t::get(v);
    return answer(logic_t::value_of(type_of(v) != type_unset));
}

// type? value /word
Status type_q(bool, const int32_t* refs) {
    uint32_t t = type_of(stack::arg_base()[0]);
    if (used(refs, 0)) return answer(registry::type_name(t).word);
    return answer(datatype_t::value_of(t));
}

// bind word context /copy
Status bind(bool, const int32_t* refs) {
    Cell* base = stack::arg_base();
    bool object = false;
    NodeId ctx = context_of(base[1], object);
    if (type_of(base[0]) != type_block) {
        Cell w = base[0];
        if (ctx) word_t::bind_to(w, ctx);
        return answer(w);
    }
    Cell block = base[0];
    if (used(refs, 0)) block = *block_t::clone(block, true, true);
    stack::push_copy(block);
    if (ctx) block_t::bind(&block, ctx, object);
    return answer(block);
}

// in object word
Status in(bool, const int32_t*) {
    Cell* base = stack::arg_base();
    bool object = false;
    NodeId ctx = context_of(base[0], object);
    Cell w = base[1];
    if (!ctx || word_t::bind_to(w, ctx) < 0) return answer(none_t::value);
    if (type_of(w) == type_refinement) set_type(w, type_word);
    return answer(w);
}

// context? word
Status context_q(bool, const int32_t*) {
    Cell w = stack::arg_base()[0];
    if (!w.w1) return answer(none_t::value);
    Cell owner = *context_t::self_slot(w.w1);
    return answer(type_of(owner) == type_unset ? none_t::value : owner);
}

// construct block /with object /only
Status construct(bool, const int32_t* refs) {
    Cell* base = stack::arg_base();
    Cell spec = base[0];
    const Cell* proto = used(refs, 0) ? &base[refs[0]] : nullptr;
    Cell out;
    object_t::construct(spec, proto, used(refs, 1), out);
    return answer(out);
}

// extend obj spec /case
Status extend(bool, const int32_t* refs) {
    Cell* base = stack::arg_base();
    if (type_of(base[0]) != type_map) raise_not_done();  // objects are not extended in place
    Cell* spec = &base[1];
    if (type_of(*spec) == type_map) {  // its live pairs
        Cell field{type_word, 0, uint32_t(fixed::sym_body), 0};
        spec = stack::push_copy(*spec);
        map_t::reflect(spec, &field);
    }
    map_t::add_pairs(&base[0], *spec, used(refs, 0));
    return answer(base[0]);
}

// as type spec
Status as(bool, const int32_t*) {
    Cell* base = stack::arg_base();
    uint32_t target = type_of(base[0]) == type_datatype ? datatype_t::get(base[0]) : type_of(base[0]);
    uint32_t from = type_of(base[1]);
    bool ok = (list_kind_q(target) && list_kind_q(from)) || (text_kind_q(target) && text_kind_q(from));
    if (!ok) {
        Cell a = datatype_t::value_of(from), b = datatype_t::value_of(target);
        raise_error(err_cat::script, script::not_same_class, &a, &b);
    }
    Cell r = base[1];
    set_type(r, target);
    return answer(r);
}

// new-line position value /all /skip size
Status new_line(bool, const int32_t* refs) {
    Cell* base = stack::arg_base();
    Cell position = base[0];
    bool on = logic_t::get(base[1]) != 0;
    uint32_t n = tail_of(position);
    if (!used(refs, 0) && !used(refs, 1)) {
        if (position.w1 < n) {
            Cell* c = memory::cell_at(position.w2, position.w1);
            c->header = on ? c->header | header::new_line : c->header & ~header::new_line;
        }
        return answer(position);
    }
    int32_t step = 1;
    if (used(refs, 1)) {
        Cell size = base[refs[1]];
        step = int32_t(size.w2);
        if (step <= 0) raise_error(err_cat::script, script::out_of_range, &size);
    }
    for (uint32_t i = position.w1, k = 0; i < n; ++i, ++k) {
        bool on_step = step == 1 || k % uint32_t(step) == 0;
        Cell* c = memory::cell_at(position.w2, i);
        c->header = on_step == on ? c->header | header::new_line : c->header & ~header::new_line;
    }
    return answer(position);
}

// new-line? position
Status new_line_q(bool, const int32_t*) {
    Cell position = stack::arg_base()[0];
    bool marked = position.w1 < tail_of(position) && (element(position, position.w1).header & header::new_line);
    return answer(logic_t::value_of(marked));
}

}  // namespace natives

}  // namespace vyr
