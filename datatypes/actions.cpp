#include "datatypes/actions.h"

#include <cstdint>

#include "datatypes/datatype.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/port.h"
#include "datatypes/string.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "datatypes/frames.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"

namespace vyr::actions {

using namespace registry;
namespace sig = registry::action_sig;

namespace {

constexpr uint8_t refinements[action_count] = {
#define VYR_ACTION_REFINEMENTS(slot, name, word, refinements) refinements,
    VYR_ACTIONS(VYR_ACTION_REFINEMENTS)
#undef VYR_ACTION_REFINEMENTS
};

GenericEntry generic_table[action_count];

constexpr int32_t no_part_limit = INT32_MAX;  // part budget of form and mold without /part
constexpr uint32_t mold_buffer_units = 16;

Cell datatype_of(const Cell& v) { return datatype_t::value_of(type_of(v)); }
Cell integer_cell(int32_t n) { return Cell{type_integer, 0, uint32_t(n), 0}; }

Cell* base() { return stack::arg_base(); }
// The first argument cell of refinement i, or null when it was not used.
Cell* opt(const int32_t* refs, int i) { return refs[i] < 0 ? nullptr : base() + refs[i]; }
bool flag(const int32_t* refs, int i) { return refs[i] >= 0; }

// The result of a dispatcher that answers a cell: copied into the result
// cell unless it is that cell already (a null answer gives none).
void answer(const Cell* c) {
    if (!c) *base() = none_t::value;
    else if (c != base()) *base() = *c;
}

template <typename Sig>
Sig impl(const Cell& v, uint32_t slot) {
    return reinterpret_cast<Sig>(get_action_ptr(v, slot));
}

// Types whose values a /part count may be taken against: they have a
// buffer of elements.
bool part_series_q(const Cell& v) {
    switch (type_of(v)) {
        case type_block: case type_paren: case type_path: case type_lit_path: case type_set_path:
        case type_get_path: case type_hash: case type_string: case type_file: case type_url: case type_tag:
        case type_email: case type_ref: case type_binary: case type_vector: case type_image: case type_map:
            return v.w2 != no_node;
        default: return false;
    }
}

// Elements from the head to the tail of a series value.
int32_t series_length(const Cell& v) {
    if (type_of(v) == type_image) return int32_t(image_t::pixel_count(v));
    return int32_t(memory::series_length(v.w2));
}
void clamp_index(Cell& v) {
    if (int32_t(v.w1) > series_length(v)) v.w1 = uint32_t(series_length(v));
}

// The /part count of append, insert (limiting the value) and change
// (limiting the series): an integer!, or a position in the same buffer. A
// negative count moves `limited` back (not before its head) and counts the
// elements skipped. Answers false when nothing is to be done.
bool part_count(Cell& limited, Cell* part, int32_t& count) {
    if (!part_series_q(limited)) raise_error(err_cat::script, err_id::script::invalid_part, part);
    clamp_index(limited);
    if (type_of(*part) == type_integer) {
        count = integer_t::get(*part);
    } else if (type_of(*part) == type_of(limited) && part->w2 == limited.w2 && type_of(*part) != type_port) {
        clamp_index(*part);
        count = int32_t(part->w1) - int32_t(limited.w1);
    } else {
        Cell word = word_t::make_global("part");
        raise_error(err_cat::script, err_id::script::invalid_refine_arg, &word, part);
    }
    int32_t index = int32_t(limited.w1);
    if (count == 0 || (count < 0 && index == 0)) return false;
    if (count < 0) {
        int32_t from = index + count < 0 ? 0 : index + count;
        count = index - from;
        limited.w1 = uint32_t(from);
    }
    return true;
}

int32_t integer_arg(const Cell& c) {
    if (type_of(c) != type_integer) raise_error(err_cat::script, err_id::script::invalid_arg, &c);
    return integer_t::get(c);
}

// append*, insert*, change*: refinements /part, /only, /dup.
[[gnu::noinline]] void insert_like_entry(const int32_t* refs, uint32_t slot) {
    Cell* series = base();
    Cell* value = base() + 1;
    int32_t part = -1;
    if (Cell* p = opt(refs, 0)) {
        Cell& limited = slot == slot_change ? *series : *value;
        if (!part_count(limited, p, part)) return;
    }
    int32_t dup = 1;
    if (Cell* d = opt(refs, 2)) {
        dup = integer_arg(*d);
        if (dup < 1) return;
    }
    bool only = flag(refs, 1);
    if (slot == slot_change) answer(change(series, value, part, only, dup));
    else if (slot == slot_append) answer(append(series, value, part, only, dup));
    else answer(insert(series, value, part, only, dup));
}

// A new empty string! with room for n units.
Cell new_string(uint32_t units) {
    Cell s;
    string_t::make_at(s, units);
    return s;
}

// form* and mold*: /part must be an integer; a limit below 1 answers an
// empty string at once. The text is cut to the limit afterwards, since an
// item may overshoot the budget.
// The /part cell is handed on as a copy: the mold buffer is pushed over it.
template <bool Mold>
void text_entry(const int32_t* refs) {
    Cell* part_arg = Mold ? opt(refs, 3) : opt(refs, 0);
    int32_t limit = part_arg ? integer_arg(*part_arg) : no_part_limit;
    Cell part_copy = part_arg ? *part_arg : Cell{};
    Cell* part = part_arg ? &part_copy : nullptr;
    if (limit < 1) {
        stack::reset_with_result(new_string(mold_buffer_units));
        return;
    }
    stack::stack_keep();
    Cell* buffer = stack::push_copy(new_string(mold_buffer_units));
    if (Mold) mold(base(), buffer, flag(refs, 0), flag(refs, 1), flag(refs, 2), part, limit, 0);
    else form(base(), buffer, part, limit);
    if (part) string_t::truncate(buffer->w2, uint32_t(limit));
    stack::reset_with_result(*buffer);
}

// ---- The generic entries, in slot order ------------------------------------------

void make_entry(const int32_t*) { answer(make(base(), base() + 1)); }
void random_entry(const int32_t* r) { answer(random(base(), flag(r, 0), flag(r, 1), flag(r, 2))); }
void reflect_entry(const int32_t*) { answer(reflect(base(), base() + 1)); }
void to_entry(const int32_t*) { answer(to(base(), base() + 1)); }
void form_entry(const int32_t* r) { text_entry<false>(r); }
void mold_entry(const int32_t* r) { text_entry<true>(r); }
void path_access_entry(const int32_t* r) {
    answer(path_access(base(), base() + 1, opt(r, 0), nullptr, nullptr, nullptr, -1, false, false, true, false));
}
// absolute, add ... xor~ and the navigation actions: the implementation reads
// the stack and leaves the result at the base.
template <uint32_t Slot>
void direct_entry(const int32_t*) {
    impl<sig::direct>(*base(), Slot)();
}
void negate_entry(const int32_t*) { answer(negate(base())); }
void round_entry(const int32_t* r) {
    answer(round(base(), opt(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), flag(r, 5), flag(r, 6)));
}
void even_q_entry(const int32_t*) { logic_t::box(even_q(base())); }
void odd_q_entry(const int32_t*) { logic_t::box(odd_q(base())); }
void complement_entry(const int32_t*) { answer(complement(base())); }
// An append to a string! without /part or /dup (the commonest append) goes
// to the string's append at once, which answers the series in place.
void append_entry(const int32_t* r) {
    Cell* series = base();
    if (type_of(*series) != type_string || r[0] >= 0 || r[2] >= 0) return insert_like_entry(r, slot_append);
    string_t::append(series, series + 1, -1, flag(r, 1), 1, true);
}
void change_entry(const int32_t* r) { insert_like_entry(r, slot_change); }
void clear_entry(const int32_t*) { answer(clear(base())); }
// With /types the argument must be a datatype! or typeset! (spec word 5 of
// `value /part length /deep /types kind`).
void copy_entry(const int32_t* r) {
    constexpr uint32_t kind_word = 5;
    Cell* types = opt(r, 2);
    if (types && type_of(*types) != type_datatype && type_of(*types) != type_typeset)
        checks::raise_expect_arg(kind_word, *types);
    Cell* scratch = stack::push_cell();
    *scratch = none_t::value;
    answer(copy(base(), scratch, opt(r, 0), flag(r, 1), types));
}
void find_entry(const int32_t* r) {
    answer(find(base(), base() + 1, opt(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), opt(r, 5), opt(r, 6),
                flag(r, 7), flag(r, 8), flag(r, 9), flag(r, 10)));
}
void insert_entry(const int32_t* r) { insert_like_entry(r, slot_insert); }
void length_q_entry(const int32_t*) {
    int32_t n = length_q(base());
    *base() = n == -1 ? none_t::value : integer_cell(n);
}
void move_entry(const int32_t* r) { answer(move(base(), base() + 1, opt(r, 0))); }
void pick_entry(const int32_t*) { answer(pick(base(), pick_index(base()[1]), base() + 1)); }
void poke_entry(const int32_t*) { answer(poke(base(), pick_index(base()[1]), base() + 2, base() + 1)); }
// A map!'s put (the commonest put) goes to its implementation at once.
void put_entry(const int32_t* r) {
    Cell* series = base();
    if (type_of(*series) != type_map) return answer(put(series, series + 1, series + 2, flag(r, 0)));
    *series = *map_t::put(series, series + 1, series + 2, flag(r, 0));
}
void remove_entry(const int32_t* r) { answer(remove(base(), opt(r, 0), opt(r, 1))); }
void reverse_entry(const int32_t* r) { answer(reverse(base(), opt(r, 0), opt(r, 1))); }
// Kept out of line so that the map's path below sets up no more than it uses.
[[gnu::noinline]] void select_any(const int32_t* r) {
    answer(select(base(), base() + 1, opt(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), opt(r, 5),
                  opt(r, 6), flag(r, 7), flag(r, 8)));
}
// A map!'s select (a lookup by key, the commonest select) goes to its
// implementation at once: it reads only /case and /same.
void select_entry(const int32_t* r) {
    Cell* series = base();
    if (type_of(*series) != type_map) return select_any(r);
    map_t::select_key(series, series[1], flag(r, 2), flag(r, 3));
}
void sort_entry(const int32_t* r) {
    answer(sort(base(), flag(r, 0), opt(r, 1), opt(r, 2), opt(r, 3), flag(r, 4), flag(r, 5), flag(r, 6)));
}
void swap_entry(const int32_t*) { answer(swap(base(), base() + 1)); }
void take_entry(const int32_t* r) { answer(take(base(), opt(r, 0), flag(r, 1), flag(r, 2))); }
void trim_entry(const int32_t* r) {
    answer(trim(base(), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), opt(r, 5)));
}
void create_entry(const int32_t*) { answer(create(base())); }
void close_entry(const int32_t*) { answer(close(base())); }
void delete_entry(const int32_t*) { answer(delete_(base())); }
void modify_entry(const int32_t* r) { answer(modify(base(), base() + 1, base() + 2, flag(r, 0))); }
void open_entry(const int32_t* r) {
    answer(open(base(), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), opt(r, 4)));
}
void open_q_entry(const int32_t*) { answer(open_q(base())); }
void query_entry(const int32_t*) { answer(query(base())); }
void read_entry(const int32_t* r) {
    answer(read(base(), opt(r, 0), opt(r, 1), flag(r, 2), flag(r, 3), flag(r, 4), opt(r, 5)));
}
void rename_entry(const int32_t*) { answer(rename(base(), base() + 1)); }
void update_entry(const int32_t*) { answer(update(base())); }
void write_entry(const int32_t* r) {
    answer(write(base(), base() + 1, flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), opt(r, 4), opt(r, 5),
                 opt(r, 6), opt(r, 7)));
}

