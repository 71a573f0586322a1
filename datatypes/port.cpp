// port!: making ports, forwarding actions to actors, the composite read and
// write, mold and form; registration (see port.h).
#include "datatypes/port.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/checks.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/series.h"
#include "runtime/stack.h"

namespace vyr::port_t {

namespace {

namespace access = err_id::access;

Cell field_word(const char* name) { return word_t::make_global(name); }

// ---- Native actors -------------------------------------------------------------

std::vector<const registry::ActionFn*>& native_actors() {
    static std::vector<const registry::ActionFn*> tables;
    return tables;
}

}  // namespace

uint32_t register_native_actor(const NativeActor& table) {
    native_actors().push_back(table);
    return uint32_t(native_actors().size());  // 0 stays the null handle
}

registry::ActionFn native_action(const Cell& value, uint32_t slot) {
    if (type_of(value) != type_port || slot < first_actor_slot || slot > last_actor_slot) return nullptr;
    const Cell& a = *object_t::select_field(value, field_word("actor"));
    if (type_of(a) != type_handle) return nullptr;
    uint32_t n = a.w2;
    registry::ActionFn fn = n >= 1 && n <= native_actors().size() ? native_actors()[n - 1][slot - first_actor_slot]
                                                                   : nullptr;
    if (!fn) raise_error(err_cat::access, access::no_port_action);
    return fn;
}

Cell actor(const Cell& port) {
    Cell a = *object_t::select_field(port, field_word("actor"));
    if (type_of(a) != type_object) raise_error(err_cat::access, access::invalid_port);
    return a;
}

// ---- Forwarding to the actor ------------------------------------------------------

namespace {

// One forwarded action: the port and then the action's arguments are pushed
// in the order of the action's spec, and the actor's function of the
// action's name is called on them.
class Forward {
public:
    Forward(const Cell& port, const char* action) : action_(field_word(action)) {
        actor_ = stack::push_copy(actor(port));
        args_ = stack::push_copy(port);
    }
    Forward(const Forward&) = delete;
    Forward& operator=(const Forward&) = delete;
    ~Forward() { mark_.restore(); }

    void value(const Cell& v) { stack::push_copy(v); }
    void flag(bool on) { stack::push_copy(logic_t::value_of(on)); }
    // A refinement with its argument: the flag, then the value or none.
    void refinement(const Cell* arg) {
        flag(arg != nullptr);
        value(arg ? *arg : none_t::value);
    }
    void refinement(bool on, int32_t n) {
        flag(on);
        value(on ? Cell{type_integer, 0, uint32_t(n), 0} : none_t::value);
    }

    // Calls the actor's function and answers its result.
    Cell call() {
        Cell fn = *object_t::select_field(*actor_, action_);
        if (type_of(fn) != type_function) raise_error(err_cat::access, access::no_port_action, &action_);
        Cell* held = stack::push_copy(fn);  // kept reachable through the call
        Cell* args = stack::push_copy(*args_);
        for (Cell* c = args_ + 1; c < held; ++c) stack::push_copy(*c);
        function_t::push_initial_locals(function_t::arity_to_refinement(fn.w2, 0, false));
        Cell answer = none_t::value;
        eval_hooks::CallbackScope traced(eval_hooks::port_actor);
        Status s = function_t::call(*held, args, uint32_t(stack::top() - args), actor_->w1, action_, answer);
        if (s != Status::ok) throw_code(uint32_t(s));
        return answer;
    }

private:
    stack::Mark mark_;
    Cell action_;
    Cell* actor_;
    Cell* args_;
};

Cell* answer_in(Cell* cell, const Cell& value) {
    *cell = value;
    return cell;
}

// The actions that take the port alone (at the argument base) or the port
// and one more argument cell.
Cell* forward_base(const char* action, bool with_argument) {
    Cell* base = stack::arg_base();
    Forward f(base[0], action);
    if (with_argument) f.value(base[1]);
    return answer_in(base, f.call());
}

Cell* forward_port(Cell* port, const char* action) {
    Forward f(*port, action);
    return answer_in(port, f.call());
}

Cell* insert_like(const char* action, Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    Forward f(*series, action);
    f.value(*value);
    f.refinement(part >= 0, part);
    f.flag(only);
    f.refinement(dup > 1, dup);
    return answer_in(series, f.call());
}

Cell* at() { return forward_base("at", true); }
Cell* back() { return forward_base("back", false); }
Cell* head() { return forward_base("head", false); }
Cell* head_q() { return forward_base("head?", false); }
Cell* index_q() { return forward_base("index?", false); }
Cell* next() { return forward_base("next", false); }
Cell* skip() { return forward_base("skip", true); }
Cell* tail() { return forward_base("tail", false); }
Cell* tail_q() { return forward_base("tail?", false); }

Cell* clear(Cell* port) { return forward_port(port, "clear"); }
Cell* create(Cell* port) { return forward_port(port, "create"); }
Cell* close(Cell* port) { return forward_port(port, "close"); }
Cell* delete_(Cell* port) { return forward_port(port, "delete"); }
Cell* query(Cell* port) { return forward_port(port, "query"); }
Cell* update(Cell* port) { return forward_port(port, "update"); }

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    return insert_like(append ? "append" : "insert", series, value, part, only, dup);
}
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return insert_like("change", series, value, part, only, dup);
}

