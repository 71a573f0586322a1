// Vyr source text: finding its header, loading it into a block and
// evaluating what follows the header. Start-up runs its boot sources and
// script start runs the script through this one step; `load` reads its
// headers here too.
//
// A header is the word `Vyr` followed by a block. In the text it is found by
// case-sensitive matching: "Vyr", optionally "/System", blanks (space, tab,
// line feed), then "["; text before it (a "#!" line, comments) is ignored.
// In the loaded block it is the first word `Vyr` (spelled so), which must be
// followed by a block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::source {

// The byte offset where the header begins ("Vyr"), or npos when the text has
// none.
size_t find_header(std::string_view text);

// The lexer on UTF-8 text: a new block whose words are bound to the global
// context, pushed on the argument stack (which keeps it rooted); answers the
// pushed cell.
Cell* load(std::string_view text);

// The position of the header's `Vyr` word in the block from its index, or -1
// when there is none or it is not followed by a block.
int64_t header_position(const Cell& block);
// Moves the block's index past its header; false (index unchanged) when it
// has none.
bool skip_header(Cell& block);

// What `run` did.
enum class Outcome { ran, no_header, not_a_program };

// Finds the header in the text, loads the text from there, and evaluates
// what follows the header in a body frame; `status` receives the status of
// the evaluation (a break, return or throw that nothing caught). Answers
// no_header when the text has no header and not_a_program when the loaded
// text has none; nothing is evaluated then. The argument stack is back
// where it was when it returns.
Outcome run(std::string_view text, Status& status);

}  // namespace vyr::source
