// The datatype registry: the type-name table and the action table.
//
// Every datatype module hands one registration row to `register_datatype` at
// start-up: its type id, its parent and one entry per action slot (62 in all).
// An entry is an implementation, `unsupported` (the type has no such action)
// or `inherit` (take the parent's entry). Inheritance is resolved once, when
// the child registers, so parents register before their children.
//
// Implementations are plain functions whose signature depends on the slot
// (namespace `action_sig`). The table stores them type-erased; the generic
// entry of a slot casts back with `action<Sig>(type, slot)`. The first
// argument cell doubles as the result cell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "runtime/cell.h"

namespace vyr::registry {

// X(slot, C++ name, word, refinements) for every action slot, numbered from 1
// as the language numbers them: the word boot/actions.vyr binds to the
// action! of that slot (null: the slot has no word), and how many
// refinements the action's spec has, one position each for its generic
// entry (datatypes/actions.h). This is the one table of the actions.
#define VYR_ACTIONS(X)                                                                                           \
    X(1, make, "make", 0) X(2, random, "random", 3) X(3, reflect, "reflect", 0) X(4, to, "to", 0)                \
    X(5, form, "form", 1) X(6, mold, "mold", 4) X(7, path_access, nullptr, 1) X(8, path_assign, nullptr, 0)      \
    X(9, compare, nullptr, 0) X(10, absolute, "absolute", 0) X(11, add, "add", 0) X(12, divide, "divide", 0)     \
    X(13, multiply, "multiply", 0) X(14, negate, "negate", 0) X(15, power, "power", 0)                           \
    X(16, remainder, "remainder", 0) X(17, round, "round", 7) X(18, subtract, "subtract", 0)                     \
    X(19, even_q, "even?", 0) X(20, odd_q, "odd?", 0) X(21, and_t, "and~", 0) X(22, complement, "complement", 0) \
    X(23, or_t, "or~", 0) X(24, xor_t, "xor~", 0) X(25, append, "append", 3) X(26, at, "at", 0)                  \
    X(27, back, "back", 0) X(28, change, "change", 3) X(29, clear, "clear", 0) X(30, copy, "copy", 3)            \
    X(31, find, "find", 11) X(32, head, "head", 0) X(33, head_q, "head?", 0) X(34, index_q, "index?", 0)         \
    X(35, insert, "insert", 3) X(36, length_q, "length?", 0) X(37, move, "move", 1) X(38, next, "next", 0)       \
    X(39, pick, "pick", 0) X(40, poke, "poke", 0) X(41, put, "put", 1) X(42, remove, "remove", 2)                \
    X(43, reverse, "reverse", 2) X(44, select, "select", 9) X(45, sort, "sort", 7) X(46, skip, "skip", 0)        \
    X(47, swap, "swap", 0) X(48, tail, "tail", 0) X(49, tail_q, "tail?", 0) X(50, take, "take", 3)               \
    X(51, trim, "trim", 6) X(52, create, "create", 0) X(53, close, "close", 0) X(54, delete, "delete", 0)        \
    X(55, modify, "modify", 1) X(56, open, "open", 5) X(57, open_q, "open?", 0) X(58, query, "query", 0)         \
    X(59, read, "read", 6) X(60, rename, "rename", 0) X(61, update, "update", 0) X(62, write, "write", 8)

enum Slot : uint32_t {
#define VYR_ACTION_SLOT(slot, name, word, refinements) slot_##name = slot,
    VYR_ACTIONS(VYR_ACTION_SLOT)
#undef VYR_ACTION_SLOT
};
inline constexpr uint32_t action_count = 62;

// Comparison operator codes handed to the compare slot.
enum CompareOp : int32_t {
    op_equal = 0, op_not_equal = 1, op_strict_equal = 2, op_lesser = 3, op_lesser_or_equal = 4,
    op_greater = 5, op_greater_or_equal = 6, op_sort = 7, op_case_sort = 8, op_same = 9,
    op_strict_word_equal = 10, op_word_equal = 11, op_find = 12,
};
// What a compare slot answers when the two values cannot be compared.
inline constexpr int32_t not_comparable = -2;

// A type-erased implementation.
using ActionFn = void (*)();
inline const ActionFn unsupported = nullptr;
inline const ActionFn inherit = reinterpret_cast<ActionFn>(~uintptr_t(0));

template <typename F>
inline ActionFn act(F f) { return reinterpret_cast<ActionFn>(f); }

// The signature of each slot. An optional refinement argument cell is null
// when the refinement was not used; flags arrive as bool.
namespace action_sig {
using make = Cell* (*)(Cell* proto, Cell* spec, uint32_t type);  // also `to`
using random = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using reflect = Cell* (*)(Cell* value, Cell* field);
using form = int32_t (*)(Cell* value, Cell* buffer, Cell* part, int32_t budget);
using mold = int32_t (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget,
                         int32_t indent);
using path_access = Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                              Cell* previous, int32_t index, bool case_, bool get, bool tail, bool event);
using compare = int32_t (*)(Cell* a, Cell* b, int32_t op);
// absolute, add, divide, multiply, power, remainder, subtract, and~, or~, xor~,
// at, back, head, head?, index?, next, skip, tail, tail?: operands are read
// from the argument base (and the next cell); the result is left there.
using direct = Cell* (*)();
using unary = Cell* (*)(Cell* value);              // negate, complement, clear
using predicate = bool (*)(Cell* value);            // even?, odd?
using round = Cell* (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
                        bool ceiling, bool half_ceiling);
using insert = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
using change = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using copy = Cell* (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
using find = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                       Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using select = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                         Cell* with, Cell* skip, bool last, bool reverse);
using length = int32_t (*)(Cell* value);  // -1 means none
using move = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using pick = Cell* (*)(Cell* series, int32_t index, Cell* index_cell);
using poke = Cell* (*)(Cell* series, int32_t index, Cell* value, Cell* index_cell);
using put = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using remove = Cell* (*)(Cell* series, Cell* part, Cell* key);
using reverse = Cell* (*)(Cell* series, Cell* part, Cell* skip);
using sort = Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
                       bool reverse, bool stable);
