// Field words, path answers and the set-path write-back of the cell scalars
// (see scalar_support.h).
#include "datatypes/scalar_support.h"

#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "engine/actions.h"
#include "engine/stack.h"

namespace vyr::scalar_support {

bool any_word_q(uint32_t type) {
    return type == type_word || type == type_lit_word || type == type_get_word || type == type_set_word ||
           type == type_refinement || type == type_issue;
}

int32_t word_field(const Cell& element, std::initializer_list<int32_t> fields) {
    if (!any_word_q(type_of(element))) return 0;
    int32_t id = symbol_t::resolve_alias(int32_t(element.w2));
    int32_t n = 1;
    for (int32_t field : fields) {
        if (symbol_t::resolve_alias(field) == id) return n;
        ++n;
    }
    return 0;
}

namespace {
Cell answer;
}  // namespace

Cell* path_answer(const Cell& value) {
    answer = value;
    return &answer;
}

bool held_in_cell_q(uint32_t type) {
    switch (type) {
        case type_pair: case type_tuple: case type_point2d: case type_point3d: case type_time: case type_date:
            return true;
        default: return false;
    }
}

void store_back(Cell* holder, const Cell& key, const Cell& value) {
    stack::Mark mark;
    Cell* v = stack::push_copy(value);
    Cell* k = stack::push_copy(key);
    if (!holder) {
        word_t::set(*k, *v);
    } else if (series_t::block_family_q(type_of(*holder)) && type_of(*k) == type_integer) {
        series_t::store_changed(*holder, integer_t::get(*k), *v);
    } else {
        actions::path_access(holder, k, v, nullptr, nullptr, nullptr, -1, false, false, true, false);
    }
    mark.restore();
}

}  // namespace vyr::scalar_support
