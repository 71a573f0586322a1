// The step routines of the loop natives: how foreach, remove-each, forall,
// loop and repeat move through their series and counters. Each works on
// cells the caller keeps rooted (the loop natives keep them on the argument
// stack), and may run Vyr code (setting a word of an object can run its
// change handler), so none holds a buffer address across a word store.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::loop_steps {

// One word: when the series is not at its tail, sets the word to the
// element at the index (a block's cell as it is; for other series the pick
// action at 1), moves the index on and answers true; at the tail false.
bool foreach_next(Cell& series, Cell& word);
// n words (a block of words from its index): at the tail, or with n < 1,
// false. Otherwise sets word i to the element at index + i - 1 (none past
// the tail) and moves the index on by n. A map! needs exactly two words
// (else script `invalid-arg`).
bool foreach_next_multi(Cell& series, const Cell& words, uint32_t n);
// foreach_next over a text for a word that `cell` follows from step to
// step: a global word stored plainly has its value cell written directly
// while no buffer has moved since it was found.
struct WordCell {
    Cell* at = nullptr;
    uint32_t epoch = 0;  // memory::layout_epoch when `at` was found
};
bool text_step(Cell& series, Cell& word, WordCell& cell);
// Sets the word to a value that is set (not unset!) as text_step does, for
// a loop's own word (repeat's counter).
void store_word(Cell& word, const Cell& value, WordCell& cell);
// After a remove-each body: when its value is true (not none, not false),
// moves the series index back by n and removes the n elements there.
void remove_each_step(Cell& series, uint32_t n, const Cell& body_value);
// Whether a series value stands at (or past) its tail.
bool at_tail(const Cell& series);
// The loop count of a loop or repeat argument, converted in place: a
// float! is truncated toward zero (to the x86 answer when out of range).
int32_t loop_count(Cell& count);

}  // namespace vyr::loop_steps
