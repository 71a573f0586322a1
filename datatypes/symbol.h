// symbol!: the cells of the symbol block, one per interned spelling.
//
// A symbol cell holds its alias (w1: the id of the canonical spelling when it
// is an ASCII case variant of an earlier symbol, else -1), the node of its
// cached string (w2: the spelling decoded from UTF-8, made on first need and
// kept), and the node of its UTF-8 name (w3). Ids are 1-based positions in
// the symbol block and never change. The type registers only `compare`.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace vyr::symbol_t {

// The id of the interned spelling of NUL-terminated UTF-8 text.
int32_t make(const char* text);
// As make, but a spelling whose ASCII case variant exists answers that
// variant instead of making a new symbol.
int32_t make_alias_free(const char* text);
int32_t intern_text(const uint8_t* bytes, uint32_t length);
// Interns the text of a string-like value from its index; `limit` characters
// at most (-1 for all).
int32_t from_string(const Cell& string, int32_t limit);

// The symbol cell, after making its cached string when it is still 0.
// Valid until the next allocation in the symbol block or safe point.
Cell* get(int32_t id);
// The canonical id: the alias when the symbol has one, else the id itself.
int32_t resolve_alias(int32_t id);
// The raw alias field.
int32_t alias_of(int32_t id);
// The cached string's units with a NUL unit written just after the tail
// (the buffer grows first when full); the tail does not move.
const uint8_t* c_text(int32_t id);

// The UTF-8 name (valid until the next safe point).
std::string_view name(int32_t id);
// The number of symbols interned.
uint32_t count();

// The spellings of two symbols compared as texts (their cached strings)
// under a compare operator code: -1, 0 or 1.
int32_t compare_spellings(int32_t a, int32_t b, int32_t op);

// Action (slot 9): compares the two spellings as strings, case-folded unless
// the operator is case-sensitive.
int32_t compare(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace vyr::symbol_t
