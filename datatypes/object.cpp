// object!: values, class ids, construction, field setting and the change
// events. The actions are in object_actions.cpp.
#include "datatypes/object.h"

#include <algorithm>

#include "datatypes/context.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/dispatch.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "datatypes/owners.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace vyr::object_t {

namespace script = err_id::script;

namespace {

int32_t last_class_id = first_class_id;
const Cell shared_none{type_none, 0, 0, 0};

// ---- Event records -----------------------------------------------------------

namespace event {
inline constexpr uint32_t change = 0;  // cell of on-change*
inline constexpr uint32_t deep = 1;    // cell of on-deep-change*
inline constexpr uint32_t index_shift = 16;
inline constexpr uint32_t slots_mask = 0xFFFF;
}  // namespace event

Cell event_cell(int32_t index, int32_t slots, NodeId spec) {
    return Cell{type_pair, 0, (uint32_t(index) << event::index_shift) | (uint32_t(slots) & event::slots_mask), spec};
}
int32_t event_index(const Cell& c) { return int32_t(c.w2) >> event::index_shift; }
int32_t event_slots(const Cell& c) { return int32_t(c.w2 & event::slots_mask); }

NodeId new_event_record(const Cell& change, const Cell& deep) {
    NodeId record = memory::alloc_cells(2);
    *series::alloc_tail_cell(record) = change;
    *series::alloc_tail_cell(record) = deep;
    return record;
}

// ---- Small helpers -----------------------------------------------------------

int32_t canonical(int32_t symbol) { return symbol_t::resolve_alias(symbol); }
int32_t canonical(const Cell& word) { return canonical(int32_t(word.w2)); }

bool handler_word_q(const Cell& word) {
    int32_t s = canonical(word);
    return s == canonical(fixed::word_on_change_star) || s == canonical(fixed::word_on_deep_change_star);
}


bool series_q(uint32_t t) {
    return any_block_q(t) || string_t::string_like_q(t) || t == type_binary || t == type_vector || t == type_image;
}

Cell* value_at(NodeId ctx, uint32_t i) { return context_t::context_value_at(ctx, int32_t(i)); }
Cell word_copy_at(NodeId ctx, uint32_t i) { return *context_t::word_at(ctx, int32_t(i)); }

// The copies made by copy_into with deep set: blocks and texts.
bool deep_copied_q(uint32_t t) {
    switch (t) {
        case type_block: case type_paren: case type_path: case type_lit_path: case type_set_path:
        case type_get_path: case type_string: case type_file: case type_url: case type_tag: case type_email:
        case type_ref: return true;
        default: return false;
    }
}

bool in_types_q(const Cell& types, uint32_t t) {
    if (type_of(types) == type_datatype) return types.w1 == t;
    return typeset_t::has(types, t);
}

// Takes ownership of the series in the object's fields.
void take_ownership(const Cell& object) {
    NodeId ctx = object.w1;
    uint32_t n = context_t::word_count(ctx);
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = word_copy_at(ctx, i);
        owners::set_owned(*value_at(ctx, i), object, w);
    }
}

// Status codes that leave a handler or a body block (break, throw, ...)
// cross the C++ frames as the runtime's exception.
void pass_on(Status s) {
    if (s != Status::ok) throw_code(uint32_t(s));
}

// The handler's local-slot count, recounted when the handler was replaced.
int32_t refresh_slots(NodeId record, uint32_t which, const Cell& handler) {
    Cell* c = memory::cell_at(record, which);
    if (c->w3 != handler.w2) {
        int32_t slots = function_t::arity_to_refinement(handler.w2, 0, false);
        *c = event_cell(event_index(*c), slots, handler.w2);
    }
    return event_slots(*c);
}

// Pushes the initial locals and runs the handler on the cells pushed from
// `args`; the stack top comes back to `mark` afterwards.
void run_handler(const Cell& handler, Cell* args, int32_t slots, NodeId ctx, const Cell& name,
                 eval_hooks::CallbackKind kind) {
    function_t::push_initial_locals(slots);
    eval_hooks::CallbackScope traced(kind);
    Cell answer{};
    Status s = function_t::call(handler, args, uint32_t(stack::top() - args), ctx, name, answer);
    pass_on(s);
}

}  // namespace

