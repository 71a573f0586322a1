// The value cell: every language value is 16 bytes, a header word and three
// payload words. The header's low byte is the type id; the upper bits are flags
// whose meaning belongs to the type (see the named constants below).
//
// Invariant: no native pointer is ever stored in a cell. A reference held in a
// payload word is a 32-bit handle (node index, table index, resource slot), so
// the collector may move any buffer without touching the cells that reach it.
#pragma once

#include <cstdint>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vyr {

struct Cell {
    uint32_t header;
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");
static_assert(std::is_trivially_copyable_v<Cell>);

// Writes a cell in one 16-byte store. A cell the compiler writes word by
// word and then reads whole (a 16-byte copy) cannot be served from the
// processor's store buffer: the read waits until the stores retire. Hot
// loops that store a value and soon copy it write it with this.
inline void store_whole(Cell& dst, const Cell& v) {
#if defined(__SSE2__)
    __m128i x = _mm_set_epi32(int(v.w3), int(v.w2), int(v.w1), int(v.header));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&dst), x);
#else
    dst = v;
#endif
}

// A node is a slot in the node table holding the current address of a series
// buffer; values refer to buffers only through nodes. 0 means "no node".
using NodeId = uint32_t;
inline constexpr NodeId no_node = 0;

// Type ids, as stored in bits 0-7 of a cell header.
enum TypeId : uint32_t {
    type_none_id = 0,  // not a type: row 0 of the tables is never used
    type_datatype = 1,
    type_unset = 2,
    type_none = 3,
    type_logic = 4,
    type_block = 5,
    type_paren = 6,
    type_string = 7,
    type_file = 8,
    type_url = 9,
    type_char = 10,
    type_integer = 11,
    type_float = 12,
    type_symbol = 13,
    type_context = 14,
    type_word = 15,
    type_set_word = 16,
    type_lit_word = 17,
    type_get_word = 18,
    type_refinement = 19,
    type_issue = 20,
    type_native = 21,
    type_action = 22,
    type_op = 23,
    type_function = 24,
    type_path = 25,
    type_lit_path = 26,
    type_set_path = 27,
    type_get_path = 28,
    type_routine = 29,
    type_bitset = 30,
    type_triple = 31,
    type_object = 32,
    type_typeset = 33,
    type_error = 34,
    type_vector = 35,
    type_hash = 36,
    type_pair = 37,
    type_percent = 38,
    type_tuple = 39,
    type_map = 40,
    type_binary = 41,
    type_series = 42,
    type_time = 43,
    type_tag = 44,
    type_email = 45,
    type_handle = 46,
    type_date = 47,
    type_port = 48,
    type_money = 49,
    type_ref = 50,
    type_point2d = 51,
    type_point3d = 52,
    type_image = 53,
    type_event = 54,
};
inline constexpr uint32_t type_count = 57;  // rows of the type tables (ids 0..56)

// Header layout.
namespace header {
inline constexpr uint32_t type_mask = 0xFF;
inline constexpr uint32_t new_line = 0x40000000;        // mold starts a new line before the value
inline constexpr uint32_t context_kind_mask = 0x1800;   // context!: kind
inline constexpr uint32_t context_kind_shift = 11;
inline constexpr uint32_t context_on_stack = 0x400000;  // context!: values live on the argument stack
inline constexpr uint32_t context_object = 0x1000000;   // context!: an object's context
inline constexpr uint32_t word_changed = 0x2000;        // object word table: value stored through it
inline constexpr uint32_t owned = 0x10000;              // image! watched / object owns watched series
inline constexpr uint32_t op_type_mask = 0xFF0000;      // op!: type of the wrapped callable
inline constexpr uint32_t op_type_shift = 16;
inline constexpr uint32_t event_in_block = 0x1000;      // event!: values stored in a block
inline constexpr uint32_t tuple_size_mask = 0x780000;   // tuple!: number of bytes
inline constexpr uint32_t tuple_size_shift = 19;
inline constexpr uint32_t routine_arity_mask = 0x3E000000;  // routine!: arity in bits 25-29
inline constexpr uint32_t routine_arity_shift = 25;
}  // namespace header

inline uint32_t type_of(const Cell& c) { return c.header & header::type_mask; }

// ---- Type groups -------------------------------------------------------------
// The fixed groups the runtime tests by type id. The typeset words of the
// same names (any-word! ...) may be redefined by scripts; these cannot.

// word! set-word! lit-word! get-word!
inline constexpr bool any_word_q(uint32_t t) { return t >= type_word && t <= type_get_word; }
// any-word!, refinement! and issue!
inline constexpr bool all_word_q(uint32_t t) { return t >= type_word && t <= type_issue; }
// path! lit-path! set-path! get-path!
inline constexpr bool any_path_q(uint32_t t) { return t >= type_path && t <= type_get_path; }
// block! paren! hash!
inline constexpr bool any_list_q(uint32_t t) { return t == type_block || t == type_paren || t == type_hash; }
inline constexpr bool any_block_q(uint32_t t) { return any_list_q(t) || any_path_q(t); }
// object! error! port!
inline constexpr bool any_object_q(uint32_t t) { return t == type_object || t == type_error || t == type_port; }
// native! action! op! function! routine!
inline constexpr bool any_function_q(uint32_t t) {
    return t == type_native || t == type_action || t == type_op || t == type_function || t == type_routine;
}
// integer! float! percent!
inline constexpr bool number_q(uint32_t t) { return t == type_integer || t == type_float || t == type_percent; }

// Replaces the type id and keeps the flag bits.
inline void set_type(Cell& c, uint32_t type) { c.header = (c.header & ~header::type_mask) | type; }

inline void clear_new_line_flag(Cell& c) { c.header &= ~header::new_line; }

inline Cell* copy_cell(const Cell* src, Cell* dst) {
    if (src != dst) *dst = *src;
    return dst;
}

// A double lives in payload words 2 and 3 (low word first).
inline double cell_float(const Cell& c) {
    uint64_t bits = (uint64_t(c.w3) << 32) | c.w2;
    double d;
    __builtin_memcpy(&d, &bits, sizeof d);
    return d;
}
inline void set_cell_float(Cell& c, double d) {
    uint64_t bits;
    __builtin_memcpy(&bits, &d, sizeof bits);
    c.w2 = uint32_t(bits);
    c.w3 = uint32_t(bits >> 32);
}

}  // namespace vyr
