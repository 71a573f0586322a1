// The natives that read, write and bind words, build objects and coerce
// series types (get, set, unset, value?, type?, bind, in, context?,
// construct, extend, as, new-line, new-line?), and the word-setting helpers
// they share with the loop natives.
//
// The helpers keep their inputs rooted on the argument stack while they set
// words: setting a field of an object with an on-change* handler runs Vyr
// code, which may move any series buffer. The stack top is back where it was
// when a helper returns.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace vyr::natives_words {

// Sets the first `count` elements of the words block (from its index) from
// the values. The values are taken one per word (the i-th value, none past
// the tail) when they are an any-block, an any-path or a map! and `only` is
// clear; otherwise the single value goes to every word. With per-word
// values every element is checked first, so nothing is set when one fails:
// an element that is not a word!, set-word!, get-word! or lit-word! raises
// script `invalid-arg`, an unset! value without `any` raises `need-value`
// (naming the element). With `some` a none! value leaves its word alone.
void set_words_from_values(const Cell& words, const Cell& values, uint32_t count, bool any, bool only, bool some);

// Sets word i of the words block (from its index) to the i-th element of
// the series (none past its tail), for i = 1..n.
void set_words_from_series(const Cell& words, const Cell& series, uint32_t n);

}  // namespace vyr::natives_words