Status eval_block(const Cell& block, Cell& result) {
    auto evaluate = eval_hooks::hooks().eval_block;
    if (!evaluate) raise_error(err_cat::internal, err_id::internal::not_done);
    return evaluate(block, result);
}

// ---- Values ------------------------------------------------------------------

int32_t next_class_id() { return ++last_class_id; }

Cell* make_at(Cell& cell, uint32_t n) {
    NodeId ctx = context_t::make(n, false, true, no_node, context_t::kind_object);
    cell = Cell{type_object, ctx, 0, 0};
    *context_t::self_slot(ctx) = cell;
    return &cell;
}

Cell* push(NodeId context, NodeId events, int32_t class_id) {
    Cell v{type_object, context, uint32_t(class_id), events};
    *context_t::self_slot(context) = v;
    return stack::push_copy(v);
}

Cell* push_from_context(NodeId context, int32_t class_id) {
    NodeId values = context_t::context_cell(context)->w2;
    uint32_t n = context_t::word_count(context);
    if (memory::series_length(values) == 0 && n > 0) {
        for (uint32_t i = 0; i < n; ++i) *series::alloc_tail_cell(values) = Cell{type_unset, 0, 0, 0};
    }
    return push(context, 0, class_id);
}

NodeId attach_events(NodeId context, int32_t change_index, int32_t change_slots, int32_t deep_index,
                     int32_t deep_slots) {
    NodeId record = new_event_record(event_cell(change_index, change_slots, 0), event_cell(deep_index, deep_slots, 0));
    Cell* top = stack::top_cell();
    top->w3 = record;
    *context_t::self_slot(context) = *top;
    if (deep_index != no_handler) take_ownership(*top);
    return record;
}

NodeId make_events(NodeId context) {
    const Cell* handlers[2] = {&fixed::word_on_change_star, &fixed::word_on_deep_change_star};
    Cell cells[2];
    bool any = false;
    for (int k = 0; k < 2; ++k) {
        int32_t i = context_t::find_word(context, int32_t(handlers[k]->w2), true);
        if (i < 0) {
            cells[k] = event_cell(no_handler, 0, 0);
            continue;
        }
        any = true;
        Cell v = *value_at(context, uint32_t(i));
        if (type_of(v) != type_function && type_of(v) != type_routine) {
            Cell word = word_copy_at(context, uint32_t(i));
            Cell type{type_datatype, type_of(v), 0, 0};
            raise_error(err_cat::script, script::bad_field_set, &word, &type);
        }
        cells[k] = event_cell(i, function_t::arity_to_refinement(v.w2, 0, false), v.w2);
    }
    return any ? new_event_record(cells[0], cells[1]) : no_node;
}

void finish(Cell& object) {
    object.w3 = make_events(object.w1);
    *context_t::self_slot(object.w1) = object;
    if (has_deep_handler_q(object)) take_ownership(object);
}

bool has_deep_handler_q(const Cell& object) {
    return object.w3 && event_index(*memory::cell_at(object.w3, event::deep)) != no_handler;
}

// ---- Fields ------------------------------------------------------------------

int32_t find_field_index(const Cell& object, const Cell& word) {
    int32_t i = context_t::find_word(object.w1, int32_t(word.w2), true);
    return i < 0 ? -1 : int32_t(context_t::word_at(object.w1, i)->w3);
}

Cell* select_field(const Cell& object, const Cell& word) {
    int32_t i = find_field_index(object, word);
    return i < 0 ? const_cast<Cell*>(&shared_none) : value_at(object.w1, uint32_t(i));
}

Cell* first_word(const Cell& object) { return context_t::word_at(object.w1, 0); }
Cell* fields(const Cell& object) { return context_t::values_base(object.w1); }
uint32_t field_count(const Cell& object) { return context_t::word_count(object.w1); }

const Cell* system_field(std::initializer_list<const char*> path) {
    const Cell* v = context_t::global_symbol_value(fixed::sym_system);
    for (const char* name : path) {
        if (v == nullptr || type_of(*v) != type_object) return nullptr;
        v = select_field(*v, word_t::make_global(name));
    }
    return v;
}

bool word_is_class_q(const Cell& word, int32_t class_id) {
    const Cell& v = *word_t::get(word);
    return type_of(v) == type_object && int32_t(v.w2) == class_id;
}

