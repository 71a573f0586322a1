// The lexer: UTF-8 source text to values.
//
// A deterministic automaton driven by three read-only tables (byte classes,
// transitions, per-state data) finds the extent and the kind of the next
// token, one table lookup and one transition per byte. What a token means is
// decided afterwards, once per token: structural tokens (brackets, strings,
// paths, comments) by a scanner, value tokens (numbers, words, dates ...) by
// a loader that checks the text and builds the value.
//
// Invariants:
//   - every active scan owns a record on one chain, in the order the scans
//     were opened; a scan nested inside a trace callback or a loader appends
//     its record and removes it when it ends, whatever way it ends;
//   - values are built in one shared output buffer of cells, each scan above
//     its parent's tail; a record names its head, innermost container and
//     tail by cell index, so growing the buffer moves nothing the records
//     hold. The cells between head and tail of every record, its source and
//     its callback are roots of the collector;
//   - a container is open while its marker cell (internal type 31) sits in
//     the output; closing it copies the cells after the marker into a block
//     written over the marker, so the collector never sees half-built blocks;
//   - catch code 10 (catch_code::lexer_abort) is the lexer's private stop:
//     the check-only modes, a callback answering false and one value found
//     end the loop with it, and only the lexer catches it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyr::lexer {

// ---- Byte classes -------------------------------------------------------------
// byte_class[b]: the class of byte b in bits 0-7, token flag bits above.

enum ByteClass : uint8_t {
    c_blank = 0,  // tab, CR, space
    c_line = 1,   // LF
    c_digit = 2,  // 1-9
    c_zero = 3,
    c_block_open = 4,
    c_block_close = 5,
    c_paren_open = 6,
    c_paren_close = 7,
    c_brace_open = 8,
    c_brace_close = 9,
    c_quote = 10,
    c_hash = 11,
    c_apostrophe = 12,
    c_colon = 13,
    c_x = 14,          // x X
    c_t = 15,          // T
    c_h = 16,          // h
    c_e = 17,          // e
    c_e_upper = 18,    // E
    c_hex_lower = 19,  // a b c d f
    c_hex_upper = 20,  // A B C D F
    c_slash = 21,
    c_backslash = 22,
    c_less = 23,
    c_greater = 24,
    c_equal = 25,
    c_percent = 26,
    c_comma = 27,
    c_semicolon = 28,
    c_at = 29,
    c_point = 30,
    c_dollar = 31,
    c_plus = 32,
    c_minus = 33,
    c_caret = 34,
    c_control = 35,       // control bytes other than tab, LF, CR and NUL
    c_continuation = 36,  // 0x7F and UTF-8 continuation bytes
    c_letter = 37,        // other letters and word characters, UTF-8 lead bytes
    c_invalid = 38,       // bytes never valid in UTF-8
    c_end = 39,           // NUL, and the end of the input
};
inline constexpr uint32_t class_count = 40;
inline constexpr uint32_t class_mask = 0xFF;

// Token flags: the flag bits of every byte the automaton read for a token,
// the byte that ended it included, ORed together.
namespace flag {
inline constexpr uint32_t multiline = 0x00020000;  // set by the multi-line string scanner only
inline constexpr uint32_t percent = 0x00040000;
inline constexpr uint32_t greater = 0x00080000;
inline constexpr uint32_t lesser = 0x00100000;
inline constexpr uint32_t sign = 0x00200000;
inline constexpr uint32_t nul = 0x00400000;
inline constexpr uint32_t hash = 0x00800000;
inline constexpr uint32_t exponent = 0x01000000;
inline constexpr uint32_t apostrophe = 0x02000000;
inline constexpr uint32_t colon = 0x04000000;
inline constexpr uint32_t comma = 0x08000000;
inline constexpr uint32_t point = 0x10000000;
inline constexpr uint32_t caret = 0x20000000;
inline constexpr uint32_t lead_2_3 = 0x40000000;  // a two- or three-byte UTF-8 sequence
inline constexpr uint32_t lead_4 = 0x80000000;    // a four-byte UTF-8 sequence
inline constexpr uint32_t width_shift = 30;       // flags >> 30: 0, 1 or 2 (3 when both)
}  // namespace flag

// Bytes per character of a string token: 1 for ASCII, 2 when a two- or
// three-byte sequence occurs, 4 when a four-byte one does.
constexpr uint32_t unit_of_flags(uint32_t flags) {
    uint32_t unit = 1u << (flags >> flag::width_shift);
    return unit > 4 ? 4 : unit;
}

extern const std::array<uint32_t, 256> byte_class;

// ---- States and token kinds -------------------------------------------------

inline constexpr uint32_t state_count = 65;   // automaton states 0..64
inline constexpr uint32_t final_base = 65;    // final state = final_base + kind
inline constexpr uint32_t first_final = 66;
inline constexpr uint32_t last_final = 101;
inline constexpr uint32_t state_table_size = 104;

// Where the automaton starts reading a token.
enum StartState : uint32_t {
    start_normal = 0,
    start_brace_string = 4,  // inside a multi-line string {...}
    start_point = 35,        // inside a point literal (x, y)
    start_path = 59,         // after a "/" inside a path
};

