// series!: the abstract parent of every series type (block!, string! and
// their children, binary!, vector!, image!). No value carries type 42; the
// module supplies the generic series actions that the children inherit.
//
// A series value keeps its index (a signed count of units from the buffer's
// head) in payload word 1 and its node in word 2; word 3 belongs to the type
// (vector!'s element type, hash!'s table, string!'s UTF-8 cache). Every
// position below is in units: the buffer's unit width says how many bytes
// one element takes (1, 2 or 4 for text and vectors, 16 for cells).
//
// Invariants kept by every action here:
//  - no action reads or writes outside head..tail of the buffer, whatever
//    the index or the /part argument says (counts are cut to what exists);
//  - an action that changes a buffer tells the series' owner before and
//    after the change (owner notification), and re-reads the buffer after
//    the first notification, since the owner's handler may run Vyr code.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyr::series_t {

// ---- Reading a series value ------------------------------------------------

inline int32_t index_of(const Cell& v) { return int32_t(v.w1); }
inline NodeId node_of(const Cell& v) { return v.w2; }
inline void set_index(Cell& v, int32_t i) { v.w1 = uint32_t(i); }
// Bytes per element of the value's buffer.
inline uint32_t unit_of(const Cell& v) { return memory::buffer_of(v.w2)->unit(); }

// Pixels of an image! (its buffer's units are not its elements).
int32_t image_length(const Cell& v);
// Elements between head and tail (the index is ignored).
inline int32_t buffer_length(const Cell& v) {
    if (type_of(v) == type_image) [[unlikely]] return image_length(v);
    return int32_t(memory::series_length(node_of(v)));
}
// True when the position is at or past the tail.
inline bool at_tail_q(const Cell& v) { return index_of(v) >= buffer_length(v); }
// Adds n to the index when the new position stays at or before the tail
// (else leaves it); answers true when the requested position is at or past
// the tail.
bool advance(Cell& v, int32_t n);
// Elements from the index (from the head with `from_head`) to the tail. A
// negative index counts as 0; an index past the tail is first set to it.
int32_t length_at(Cell& v, bool from_head = false);
// The new index for `at` (base 1) and `skip` (base 0): index + offset -
// base, where `at` uses base 1 only for an offset of 1 or more; clamped to
// 0..length from the head.
int32_t offset_index(const Cell& v, int32_t offset, int32_t base);

// ---- Kinds of series ---------------------------------------------------------

// block!, paren!, the four path types and hash!: buffers of value cells.
inline bool block_family_q(uint32_t type) {
    switch (type) {
        case type_block: case type_paren: case type_path: case type_lit_path: case type_set_path:
        case type_get_path: case type_hash: return true;
        default: return false;
    }
}
// string!, file!, url!, tag!, email!, ref!: text buffers.
inline bool text_family_q(uint32_t type) {
    switch (type) {
        case type_string: case type_file: case type_url: case type_tag: case type_email: case type_ref: return true;
        default: return false;
    }
}
// Any type whose values are series: the two families, binary!, vector!, image!.
bool series_type_q(uint32_t type);

// ---- Elements ----------------------------------------------------------------

// The element at unit i of the value's buffer, as a value: the cell itself
// for cell buffers, char! for text, integer! 0..255 for binary!. Writes it
// into `out` (which may be the series cell itself).
void element_at(const Cell& series, uint32_t i, Cell& out);

// ---- Owner notification ------------------------------------------------------
// Every change of a buffer is announced to the series' owner (an object
// that watches it) before it happens, and once more after it when the
// series has an owner. The action names come in pairs: "append" before,
// "appended" after. A hash! keeps its table in step with each change.

enum class Change : uint32_t { append, insert, change, clear, move, poke, put, remove, random, reverse, sort, swap,
                               take, trim };
// Called before a change. Answers true when the series is owned: the caller
// must then call notify_after once the change is done. The owner's handler
// runs Vyr code, which may collect, move every buffer and change the series
// itself. Hence the rule for every action that notifies: positions are kept
// as indexes and clamped again after notify_before; the series and the value
// passed here are rooted for the handler's run (it receives them); anything
// the action made (its answer) is stored in a rooted cell, normally the
// action's result cell, before notify_after, never held in a C++ local.
bool notify_owned(const Cell& series, Change c, const Cell* value, int32_t position, int32_t part);
inline bool notify_before(const Cell& series, Change c, const Cell* value, int32_t position, int32_t part) {
    if (!(memory::buffer_of(node_of(series))->flags & memory::flag::owned)) return false;
    return notify_owned(series, c, value, position, part);
}
void notify_after(const Cell& series, Change c, const Cell* value, int32_t position, int32_t part);
// Overwrites the cell of a block-family series that the 1-based path index
// `n` names with a value a set-path changed in place (a pair's x...), and
// tells the owner once with `set-path`. An index outside the series (a
// handler shortened it) stores nothing.
void store_changed(const Cell& series, int32_t n, const Cell& value);

// ---- Shared pieces of the actions --------------------------------------------

// The count a /part argument gives for `series`: an integer! (or float!,
// truncated) as it is, or a position in the same buffer of the same type,
// which gives its index minus the series' index. Anything else raises
// script `invalid-refine-arg` with the word /part and the argument.
int32_t part_count(const Cell& series, const Cell& part);

// A new series value of the type of `like` (payload word 3 kept for
// vector! and hash!) at index 0 holding a copy of `count` units from unit
// `from` of its buffer; the buffer carries the source's flags but not its
// owned bit. Written into `out`.
void copy_units(const Cell& like, uint32_t from, uint32_t count, Cell& out);

// ---- Actions (argument orders as the action table gives them) ---------------

Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, Cell* field);
Cell* at();
Cell* back();
Cell* clear(Cell* series);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* head();
Cell* head_q();
Cell* index_q();
int32_t length_q(Cell* value);
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* next();
Cell* pick(Cell* series, int32_t index, Cell* index_cell);
Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_cell);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
Cell* skip();
Cell* tail();
Cell* tail_q();
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_);

void init();

}  // namespace vyr::series_t