bool field_is_class_q(NodeId context, int32_t i, int32_t class_id) {
    const Cell& v = *context_t::context_value_at(context, i);
    return type_of(v) == type_object && int32_t(v.w2) == class_id;
}

Cell* context_node_word_at(NodeId context, int32_t i) { return context_t::word_at(context, i); }

void clear_set_flags(NodeId context) {
    uint32_t n = context_t::word_count(context);
    for (uint32_t i = 0; i < n; ++i) context_t::word_at(context, int32_t(i))->header &= ~header::word_changed;
}

void clear_new_lines(NodeId block) {
    uint32_t n = memory::series_length(block);
    for (uint32_t i = 0; i < n; ++i) clear_new_line_flag(*memory::cell_at(block, i));
}

void copy_fields_by_name(NodeId source, NodeId destination) {
    uint32_t n = context_t::word_count(source);
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = word_copy_at(source, i);
        int32_t d = context_t::find_word(destination, int32_t(w.w2), true);
        if (d < 0) continue;
        Cell v = *value_at(source, i);
        if (series_q(type_of(v))) dispatch::copy(v, v, false);
        *value_at(destination, context_t::word_at(destination, d)->w3) = v;
    }
}

// ---- Copying -----------------------------------------------------------------

void rebind_function(Cell& fn, NodeId context) {
    Cell f = fn;
    Cell body = *memory::cell_at(f.w3, function_t::record::body);
    if (type_of(body) != type_block) raise_error(err_cat::script, script::bad_func_def, &f);
    NodeId fctx = memory::copy_series_buffer(f.w1);
    context_t::context_cell(fctx)->w2 = 0;  // its values live on the stack only while it runs
    collector::NodeRoot keep(fctx);
    stack::Mark mark;
    uint32_t flags = f.header & (function_t::flag::trace | function_t::flag::no_trace);
    function_t::make_function(Cell{type_block, 0, f.w2, 0}, &body, fctx, 0, 0, flags);
    Cell made = *stack::top_cell();
    mark.restore();
    Cell copy = *memory::cell_at(made.w3, function_t::record::body);
    block_t::bind(&copy, context, true);
    block_t::bind(&copy, fctx, false);
    fn = made;
}

void copy_into(const Cell& source, Cell& destination, bool deep, const Cell* types, bool rebuild) {
    Cell o = source;
    Cell d = o;
    NodeId octx = o.w1;
    NodeId ctx = context_t::duplicate(d, context_t::kind_object);
    uint32_t n = context_t::word_count(octx);
    std::copy_n(context_t::values_base(octx), n, context_t::values_base(ctx));
    d.header = type_of(o);
    d.w3 = rebuild ? no_node : o.w3;
    *context_t::self_slot(ctx) = d;

    stack::Mark mark;
    Cell* held = stack::push_copy(d);
    if (types && deep && series::cycle_find(octx)) {
        series::cycle_reset();
        raise_error(err_cat::internal, err_id::internal::no_cycle);
    }
    series::CycleGuard guard;
    if (types) series::cycle_push(octx);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *value_at(held->w1, i);
        uint32_t t = type_of(v);
        if (t == type_function) {
            rebind_function(v, held->w1);
        } else if (types) {
            if (!in_types_q(*types, t)) continue;
            Cell ts = *types;
            dispatch::copy(v, v, deep, deep ? &ts : nullptr);
        } else if (deep && deep_copied_q(t)) {
            dispatch::copy(v, v, true);
        } else {
            continue;
        }
        *value_at(held->w1, i) = v;
    }
    if (types) series::cycle_pop();
    d = *held;
    mark.restore();
    if (rebuild) finish(d);
    destination = d;
}

// ---- Making ------------------------------------------------------------------

namespace {

// The prototype's series fields copied once more into the new object, the
// block-like ones bound to it, so that they refer to the new object's words.
void refresh_series_fields(const Cell& proto, const Cell& object) {
    uint32_t n = context_t::word_count(proto.w1);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *value_at(proto.w1, i);
        uint32_t t = type_of(v);
        if (!series_q(t)) continue;
        dispatch::copy(v, v, true);
        if (any_block_q(t)) block_t::bind(&v, object.w1, true);
        *value_at(object.w1, i) = v;
    }
}

