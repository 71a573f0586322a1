// Argument checks and small helpers shared by natives, datatype actions and
// the evaluator.
//
// The checks raise the standard script errors through raise_error and
// answer the checked cell when it passes. An `expect-arg` error names the
// calling word, the offending value's datatype and the argument's word in
// the running function's argument block (`position` counts its argument and
// refinement words from 0), both read from the call frames (datatypes/frames.h);
// with no frame open they are none!.
// Membership in a typeset is typeset_t::has (datatypes/typeset.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::checks {

// Raises script `expect-arg` for an argument of the wrong type.
[[noreturn]] void raise_expect_arg(int32_t position, const Cell& arg);

// The argument when its type is in the typeset, else `expect-arg`.
Cell* check_arg_type(const Cell& typeset, int32_t position, Cell* arg);
// check_arg_type on the cell at argument base + slot; a negative slot (an
// optional argument that was not given) is not checked and answers null.
Cell* check_native_arg(int32_t slot, const Cell& typeset, int32_t position);
// check_arg_type only when the refinement (a logic! cell) was used;
// otherwise the argument is answered unchecked.
Cell* check_refinement_arg(const Cell& refinement, const Cell& typeset, int32_t position, Cell* arg);
// `expect-arg` naming unset! when the argument is unset!.
Cell* check_not_unset(int32_t position, Cell* arg);

// ---- Word and context stores --------------------------------------------------------
// The value stored is the last pushed cell (the top of the argument stack).

// The word's value cell; an unset! value raises script `no-value` with the word.
Cell* get_word_checked(const Cell& word);
// Sets the word to the value; an unset! value raises script `need-value`.
void set_word_checked(Cell& word);
// set_word_checked, then the stack is cut back to the argument base.
void set_word_pop(Cell& word);
// Copies the value into value slot i of the context (on the argument stack
// or in its values block); an unset! value raises `need-value` with word i.
void set_context_value_checked(NodeId ctx, int32_t i);
// set_context_value_checked, then the stack is cut back to the argument base.
void set_context_value_pop(NodeId ctx, int32_t i);
// The same store without the unset! check, marking word i changed in an
// object's context; the stack is cut back to the argument base.
void set_context_value(NodeId ctx, int32_t i);
// Value slot i of the context; a context without values (a function that is
// not running) raises script `not-defined` with word i.
Cell* context_value_slot(NodeId ctx, int32_t i);

// ---- Helpers --------------------------------------------------------------------------

// Lays out a refinement's arguments in the frame: when the flag value is
// true the refinement's cell (argument base + slot) gets logic payload 1;
// otherwise its n argument cells after it become none!.
void init_refinement_args(const Cell& flag, int32_t slot, int32_t n);

// The 32-bit integer of an integer! or float! cell. A float is truncated
// toward zero when it lies in -2147483648.0 .. 2147483647.0; outside that
// range, or NaN, raises script `out-of-range` with the cell. Any other cell
// answers its payload word 2 as it is.
int32_t cell_to_int(const Cell& value);

// Appends `level` indentations of four blanks to the mold buffer (none when
// level <= 0). Answers budget - 4 x level, for any level.
int32_t mold_indent(const Cell& buffer, int32_t level, int32_t budget);

// `dest` holds one copy of a `len`-byte pattern; makes `count` copies in all
// by doubling (about log2(count) copies). Answers dest + len x count.
uint8_t* fill_repeat(uint8_t* dest, uint32_t len, uint32_t count);

// Finds the value in frame slot 0 in the case block in slot 1, from the
// block's index (see checks.cpp). Answers the 0-based position of the match
// from the buffer's head, or -1.
//   result_mode: push the answer on the stack (and walk every cell), instead
//                of writing it to the result slot (and walking value/answer
//                pairs);
//   switch_mode: the answer is the first block! after the match, instead of
//                the cell after it.
int32_t switch_find(bool result_mode, bool switch_mode);

}  // namespace vyr::checks

namespace vyr::checks {

// Loads the text of a string-like value, from its index, with the lexer into
// a new block in `destination` (which the caller keeps rooted). Answers a
// copy of the one value: none! when the text is not wholly loaded, unset!
// when the block is empty, else the block's first cell. A copy, not the
// cell: the block's buffer may move at the next allocation.
Cell scan_single_value(const Cell& string, Cell* destination);

}  // namespace vyr::checks