using swap = Cell* (*)(Cell* a, Cell* b);
using take = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using trim = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using modify = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
// Port actions take the target and the refinements of the action's spec.
using port_unary = Cell* (*)(Cell* target);                       // create close delete open? query update
using rename = Cell* (*)(Cell* from, Cell* to);
using open = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
using read = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using write = Cell* (*)(Cell* target, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                        Cell* seek, Cell* allow, Cell* as);
}  // namespace action_sig

// One row of the type-name table.
struct TypeName {
    const char* name = nullptr;  // with its final "!"
    uint32_t length = 0;         // without the "!"
    Cell word{};                 // the word of the full name, once words exist
};

// Allocates (clears) both tables. Called once at start-up.
void type_tables_init();

// Registers a datatype. `slots` must hold exactly 62 entries; any other count
// prints the "*** Datatype Error" report and ends the process with status 0.
void register_datatype(uint32_t type, uint32_t parent, const char* name, const ActionFn* slots, size_t count);

// A registration row, built by naming slots. Every datatype module registers
// through one:
//     registry::Row row;                       // every slot unsupported
//     row.inherit({slot_at, slot_back});       // the parent's entries
//     row.set(slot_make, make).set(slot_to, make);
//     row.register_as(type_block, type_series, "block!");
class Row {
public:
    Row() {
        for (ActionFn& slot : slots_) slot = unsupported;
    }
    template <typename F>
    Row& set(Slot slot, F fn) {
        slots_[slot - 1] = act(fn);
        return *this;
    }
    Row& inherit(std::initializer_list<Slot> slots) {
        for (Slot s : slots) slots_[s - 1] = registry::inherit;
        return *this;
    }
    // Every slot from `first` to `last`, both included.
    Row& inherit(Slot first, Slot last) {
        for (uint32_t s = first; s <= last; ++s) slots_[s - 1] = registry::inherit;
        return *this;
    }
    Row& drop(std::initializer_list<Slot> slots) {
        for (Slot s : slots) slots_[s - 1] = unsupported;
        return *this;
    }
    Row& drop(Slot first, Slot last) {
        for (uint32_t s = first; s <= last; ++s) slots_[s - 1] = unsupported;
        return *this;
    }
    void register_as(uint32_t type, uint32_t parent, const char* name) const {
        register_datatype(type, parent, name, slots_, action_count);
    }

private:
    ActionFn slots_[action_count];
};

namespace detail {
// One row per possible header type byte, so that any cell indexes safely;
// rows of ids that never register stay empty.
inline constexpr uint32_t table_rows = header::type_mask + 1;
extern ActionFn action_table[table_rows][action_count];
}  // namespace detail

// The implementation of `slot` for `type` (null when unsupported).
inline ActionFn get_action(uint32_t type, uint32_t slot) {
    return detail::action_table[type & header::type_mask][slot - 1];
}

// The implementation cast to its slot's signature.
template <typename Sig>
inline Sig action(uint32_t type, uint32_t slot) { return reinterpret_cast<Sig>(get_action(type, slot)); }

const TypeName& type_name(uint32_t type);
void set_type_word(uint32_t type, const Cell& word);
uint32_t highest_type();

}  // namespace vyr::registry