// Every series field copied deeply and every function rebound to the
// object (make object! from another object).
void own_copies(const Cell& object) {
    uint32_t n = context_t::word_count(object.w1);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *value_at(object.w1, i);
        uint32_t t = type_of(v);
        if (t == type_function) rebind_function(v, object.w1);
        else if (series_q(t)) dispatch::copy(v, v, true);
        else continue;
        *value_at(object.w1, i) = v;
    }
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    stack::Mark mark;
    Cell* p = stack::push_copy(*proto);
    Cell* s = stack::push_copy(*spec);
    Cell* result = stack::push_copy(shared_none);
    bool from_proto = type_of(*p) == type_object;
    if (from_proto) copy_into(*p, *result, true, nullptr, false);
    else make_at(*result, default_words);

    bool added = false;
    switch (type_of(*s)) {
        case type_block: {
            added = context_t::collect_set_words(result->w1, *s);
            block_t::bind(s, result->w1, true);
            if (from_proto) refresh_series_fields(*p, *result);
            Cell* last = stack::push_copy(shared_none);
            pass_on(eval_block(*s, *last));
            clear_set_flags(result->w1);
            clear_new_lines(context_t::context_cell(result->w1)->w2);
            break;
        }
        case type_object: {
            uint32_t before = context_t::word_count(result->w1);
            uint32_t n = context_t::word_count(s->w1);
            for (uint32_t i = 0; i < n; ++i)
                context_t::put_word_value(result->w1, word_copy_at(s->w1, i), *value_at(s->w1, i));
            added = context_t::word_count(result->w1) > before;
            own_copies(*result);
            break;
        }
        default: raise_error(err_cat::syntax, err_id::syntax::malconstruct, s);
    }
    result->w2 = uint32_t(added || !from_proto ? next_class_id() : int32_t(p->w2));
    finish(*result);
    *proto = *result;
    mark.restore();
    return proto;
}

namespace {

// A word value of construct: the logic and none words become their values.
Cell construct_value(const Cell& v, bool only) {
    if (only || type_of(v) != type_word) return v;
    int32_t s = canonical(v);
    for (int32_t t : {fixed::sym_true, fixed::sym_yes, fixed::sym_on})
        if (s == canonical(t)) return logic_t::true_value;
    for (int32_t f : {fixed::sym_false, fixed::sym_no, fixed::sym_off})
        if (s == canonical(f)) return logic_t::false_value;
    if (s == canonical(fixed::sym_none)) return shared_none;
    return v;
}

}  // namespace

Cell* construct(const Cell& spec, const Cell* proto, bool only, Cell& out) {
    stack::Mark mark;
    Cell* s = stack::push_copy(spec);
    Cell* result = stack::push_copy(shared_none);
    if (proto && type_of(*proto) == type_object) {
        copy_into(*proto, *result, true, nullptr, true);
    } else {
        make_at(*result, default_words);
        result->w2 = uint32_t(next_class_id());
        *context_t::self_slot(result->w1) = *result;
    }
    context_t::collect_set_words(result->w1, *s);
    uint32_t n = memory::series_length(s->w2);
    for (uint32_t i = s->w1; i < n; ++i) {
        Cell w = *memory::cell_at(s->w2, i);
        if (type_of(w) != type_set_word) continue;
        uint32_t k = i + 1;
        while (k < n && type_of(*memory::cell_at(s->w2, k)) == type_set_word) ++k;
        Cell v = k < n ? construct_value(*memory::cell_at(s->w2, k), only) : shared_none;
        *value_at(result->w1, uint32_t(find_field_index(*result, w))) = v;
    }
    out = *result;
    mark.restore();
    return &out;
}

// ---- Setting fields ------------------------------------------------------------

namespace {

// Stores one field as `set` does: the handler fields of an object with
// events are left alone; a store fires on-change*; the field is marked.
void store_field(Cell* object, uint32_t i, const Cell& value) {
    NodeId ctx = object->w1;
    Cell* word = stack::push_copy(word_copy_at(ctx, i));
    context_t::word_at(ctx, int32_t(i))->header |= header::word_changed;
    if (!object->w3) {
        *value_at(ctx, i) = value;
        stack::pop_cells(1);
        return;
    }
    if (handler_word_q(*word)) {
        stack::pop_cells(1);
        return;
    }
    Cell* old_value = stack::push_copy(*value_at(ctx, i));
    Cell* new_value = stack::push_copy(value);
    *value_at(ctx, i) = value;
    fire_on_change(object, word, old_value, new_value);
    stack::pop_cells(3);
}

}  // namespace

