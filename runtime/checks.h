// Argument checks and small helpers shared by natives, datatype actions and
// the evaluator.
//
// The checks raise the standard script errors through raise_error and
// answer the checked cell when it passes. An `expect-arg` error names the
// calling word, the offending value's datatype and the argument's word in
// the running function's spec (`position` counts the spec's argument and
// refinement words from 0).
//
// A typeset is a 96-bit map held in the cell's three payload words, in cell
// byte order: type t is a member when payload byte t >> 3 has bit
// 0x80 >> (t & 7).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::checks {

// True when the typeset cell has the type as a member.
bool typeset_has(const Cell& typeset, uint32_t type);

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

// Lays out a refinement's arguments in the frame: when the flag value is
// true the refinement's cell (argument base + slot) gets logic payload 1;
// otherwise its n argument cells after it become none!.
void init_refinement_args(const Cell& flag, int32_t slot, int32_t n);

// The 32-bit integer of an integer! or float! cell. A float is truncated
// toward zero when it lies in -2147483648.0 .. 2147483647.0; outside that
// range, or NaN, raises script `out-of-range` with the cell. Any other cell
// answers its payload word 2 as it is.
int32_t cell_to_int(const Cell& value);

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