enum Kind : uint32_t {
    kind_end = 1,
    kind_invalid = 2,
    kind_block_open = 3,
    kind_block_close = 4,
    kind_paren_open = 5,
    kind_paren_close = 6,
    kind_brace_open = 7,
    kind_brace_close = 8,
    kind_map_open = 9,
    kind_path = 10,  // a word followed by "/"
    kind_construct = 11,
    kind_comment = 12,
    kind_comma = 13,
    kind_string = 14,
    kind_word = 15,
    kind_issue = 16,
    kind_integer = 17,
    kind_refinement = 18,
    kind_char = 19,
    kind_file = 20,
    kind_binary = 21,
    kind_percent = 22,
    kind_float = 23,
    kind_float_special = 24,
    kind_tuple = 25,
    kind_date = 26,
    kind_pair = 27,
    kind_point = 28,
    kind_time = 29,
    kind_money = 30,
    kind_tag = 31,
    kind_url = 32,
    kind_email = 33,
    kind_hex_integer = 34,
    kind_raw_string = 35,
    kind_ref = 36,
};
inline constexpr uint32_t kind_count = 36;
constexpr uint32_t final_state(uint32_t kind) { return final_base + kind; }
constexpr uint32_t kind_of_state(uint32_t state) { return state - final_base; }

// Final states below this one are structural: their scanner runs in every mode.
inline constexpr uint32_t first_value_state = final_base + kind_string;  // 79

extern const std::array<std::array<uint8_t, class_count>, state_count> transition;
extern const std::array<uint8_t, state_table_size> skip_count;  // 1 for state 0: blanks before a token
extern const std::array<uint8_t, state_table_size> state_type;  // datatype of a state or final state, or 0
extern const std::array<uint8_t, class_count> line_increment;   // 1 for LF
extern const std::array<uint8_t, class_count> path_end;         // 1 where a byte after a segment ends a path

// Code points that separate words besides the ASCII blanks (no-break space,
// the typographic spaces, line and paragraph separators ...).
bool unicode_blank(uint32_t cp);

// One run of the automaton from `p`: the token's final state, the state
// before it, where its text starts (after skipped blanks and control bytes),
// the byte that ended it (not consumed), its flags, the line feeds read and
// those among the skipped bytes before the token.
struct Token {
    uint32_t state;
    uint32_t previous;
    const uint8_t* start;
    const uint8_t* end;
    uint32_t flags;
    uint32_t lines;
    uint32_t lines_before;
};
Token next_token(const uint8_t* p, const uint8_t* end, uint32_t start_state);

// ---- Trace events -------------------------------------------------------------

namespace event {
inline constexpr uint32_t prescan = 1;  // every token, before it is checked
inline constexpr uint32_t scan = 2;     // after a token was checked
inline constexpr uint32_t load = 4;     // after a value was built
inline constexpr uint32_t open = 8;     // a container or a multi-line or raw string opens
inline constexpr uint32_t close = 16;   // ... closes
inline constexpr uint32_t error = 32;   // before a syntax error is raised
inline constexpr uint32_t all = 63;
}  // namespace event

// What a trace callback is told about one event. Offsets are bytes from the
// start of the text handed to the lexer.
struct TraceEvent {
    uint32_t event;     // one bit of `event`
    int32_t type;       // a datatype id, -k for the structural kind k, 0 for none
    const Cell* value;  // the value just built (load events), else null
    uint32_t start;     // the token: [start, end)
    uint32_t end;
    uint32_t line;
    uint32_t position;  // where the callback's input series stands
};

// A trace callback in C++: answers whether the lexer goes on (see the event
// bits); it may move the lexer by storing another byte offset in `position`.
// The Vyr-level callback of `transcode/trace` is wrapped into one of these.
using TraceFn = bool (*)(void* context, const TraceEvent& event, uint32_t& position);
struct Tracer {
    TraceFn fn = nullptr;
    void* context = nullptr;
    uint32_t mask = event::all;
};

// ---- Entry points -------------------------------------------------------------

enum class Mode : uint8_t {
    load,     // build the values
    scan,     // check tokens, answer the type of the first value
    prescan,  // find the extent of the first value, answer its likely type
};

struct Request {
    const uint8_t* text = nullptr;
    uint32_t length = 0;
    Mode mode = Mode::load;
    bool one = false;          // stop after one complete top-level value
    bool force_block = false;  // with `one`, still deliver a block
    const Cell* callback = nullptr;  // function! or routine! of transcode/trace, or null
    const Tracer* tracer = nullptr;  // a C++ tracer, used when there is no callback
    const Cell* source = nullptr;    // the string! or binary! the text came from, or null
    const Cell* into = nullptr;      // a block to append the values to, or null
};

// Scans `request.text`. In load mode `result` receives the block of values
// (with `one` and without `force_block`, the first value itself; with `into`,
// the values are appended to that block and `result` is left alone). Answers
// the type of the last token (error! after a quiet stop in the check modes).
// `consumed` receives the characters (string! source) or bytes consumed.
// Invalid text raises a syntax error in load mode.
int32_t lexer_scan(Cell* result, const Request& request, uint32_t* consumed);

// lexer_scan over a string! value from its index: `length` characters, or all
// of them up to the tail when negative; a length beyond the tail is cut to it.
// The text goes through the scratch buffer as UTF-8; `request.text` and
// `request.length` are ignored and the string becomes the source.
int32_t lexer_scan_string(Cell* result, const Cell& string, int32_t length, Request request, uint32_t* consumed);

// Start-up: the output buffer, the scratch text buffer and the collector hook.
void lexer_init();

// Number of scans in progress (nested scans included).
uint32_t active_scans();

}  // namespace vyr::lexer
