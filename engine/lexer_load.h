// The lexer's value makers: one per datatype, each building the value in a
// cell through its datatype's module, plus the few services of other modules
// the lexer needs (syntax errors, block appends, the Vyr trace callback).
// A maker whose datatype module is not built yet raises internal error
// `not-done`; that is the one place to change when the module arrives.
#pragma once

#include <cstdint>

#include "engine/lexer_internal.h"
#include "engine/lexer_scan.h"
#include "runtime/cell.h"

namespace vyr::lexer {

void make_integer(Cell* cell, int32_t value);
void make_float(Cell* cell, double value);
void make_percent(Cell* cell, double fraction);
void make_pair(Cell* cell, int32_t x, int32_t y);
void make_tuple(Cell* cell, const uint8_t* bytes, uint32_t count);
void make_point(Cell* cell, const PointValue& point);
void make_time(Cell* cell, double seconds);
// The parts as scan_money gives them; false for an unknown currency code.
bool make_money(Cell* cell, bool negative, const uint8_t* currency, const uint8_t* digits, const uint8_t* point,
                const uint8_t* end);
void make_date(Cell* cell, const DateValue& date);
void make_char(Cell* cell, uint32_t cp);
// A string of one of the string types (string!, file!, url!, tag!, email!,
// ref!) from text measured by measure_text; file! and url! text holding "%"
// is then percent-decoded when `percent_decode` is set.
void make_text(Cell* cell, uint32_t type, const uint8_t* start, const uint8_t* end, const TextShape& shape,
               bool escapes, bool percent_decode);
// A word of any word type (and issue!) spelled by the UTF-8 text.
void make_word(Cell* cell, uint32_t type, const uint8_t* start, const uint8_t* end);
void make_binary(Cell* cell, uint32_t base, const uint8_t* start, const uint8_t* end);
// A block of `type` (block!, paren! or a path type) holding copies of the cells.
void make_block(Cell* cell, const Cell* cells, uint32_t count, uint32_t type);
// Whether a value of that type may be a map! key.
bool map_key_type(uint32_t type);
void make_map(Cell* cell, const Cell* cells, uint32_t count);
void make_construction(Cell* cell, const Construction& c);
void make_none(Cell* cell);
// Appends copies of the cells at the tail of a block value.
void append_to_block(const Cell& block, const Cell* cells, uint32_t count);

// The name with its "!" of a registered datatype, or null.
const char* registered_type_name(uint32_t type);
uint32_t highest_registered_type();

// Raises the syntax error: category syntax, its id and arguments.
[[noreturn]] void raise_syntax_error(const SyntaxError& e);
// Raises internal error `no-memory`.
[[noreturn]] void raise_no_memory();

// A tracer that calls a Vyr function! or routine! callback.
Tracer callback_tracer(State* st, const Cell& callback);

}  // namespace vyr::lexer
