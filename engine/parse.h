// The parse dialect: matches an input series (any-block!, any-string!,
// binary!) against a block of rules and answers whether the rules matched
// the input to its end, or the block the rules collected.
//
// The engine is one state machine over two stacks kept in the root block:
// the series stack (the input of each active level, one more per `into`) and
// the rule stack (an entry of three cells per entered rule block or pending
// keyword). Rule recursion therefore costs stack cells, never machine stack,
// and ends in parse-stack when either stack passes 10000 cells.
//
// A `parse` run from inside another (from a paren, a trace callback or a
// change handler) opens a level: it works above a marker and clears the
// stacks back to it on every way out, so the outer run finds them as it
// left them.
//
// Parens and trace callbacks run Vyr code: positions in the input and in the
// rules are kept as indexes in rooted cells and read again afterwards; the
// input may change under the engine.
#pragma once

#include <cstdint>

#include "runtime/catch_codes.h"
#include "runtime/cell.h"

namespace vyr::parse {

// Start-up: makes the series stack and the rule stack in the root block and
// the keyword table.
void parse_init();

// Runs the rules over the input. `case_mode`: 2 case-sensitive, 0 not.
// `limit`: 0, or the absolute index of the input at which matching stops
// (parse/part). `callback`: the function! of parse/trace, or null. On a
// normal end `answer` receives logic! or the collected block; otherwise the
// status of a break, return, throw ... that left a paren or the callback.
Status parse_engine(const Cell& input, const Cell& rules, int32_t case_mode, int32_t limit, const Cell* callback,
                    Cell& answer);

}  // namespace vyr::parse