// The arguments find and select share.
void search_arguments(Forward& f, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
                      Cell* skip) {
    f.value(*value);
    f.refinement(part);
    f.flag(only);
    f.flag(case_);
    f.flag(same);
    f.flag(any);
    f.refinement(with);
    f.refinement(skip);
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    Forward f(*series, "find");
    search_arguments(f, value, part, only, case_, same, any, with, skip);
    f.flag(last);
    f.flag(reverse);
    f.flag(tail);
    f.flag(match);
    return answer_in(series, f.call());
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse) {
    Forward f(*series, "select");
    search_arguments(f, value, part, only, case_, same, any, with, skip);
    f.flag(last);
    f.flag(reverse);
    return answer_in(series, f.call());
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    Forward f(*origin, "move");
    f.value(*target);
    f.refinement(part);
    return answer_in(origin, f.call());
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    Forward f(*value, "copy");
    f.refinement(part);
    f.flag(deep);
    f.refinement(types);
    Cell answer = f.call();
    if (result) *result = answer;
    return answer_in(value, answer);
}

Cell* remove(Cell* series, Cell* part, Cell*) {
    Forward f(*series, "remove");
    f.refinement(part);
    return answer_in(series, f.call());
}

Cell* reverse(Cell* series, Cell* part, Cell*) {
    Forward f(*series, "reverse");
    f.refinement(part);
    return answer_in(series, f.call());
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Forward f(*series, "take");
    f.refinement(part);
    f.flag(deep);
    f.flag(last);
    return answer_in(series, f.call());
}

Cell* trim(Cell* series, bool head_, bool tail_, bool auto_, bool lines, bool all, Cell* with) {
    Forward f(*series, "trim");
    for (bool b : {head_, tail_, auto_, lines, all}) f.flag(b);
    f.refinement(with);
    return answer_in(series, f.call());
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse_,
           bool stable) {
    Forward f(*series, "sort");
    f.flag(case_);
    f.refinement(skip);
    f.refinement(comparator);
    f.refinement(part);
    f.flag(all);
    f.flag(reverse_);
    f.flag(stable);
    return answer_in(series, f.call());
}

Cell* swap(Cell* a, Cell* b) {
    Forward f(*a, "swap");
    f.value(*b);
    return answer_in(a, f.call());
}

int32_t length_q(Cell* value) {
    Forward f(*value, "length?");
    Cell n = f.call();
    return type_of(n) == type_integer ? integer_t::get(n) : -1;
}

Cell* pick(Cell* series, int32_t index, Cell* index_cell) {
    Forward f(*series, "pick");
    f.value(index_cell ? *index_cell : Cell{type_integer, 0, uint32_t(index), 0});
    return answer_in(series, f.call());
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    Forward f(*series, "poke");
    f.value(index_cell ? *index_cell : Cell{type_integer, 0, uint32_t(index), 0});
    f.value(*value);
    return answer_in(series, f.call());
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    Forward f(*series, "put");
    f.value(*key);
    f.value(*value);
    f.flag(case_);
    return answer_in(series, f.call());
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    Forward f(*target, "modify");
    f.value(*field);
    f.value(*value);
    f.flag(case_);
    return answer_in(target, f.call());
}

Cell* rename(Cell* from, Cell* to) {
    Forward f(*from, "rename");
    f.value(*to);
    return answer_in(from, f.call());
}

// /allow follows the flags as a plain argument cell (none when absent).
Cell* open(Cell* port, bool new_, bool read_, bool write_, bool seek, Cell* allow) {
    Forward f(*port, "open");
    for (bool b : {new_, read_, write_, seek}) f.flag(b);
    f.value(allow ? *allow : none_t::value);
    return answer_in(port, f.call());
}

// ---- Making ---------------------------------------------------------------------

// system/standard/<name>, which the library's start-up makes. A script that
// replaced it with something other than an object gets no port from it.
Cell standard(const char* name) {
    const Cell* v = object_t::system_field({"standard", name});
    if (!v || type_of(*v) != type_object) raise_error(err_cat::access, err_id::access::invalid_port);
    return *v;
}

