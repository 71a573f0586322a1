// Reading values from text follows the lexer's rules, and the lexer sits in
// engine/, above the datatypes. The datatypes' `to` and `make` from a string
// reach it through these entries, which the engine fills in when the program
// is linked: `readers` is defined, with the engine's functions, in
// engine/number_text.cpp.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::text_readers {

struct Readers {
    // Number text on any character width; see engine/number_text.h.
    int32_t (*string_to_integer)(const void* text, uint32_t count, uint32_t unit, int32_t& error);
    double (*string_to_float)(const void* text, uint32_t count, uint32_t unit, int32_t& error);
    void (*string_to_money)(const void* text, uint32_t count, uint32_t unit, int32_t& error, Cell* cell);
    // Scans the whole string into a block at `destination`; answers a copy
    // of its one value, unset! for no value, none! for more than one.
    Cell (*scan_single_value)(const Cell& string, Cell* destination);
};

extern Readers readers;

}  // namespace vyr::text_readers
