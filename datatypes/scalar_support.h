// What the scalar types that live wholly in their cell (pair!, tuple!,
// point2D!, point3D!) share for path access and pick: naming a field by a
// word, the cell a path read answers, and telling the holder of a value that
// a set-path changed it in place.
//
// A set-path such as `size/x: 10`, `obj/size/x: 10` or `blk/2/x: 10`
// changes the scalar held in some cell (a word's value, an object field, a
// block cell). The path step hands the action the parent value, the object
// or series holding it as the grand parent (none for a word's own value),
// and the element that led to it as the previous element. When the parent
// is the holding cell itself, the change is made there and the holder is
// told: an object runs its on-change* handler with the old and new value,
// an owned series tells its owner with `set-path`. When the parent is a copy
// on the argument stack (the evaluator walks paths on copies), the changed
// value is stored back through the holder: the object's field (which runs
// its handler), the series' own path assignment, or the word.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/stack.h"
#include "runtime/cell.h"

namespace vyr::scalar_support {

// The types whose values name a field by their symbol (`p/x`, `pick p 'x`).
bool any_word_q(uint32_t type);

// The 1-based position of the element's symbol among the field symbols
// (letter case ignored), or 0 when it is not a word or names none of them.
int32_t word_field(const Cell& element, std::initializer_list<int32_t> fields);

// The cell a path read answers when the value has no cell of its own to
// give (a component of a pair or a point): valid until the next path read,
// the caller copies it at once.
Cell* path_answer(const Cell& value);

// Brackets an in-place change made by a set-path. Made before the change
// (it keeps a copy of the old value when the holder is an object); `done`
// after it stores the value back or tells the holder (see above). The
// argument stack is restored when it goes out of scope.
class InPlaceChange {
public:
    InPlaceChange(const Cell* value, Cell* holder, Cell* word);
    InPlaceChange(const InPlaceChange&) = delete;
    InPlaceChange& operator=(const InPlaceChange&) = delete;
    ~InPlaceChange() { mark_.restore(); }
    // `value` is the changed parent cell (read before any handler runs).
    void done(const Cell* value);

private:
    stack::Mark mark_;
    Cell* holder_;
    Cell* word_;
    Cell* old_ = nullptr;  // the copy of the old value, on the argument stack
};

}  // namespace vyr::scalar_support