// The entries of the slots without one of their own.
constexpr GenericEntry path_assign_entry = nullptr;  // no action
constexpr GenericEntry compare_entry = nullptr;      // compare takes machine arguments
#define VYR_DIRECT_ENTRY(name) constexpr GenericEntry name##_entry = direct_entry<slot_##name>;
VYR_DIRECT_ENTRY(absolute) VYR_DIRECT_ENTRY(add) VYR_DIRECT_ENTRY(divide) VYR_DIRECT_ENTRY(multiply)
VYR_DIRECT_ENTRY(power) VYR_DIRECT_ENTRY(remainder) VYR_DIRECT_ENTRY(subtract) VYR_DIRECT_ENTRY(and_t)
VYR_DIRECT_ENTRY(or_t) VYR_DIRECT_ENTRY(xor_t) VYR_DIRECT_ENTRY(at) VYR_DIRECT_ENTRY(back) VYR_DIRECT_ENTRY(head)
VYR_DIRECT_ENTRY(head_q) VYR_DIRECT_ENTRY(index_q) VYR_DIRECT_ENTRY(next) VYR_DIRECT_ENTRY(skip)
VYR_DIRECT_ENTRY(tail) VYR_DIRECT_ENTRY(tail_q)
#undef VYR_DIRECT_ENTRY

