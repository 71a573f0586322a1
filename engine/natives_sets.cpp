// The set-operation natives: union, intersect, unique, difference and
// exclude. One dispatcher checks that the two sets go together, then hands
// the operation code to the first set's datatype: block! and hash! (which
// mix), string!, bitset! and typeset!. The difference of two dates is a
// time!, computed by date!.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/errors.h"

namespace vyr::natives {

namespace {

bool block_or_hash_q(uint32_t type) { return type == type_block || type == type_hash; }

// The second set must be of the first's type (block! and hash! take each
// other): "expected <set1's type> not <set2's type>".
void check_partner(const Cell& set1, const Cell& set2) {
    uint32_t t1 = type_of(set1), t2 = type_of(set2);
    if (block_or_hash_q(t1) ? block_or_hash_q(t2) : t1 == t2) return;
    Cell expected = datatype_t::value_of(t1);
    Cell got = datatype_t::value_of(t2);
    raise_error(err_cat::script, err_id::script::expect_val, &expected, &got);
}

// The shared body of the five natives. refs[0] is /case, refs[1] the /skip
// record size; the result replaces the first set.
Status set_operation(const int32_t* refs, int32_t op) {
    Cell* first = stack::arg_base();
    bool binary = op != integer_t::op_unique;
    if (binary) check_partner(first[0], first[1]);
    bool case_ = refs[0] >= 0;
    Cell* skip = refinement_arg(refs[1]);
    switch (type_of(first[0])) {
        case type_block: case type_hash: block_t::set_operation(first, case_, skip, op); break;
        case type_string: string_t::set_operation(first, binary ? first + 1 : nullptr, case_, skip, op); break;
        case type_bitset: {
            Cell a = first[0], b = binary ? first[1] : first[0];
            bitset_t::do_bitwise(*first, a, b, op);
            break;
        }
        case type_typeset: typeset_t::do_bitwise(op); break;
        case type_date:
            if (op != integer_t::op_difference) checks::raise_expect_arg(0, first[0]);
            date_t::difference(first, first[1]);
            break;
        default: checks::raise_expect_arg(0, first[0]);
    }
    stack::stack_keep();
    return Status::ok;
}

}  // namespace

Status union_(bool, const int32_t* refs) { return set_operation(refs, integer_t::op_union); }
Status intersect(bool, const int32_t* refs) { return set_operation(refs, integer_t::op_intersect); }
Status unique(bool, const int32_t* refs) { return set_operation(refs, integer_t::op_unique); }
Status difference(bool, const int32_t* refs) { return set_operation(refs, integer_t::op_difference); }
Status exclude(bool, const int32_t* refs) { return set_operation(refs, integer_t::op_exclude); }

}  // namespace vyr::natives
