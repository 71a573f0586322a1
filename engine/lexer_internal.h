// What the lexer's own files share: the record of one scan, the output
// buffer, the routine tables, errors and events. Not for other modules.
#pragma once

#include <cstdint>
#include <string>

#include "engine/lexer.h"
#include "engine/lexer_scan.h"
#include "runtime/cell.h"
#include "runtime/error_catalog.h"

namespace vyr::lexer {

// The record of one active scan. Positions are addresses in the text being
// scanned; when the text lives in a series that a callback may move, the
// record follows it (see lexer_event). Cell positions are indexes into the
// shared output buffer.
struct State {
    State* next = nullptr;    // the scan nested inside this one
    State* parent = nullptr;  // the scan this one is nested in
    uint32_t head = 0;        // first output cell of this scan
    uint32_t container = 0;   // first cell of the innermost open container
    uint32_t tail = 0;        // next free output cell
    const uint8_t* input = nullptr;
    const uint8_t* input_end = nullptr;
    const uint8_t* pos = nullptr;        // next byte to read
    const uint8_t* token_end = nullptr;  // the byte that ended the token
    uint32_t line = 1;
    uint32_t token_lines = 0;  // line feeds between the previous token and this one
    int32_t type_hint = -1;    // the type a loader makes or reports, -1 for its own
    int32_t token_type = 0;    // datatype of the last token
    uint32_t start_state = start_normal;
    uint32_t previous_state = 0;  // the state before the final one
    int32_t error_container_kind = 0;
    int32_t last_token_type = 0;
    const uint8_t* brace_start = nullptr;  // the outer "{" of a multi-line string
    uint32_t brace_depth = 0;
    uint32_t brace_flags = 0;
    uint32_t point_line = 0;  // token lines when a point literal began
    bool traced = false;      // a tracer is set
    Tracer tracer{};
    Cell callback{};  // the Vyr callback, or unset!
    Cell source{};    // the series the text came from, or unset!
    bool load_mode = true;
    bool stopped_by_callback = false;  // the last quiet stop came from a callback's answer
    uint32_t cache_pos = 0;            // byte offset and character count of the offset cache
    uint32_t cache_count = 0;
};

// Scanners and loaders: (state, token start, token end, token flags, load).
using Routine = void (*)(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
struct Routines {
    Routine scanner;
    Routine loader;
};
extern const Routines routines[kind_count + 1];

// ---- Output buffer ---------------------------------------------------------

// The cell at an index of the shared output buffer; valid until the next
// new_cell or callback.
Cell* out_cell(uint32_t index);
// A fresh unset! cell at the tail (with the new-line bit when the token
// followed a line feed). Valid until the next new_cell or callback.
Cell* new_cell(State* st);

// ---- Containers, errors, events ------------------------------------------------

// The start state after a value inside the innermost container: a path
// continues after each segment, anything else starts afresh.
uint32_t resume_state(State* st);

// The open-container marker: an internal cell holding the way back to the
// enclosing container, the container kind (a type id) with the commas seen
// in a point literal, and where the opening token began.
inline constexpr uint32_t marker_type = type_triple;
inline constexpr uint32_t marker_kind_mask = 0xFFFF;
inline constexpr uint32_t marker_comma_shift = 16;
inline bool is_marker(const Cell& c) { return type_of(c) == marker_type; }
inline uint32_t marker_kind(const Cell& c) { return c.w2 & marker_kind_mask; }

[[noreturn]] void stop();  // the lexer's quiet stop (catch code 10)

// Reports invalid text: raises the syntax error (load mode) or stops quietly
// (check modes, or a callback that answers false). `start` null means "at the
// innermost container". `code` is a datatype id or one of the code_* values.
[[noreturn]] void lexer_error(State* st, const uint8_t* start, const uint8_t* end, int32_t code);

// Tells the tracer about an event; answers whether to go on.
bool lexer_event(State* st, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                 const uint8_t* end);

// The parts of the syntax error the lexer raises. The last one is kept for
// diagnostics (last_error).
struct SyntaxError {
    int32_t id = 0;         // syntax error id: invalid, missing, malconstruct or bad-char
    uint32_t line = 0;
    int32_t type = 0;       // for `invalid`: the datatype
    uint32_t expected = 0;  // for `missing`: the delimiter expected, or 0
    std::string near;       // up to 30 bytes of the text from the fault, up to its line end
};

const SyntaxError& last_error();

namespace syntax_id {
inline constexpr int32_t invalid = err_id::syntax::invalid;
inline constexpr int32_t missing = err_id::syntax::missing;
inline constexpr int32_t malconstruct = err_id::syntax::malconstruct;
inline constexpr int32_t bad_char = err_id::syntax::bad_char;
}  // namespace syntax_id

// ---- What a Vyr callback sees --------------------------------------------------------

// The events a callback asks for: when its body block starts with a block,
// the event words in it (compared through their canonical spelling); else
// every event.
uint32_t event_mask_of_body(const Cell& body);
// Character count from the start of the text to a byte offset (string!
// sources), kept incremental through the record's offset cache so that a
// scan reporting offsets in order stays linear.
uint32_t char_offset(State* st, uint32_t byte_offset);
// The byte offset `chars` characters from the start of the text.
uint32_t byte_offset_of_chars(const State* st, uint32_t chars);

// ---- Scanners and loaders ---------------------------------------------------------
// Structural scanners live in lexer.cpp, the checks and loaders of value
// tokens in lexer_load.cpp.

void string_scan(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void string_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void word_scan(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void word_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void issue_scan(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void integer_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void refinement_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void char_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void file_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void binary_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void percent_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void float_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void float_special_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void tuple_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void date_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void pair_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void point_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void time_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void money_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void tag_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void url_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void email_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void hex_integer_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void raw_string_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);
void ref_load(State*, const uint8_t*, const uint8_t*, uint32_t, bool);

// The word! loaded for the first segment of a path (path-open-scan).
void load_path_head(State* st, const uint8_t* start, const uint8_t* end, uint32_t flags);

}  // namespace vyr::lexer