constexpr GenericEntry entries[action_count] = {
#define VYR_GENERIC_ENTRY(slot, name, word, refinements) name##_entry,
    VYR_ACTIONS(VYR_GENERIC_ENTRY)
#undef VYR_GENERIC_ENTRY
};

// Copies n entries into the generic table from slot 1.
void actions_append(uint32_t n, const GenericEntry* list) {
    for (uint32_t i = 0; i < n && i < action_count; ++i) generic_table[i] = list[i];
}

// Comparison codes after which a -2 answer is an error: the orderings.
bool ordering_q(int32_t op) {
    switch (op) {
        case op_equal: case op_not_equal: case op_strict_equal: case op_same: case op_strict_word_equal:
        case op_word_equal: case op_find:
            return false;
        default: return true;
    }
}

int32_t sign_of(int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }
}  // namespace

uint32_t refinement_count(uint32_t slot) { return slot >= 1 && slot <= action_count ? refinements[slot - 1] : 0; }

void actions_init() { actions_append(action_count, entries); }

GenericEntry entry(uint32_t slot) { return slot >= 1 && slot <= action_count ? generic_table[slot - 1] : nullptr; }

// ---- Looking up implementations --------------------------------------------

ActionFn get_action_ptr_slow(uint32_t type, const Cell& value, uint32_t slot) {
    if (ActionFn native = port_t::native_action(value, slot)) return native;
    ActionFn fn = get_action(type, slot);
    if (fn) return fn;
    checks::raise_expect_arg(0, value);
}