void set_fields(Cell& object_in, const Cell& value_in, bool any, bool only, bool some) {
    stack::Mark mark;
    Cell* object = stack::push_copy(object_in);
    Cell* source = stack::push_copy(value_in);
    uint32_t n = context_t::word_count(object->w1);
    uint32_t vt = type_of(*source);
    if (only || (vt != type_block && vt != type_object)) {
        for (uint32_t i = 0; i < n; ++i) store_field(object, i, *source);
        mark.restore();
        return;
    }
    // The source value for field i: the i-th block value (none past the
    // end), or the same-named field of the source object (null: none such).
    auto source_for = [&](uint32_t i, Cell& out) -> bool {
        if (vt == type_block) {
            uint32_t k = source->w1 + i;
            out = k < memory::series_length(source->w2) ? *memory::cell_at(source->w2, k) : shared_none;
            return true;
        }
        int32_t f = find_field_index(*source, word_copy_at(object->w1, i));
        if (f < 0) return false;
        out = *value_at(source->w1, uint32_t(f));
        return true;
    };
    if (!some && !any) {
        uint32_t available = vt == type_block ? memory::series_length(source->w2) - std::min(source->w1,
                                                    memory::series_length(source->w2))
                                              : n;
        for (uint32_t i = 0; i < n && i < available; ++i) {
            Cell v;
            if (source_for(i, v) && type_of(v) == type_unset) {
                Cell w = word_copy_at(object->w1, i);
                raise_error(err_cat::script, script::need_value, &w);
            }
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        Cell v;
        if (!source_for(i, v)) continue;
        if (some && type_of(v) == type_none) continue;
        store_field(object, i, v);
    }
    mark.restore();
}

// ---- Change events -------------------------------------------------------------

void fire_on_change(Cell* object, Cell* word, Cell* old_value, Cell* new_value) {
    Cell o = *object;
    if (!o.w3) return;
    const Cell& c = *memory::cell_at(o.w3, event::change);
    int32_t index = event_index(c);
    if (index == no_handler) return;
    Cell handler = *value_at(o.w1, uint32_t(index));
    if (type_of(handler) != type_function) raise_error(err_cat::script, script::invalid_obj_evt, &handler);
    int32_t slots = refresh_slots(o.w3, event::change, handler);
    Cell w = *word;
    if (w.w1 != o.w1) word_t::bind_to(w, o.w1);

    stack::Mark mark;
    Cell* fn = stack::push_copy(handler);
    Cell* args = stack::push_copy(w);
    stack::push_copy(*old_value);
    stack::push_copy(*new_value);
    run_handler(*fn, args, slots, o.w1, fixed::word_on_change_star, eval_hooks::change_handler);
    mark.restore();
}

void fire_on_change_top(Cell* object, Cell* word) {
    Cell* top = stack::top_cell();
    fire_on_change(object, word, top, top - 1);
}

void fire_on_change_of_context(NodeId context, Cell* word) {
    Cell object = *context_t::self_slot(context);
    fire_on_change_top(&object, word);
}

void fire_on_change_word(const Cell& object_word, Cell* word) {
    Cell object = *word_t::get(object_word);
    fire_on_change_top(&object, word);
}

void fire_on_deep_change(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* value, int32_t index,
                         int32_t part) {
    Cell o = *owner;
    if (!o.w3) raise_error(err_cat::script, script::invalid_obj_evt, &o);
    const Cell& c = *memory::cell_at(o.w3, event::deep);
    int32_t field = event_index(c);
    if (field == no_handler) return;
    Cell handler = *value_at(o.w1, uint32_t(field));
    if (type_of(handler) != type_function) return;
    int32_t slots = refresh_slots(o.w3, event::deep, handler);

    stack::Mark mark;
    Cell* fn = stack::push_copy(handler);
    Cell* args = stack::push_copy(o);
    stack::push_copy(*word);
    stack::push_copy(*target);
    stack::push_copy(*action);
    stack::push_copy(value ? *value : shared_none);
    integer_t::push(index);
    integer_t::push(part);
    run_handler(*fn, args, slots, o.w1, fixed::word_on_deep_change_star, eval_hooks::deep_change_handler);
    mark.restore();
}

}  // namespace vyr::object_t