// Stores a field of a new port; a prototype without it is no port.
void set_field(const Cell& port, const char* name, const Cell& value) {
    int32_t i = object_t::find_field_index(port, field_word(name));
    if (i < 0) raise_error(err_cat::access, access::invalid_port);
    object_t::fields(port)[i] = value;
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    stack::Mark mark;
    Cell* s = stack::push_copy(*spec);
    if (type_of(*s) != type_object) {
        Cell* parts = stack::push_copy(standard("url-parts"));
        object_t::make(parts, s, type);
        *s = *parts;
    }
    Cell scheme = object_t::field_count(*s) > 0 ? object_t::fields(*s)[0] : none_t::value;
    if (type_of(scheme) != type_word) raise_error(err_cat::access, access::no_scheme, s);

    Cell* port = stack::push_copy(none_t::value);
    object_t::copy_into(standard("port"), *port, false, nullptr, true);
    set_type(*port, type_port);
    port->w2 = uint32_t(class_id);
    *context_t::self_slot(port->w1) = *port;
    set_field(*port, "spec", *s);
    set_field(*port, "scheme", scheme);

    const Cell* schemes = object_t::system_field({"schemes"});
    Cell found = schemes && type_of(*schemes) == type_block ? block_t::select_value(*schemes, scheme) : none_t::value;
    if (type_of(found) != type_object) raise_error(err_cat::access, access::unknown_scheme, s);
    Cell a = *object_t::select_field(found, field_word("actor"));
    if (type_of(a) != type_object && type_of(a) != type_handle) raise_error(err_cat::access, access::invalid_actor);
    set_field(*port, "actor", a);
    *proto = *port;
    mark.restore();
    return proto;
}

namespace {
int32_t put_text(Cell* buffer, const char* text, int32_t budget) {
    string_t::append_text(*buffer, text);
    return budget - int32_t(std::char_traits<char>::length(text));
}
}  // namespace

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell p = *value;
    if (series::mold_cycle(p, buffer->w2, budget, true)) return budget;
    budget = put_text(buffer, "make port! [", budget);
    budget = object_t::mold_fields(p, buffer, only, all, flat, part, budget, true, indent + 1, true);
    if (indent > 0) budget = checks::mold_indent(*buffer, indent, budget);
    return put_text(buffer, "]", budget);
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t budget) {
    return mold(value, buffer, false, false, false, part, budget, 0);
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool, bool, bool, Cell*) {
    stack::Mark mark;
    Cell* port = stack::push_copy(*source);
    Cell* result = stack::push_copy(none_t::value);
    Cell p = *port;
    open(&p, false, false, false, seek != nullptr, nullptr);
    p = *port;
    copy(&p, result, part, false, nullptr);
    p = *port;
    close(&p);
    *source = *result;
    mark.restore();
    return source;
}

Cell* write(Cell* target, Cell* data, bool, bool, bool, bool, Cell* part, Cell* seek, Cell*, Cell*) {
    stack::Mark mark;
    Cell* port = stack::push_copy(*target);
    Cell* held = stack::push_copy(*data);
    Cell* result = stack::push_copy(none_t::value);
    Cell p = *port;
    open(&p, false, false, true, seek != nullptr, nullptr);
    p = *port;
    Cell d = *held;
    int32_t n = part && type_of(*part) == type_integer ? integer_t::get(*part) : -1;
    insert(&p, &d, n, false, 1, false);
    p = *port;
    copy(&p, result, part, false, nullptr);
    p = *port;
    close(&p);
    *target = *result;
    mark.restore();
    return target;
}

void init() {
    using namespace registry;
    ActionFn row[action_count] = {};
    auto set = [&](Slot s, ActionFn f) { row[s - 1] = f; };
    set(slot_make, act(make));
    set(slot_reflect, inherit);
    set(slot_form, act(form));
    set(slot_mold, act(mold));
    set(slot_path_access, inherit);
    set(slot_compare, inherit);
    set(slot_append, act(insert));
    set(slot_at, act(at));
    set(slot_back, act(back));
    set(slot_change, act(change));
    set(slot_clear, act(clear));
    set(slot_copy, act(copy));
    set(slot_find, act(find));
    set(slot_head, act(head));
    set(slot_head_q, act(head_q));
    set(slot_index_q, act(index_q));
    set(slot_insert, act(insert));
    set(slot_length_q, act(length_q));
    set(slot_move, act(move));
    set(slot_next, act(next));
    set(slot_pick, act(pick));
    set(slot_poke, act(poke));
    set(slot_put, act(put));
    set(slot_remove, act(remove));
    set(slot_reverse, act(reverse));
    set(slot_select, act(select));
    set(slot_sort, act(sort));
    set(slot_skip, act(skip));
    set(slot_swap, act(swap));
    set(slot_tail, act(tail));
    set(slot_tail_q, act(tail_q));
    set(slot_take, act(take));
    set(slot_trim, act(trim));
    set(slot_create, act(create));
    set(slot_close, act(close));
    set(slot_delete, act(delete_));
    set(slot_modify, act(modify));
    set(slot_open, act(open));
    set(slot_query, act(query));
    set(slot_read, act(read));
    set(slot_rename, act(rename));
    set(slot_update, act(update));
    set(slot_write, act(write));
    register_datatype(type_port, type_object, "port!", row, action_count);
}

}  // namespace vyr::port_t