ActionFn get_action_ptr(uint32_t slot) { return get_action_ptr(*stack::arg_base(), slot); }

sig::path_access get_path_access_ptr(const Cell& value, const Cell& element, const Cell* path, int32_t index) {
    if (ActionFn fn = get_action(type_of(value), slot_path_access)) return reinterpret_cast<sig::path_access>(fn);
    Cell datatype = datatype_of(value);
    if (!path) raise_error(err_cat::script, err_id::script::bad_path_type2, &element, &datatype);
    uint32_t keep = index < 0 ? 0 : uint32_t(index) + 1;
    Cell cut{type_of(*path), 0, series::copy_series_part(path->w2, path->w1, keep), 0};
    raise_error(err_cat::script, err_id::script::bad_path_type, path, &datatype, &cut);
}

// ---- Typed dispatchers ---------------------------------------------------------

namespace {
// The type make and to build: the one a datatype! names, else the prototype's.
uint32_t target_type(const Cell& proto) { return type_of(proto) == type_datatype ? proto.w1 : type_of(proto); }
}  // namespace

Cell* make(Cell* proto, Cell* spec) {
    uint32_t type = target_type(*proto);
    return reinterpret_cast<sig::make>(get_action_ptr_from(type, *proto, slot_make))(proto, spec, type);
}
Cell* random(Cell* v, bool seed, bool secure, bool only) {
    return impl<sig::random>(*v, slot_random)(v, seed, secure, only);
}
Cell* reflect(Cell* v, Cell* field) { return impl<sig::reflect>(*v, slot_reflect)(v, field); }
Cell* to(Cell* proto, Cell* spec) {
    uint32_t type = target_type(*proto);
    return reinterpret_cast<sig::make>(get_action_ptr_from(type, *proto, slot_to))(proto, spec, type);
}
int32_t form(Cell* v, Cell* buffer, Cell* part, int32_t budget) {
    return impl<sig::form>(*v, slot_form)(v, buffer, part, budget);
}
int32_t mold(Cell* v, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    return impl<sig::mold>(*v, slot_mold)(v, buffer, only, all, flat, part, budget, indent);
}
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event) {
    return get_path_access_ptr(*parent, *element, path, index)(parent, element, value, path, grand_parent, previous,
                                                              index, case_, get, tail, event);
}
Cell* negate(Cell* v) { return impl<sig::unary>(*v, slot_negate)(v); }
Cell* round(Cell* v, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling, bool half_ceiling) {
    return impl<sig::round>(*v, slot_round)(v, scale, even, down, half_down, floor, ceiling, half_ceiling);
}
bool even_q(Cell* v) { return impl<sig::predicate>(*v, slot_even_q)(v); }
bool odd_q(Cell* v) { return impl<sig::predicate>(*v, slot_odd_q)(v); }
Cell* complement(Cell* v) { return impl<sig::unary>(*v, slot_complement)(v); }
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return impl<sig::insert>(*series, slot_append)(series, value, part, only, dup, true);
}
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return impl<sig::change>(*series, slot_change)(series, value, part, only, dup);
}
Cell* clear(Cell* series) { return impl<sig::unary>(*series, slot_clear)(series); }
Cell* copy(Cell* v, Cell* result, Cell* part, bool deep, Cell* types) {
    return impl<sig::copy>(*v, slot_copy)(v, result, part, deep, types);
}
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    return impl<sig::find>(*series, slot_find)(series, value, part, only, case_, same, any, with, skip, last, reverse,
                                               tail, match);
}
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return impl<sig::insert>(*series, slot_insert)(series, value, part, only, dup, false);
}
int32_t length_q(Cell* v) { return impl<sig::length>(*v, slot_length_q)(v); }
Cell* move(Cell* origin, Cell* target, Cell* part) { return impl<sig::move>(*origin, slot_move)(origin, target, part); }
Cell* pick(Cell* series, int32_t index, Cell* index_cell) {
    return impl<sig::pick>(*series, slot_pick)(series, index, index_cell);
}
Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell) {
    return impl<sig::poke>(*series, slot_poke)(series, index, value, index_cell);
}
Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    return impl<sig::put>(*series, slot_put)(series, key, value, case_);
}
Cell* remove(Cell* series, Cell* part, Cell* key) { return impl<sig::remove>(*series, slot_remove)(series, part, key); }
Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    return impl<sig::reverse>(*series, slot_reverse)(series, part, skip);
}
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse) {
    return impl<sig::select>(*series, slot_select)(series, value, part, only, case_, same, any, with, skip, last,
                                                   reverse);
}
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    return impl<sig::sort>(*series, slot_sort)(series, case_, skip, comparator, part, all, reverse, stable);
}
Cell* swap(Cell* a, Cell* b) { return impl<sig::swap>(*a, slot_swap)(a, b); }
Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    return impl<sig::take>(*series, slot_take)(series, part, deep, last);
}
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return impl<sig::trim>(*series, slot_trim)(series, head, tail, auto_, lines, all, with);
}
Cell* create(Cell* target) { return impl<sig::port_unary>(*target, slot_create)(target); }
Cell* close(Cell* target) { return impl<sig::port_unary>(*target, slot_close)(target); }
Cell* delete_(Cell* target) { return impl<sig::port_unary>(*target, slot_delete)(target); }
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    return impl<sig::modify>(*target, slot_modify)(target, field, value, case_);
}
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return impl<sig::open>(*port, slot_open)(port, new_, read, write, seek, allow);
}
Cell* open_q(Cell* target) { return impl<sig::port_unary>(*target, slot_open_q)(target); }
Cell* query(Cell* target) { return impl<sig::port_unary>(*target, slot_query)(target); }
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    return impl<sig::read>(*source, slot_read)(source, part, seek, binary, lines, info, as);
}
Cell* rename(Cell* from, Cell* to) { return impl<sig::rename>(*from, slot_rename)(from, to); }
Cell* update(Cell* target) { return impl<sig::port_unary>(*target, slot_update)(target); }
Cell* write(Cell* target, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    return impl<sig::write>(*target, slot_write)(target, data, binary, lines, info, append, part, seek, allow, as);
}

int32_t pick_index(const Cell& index) {
    switch (type_of(index)) {
        case type_logic: return index.w1 ? 1 : 2;
        case type_integer: case type_char: return integer_t::get(index);
        default: return 0;
    }
}

// ---- Comparison ------------------------------------------------------------------

bool compare(Cell* a, Cell* b, int32_t op) {
    auto fn = action<sig::compare>(type_of(*a), slot_compare);
    int32_t r = fn ? fn(a, b, op) : not_comparable;
    if (r == not_comparable && ordering_q(op)) raise_error(err_cat::script, err_id::script::invalid_compare, a, b);
    switch (op) {
        case op_equal: case op_strict_equal: case op_same: case op_strict_word_equal: case op_word_equal:
        case op_find:
            return r == 0;
        case op_not_equal: return r != 0;
        case op_lesser: return r < 0;
        case op_lesser_or_equal: return r < 1;
        case op_greater: return r >= 1;
        case op_greater_or_equal: return r >= 0;
        default: runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
    }
}

void compare_op(int32_t op) {
    Cell* b = base();
    logic_t::make_at(b, compare(b, b + 1, op));
}

int32_t compare_cells(Cell* a, Cell* b, int32_t op) {
    switch (type_of(*a)) {
        case type_logic: return int32_t(a->w1) - int32_t(b->w1);
        case type_native: case type_action: case type_op: return sign_of(int64_t(int32_t(a->w1)) - int32_t(b->w1));
        case type_function: case type_routine: return sign_of(int64_t(a->w3) - int64_t(b->w3));
        default: {
            auto fn = action<sig::compare>(type_of(*a), slot_compare);
            return fn ? fn(a, b, op) : not_comparable;
        }
    }
}

}  // namespace vyr::actions
