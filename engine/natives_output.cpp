// The output, text and loading natives: `print`, `prin`, `uppercase`,
// `lowercase`, `transcode`, `parse`, and the makers of composite scalars
// `as-pair`, `as-point2D`, `as-point3D` and `as-money`.
//
// print and prin reduce a block into the print work block (natives.h)
// instead of a new block per call. Each print appends its values after the
// tail it found and marks where they begin; whatever way it ends (normally,
// an error, a throw) it cuts the work block back there and restores the
// index, so a print nested in the reduction of another stacks its values
// above the outer ones and leaves them intact.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "runtime/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "engine/eval.h"
#include "engine/lexer.h"
#include "engine/natives.h"
#include "engine/natives_support.h"
#include "engine/natives_io.h"
#include "engine/parse.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"
#include "runtime/print_hooks.h"

namespace vyr::natives {

namespace {

// Whether a datatype's module is present (its values can be formed,
// molded, compared): the natives make values of a type only then.
bool type_built_q(uint32_t type) { return registry::type_name(type).name != nullptr; }

// ---- print and prin -----------------------------------------------------------------

bool last_line_end = false;

// The work block's index on entry and the tail where this print's values
// begin; on exit the block is cut back to that tail and the index restored.
class WorkBlockUse {
public:
    WorkBlockUse() {
        Cell* wb = print_block();
        saved_index_ = wb->w1;
        start_ = memory::series_length(wb->w2);
        wb->w1 = start_;
    }
    ~WorkBlockUse() {
        Cell* wb = print_block();
        if (memory::series_length(wb->w2) > start_) block_t::set_tail(*wb, start_);
        wb->w1 = saved_index_;
    }
    WorkBlockUse(const WorkBlockUse&) = delete;
    WorkBlockUse& operator=(const WorkBlockUse&) = delete;
    // The work block positioned at this print's values.
    Cell values() const {
        Cell wb = *print_block();
        wb.w1 = start_;
        return wb;
    }

private:
    uint32_t saved_index_;
    uint32_t start_;
};

// Evaluates the block expression by expression, appending each value to
// the work block as soon as it is made (as reduce/into does).
Status reduce_into_work_block(const Cell& block) {
    eval::Cursor at(block);
    while (!at.at_end()) {
        Status s = eval::eval_next(at, eval::expr::push);
        if (s != Status::ok) return s;
        Cell value = *stack::top_cell();
        stack::pop_cells(1);
        block_t::append_value(*print_block(), value);
    }
    return Status::ok;
}

// Hands the text of the argument to every print hook with the line-end flag.
// A block is reduced first; a string! is printed as it is, anything else
// formed without limit.
Status print_core(bool line_end) {
    std::optional<WorkBlockUse> work;
    if (type_of(arg(0)) == type_block) {
        work.emplace();
        Status s = reduce_into_work_block(arg(0));
        if (s != Status::ok) return s;
        arg(0) = work->values();
    }
    Cell text;
    if (type_of(arg(0)) == type_string) {
        Cell& s = arg(0);
        s.w1 = std::min<uint32_t>(s.w1, string_t::buffer_length(s));
        text = s;
    } else {
        Cell buffer;
        string_t::make_at(buffer, 64);
        Cell* kept = stack::push_copy(buffer);  // rooted while the value is formed
        string_t::form_value(arg(0), *kept, INT32_MAX, false);
        text = *kept;
    }
    hooks::run_print_hooks(&text, line_end);
    work.reset();
    last_line_end = line_end;
    return answer(unset_t::value);
}

}  // namespace

bool last_lf_q() { return last_line_end; }

Status print(bool, const int32_t*) { return print_core(true); }
Status prin(bool, const int32_t*) { return print_core(false); }

// ---- uppercase, lowercase --------------------------------------------------------------

Status uppercase(bool, const int32_t* refs) {
    string_t::change_case(stack::arg_base(), refs[0] >= 0 ? &arg(refs[0]) : nullptr, true);
    stack::stack_keep();
    return Status::ok;
}

Status lowercase(bool, const int32_t* refs) {
    string_t::change_case(stack::arg_base(), refs[0] >= 0 ? &arg(refs[0]) : nullptr, false);
    stack::stack_keep();
    return Status::ok;
}

// ---- transcode ------------------------------------------------------------------------------

namespace {

// transcode's refinements, in the order of its arguments.
enum TranscodeRef { t_next, t_one, t_prescan, t_scan, t_part, t_into, t_trace };

constexpr uint8_t utf8_bom[3] = {0xEF, 0xBB, 0xBF};

// The length /part gives for src (clipped to what src holds from its index).
int64_t transcode_part_length(const Cell& src, const Cell& part) {
    uint32_t pt = type_of(part);
    if (pt == type_integer) return integer_t::get(part);
    if (pt != type_of(src)) raise_error(err_cat::script, err_id::script::not_same_type);
    return int64_t(int32_t(part.w1)) - int64_t(int32_t(src.w1));
}

// A datatype! for a type the lexer recognised, none otherwise.
Cell scan_answer(int32_t type) {
    if (type > 0 && uint32_t(type) < type_count && type_built_q(uint32_t(type)))
        return datatype_t::value_of(uint32_t(type));
    return none_t::value;
}

}  // namespace

// Loads source text. The cells: 0 src, then the arguments of /part, /into
// and /trace; cells above them (pushed here) hold the loaded value and the
// /next block while the lexer runs.
Status transcode(bool, const int32_t* refs) {
    bool next = refs[t_next] >= 0, one = refs[t_one] >= 0, prescan = refs[t_prescan] >= 0, scan = refs[t_scan] >= 0,
         into = refs[t_into] >= 0, trace = refs[t_trace] >= 0;
    bool check = prescan || scan;
    bool pair_block = next && (!one || scan);

    Cell& src = arg(0);
    bool binary = type_of(src) == type_binary;
    uint32_t total = binary ? memory::buffer_of(src.w2)->used() : string_t::buffer_length(src);
    src.w1 = std::min(src.w1, total);
    int64_t length = total - src.w1;
    if (refs[t_part] >= 0) length = std::clamp<int64_t>(transcode_part_length(src, arg(refs[t_part])), 0, length);
    if (binary && length >= 3 && std::memcmp(natives_io::binary_bytes(src).data, utf8_bom, 3) == 0) {
        src.w1 += 3;
        length -= 3;
    }

    Cell* loaded = stack::push_copy(unset_t::value);
    lexer::Request rq;
    rq.mode = prescan ? lexer::Mode::prescan : scan ? lexer::Mode::scan : lexer::Mode::load;
    rq.one = next || one || scan;
    rq.callback = trace ? &arg(refs[t_trace]) : nullptr;
    rq.into = into ? &arg(refs[t_into]) : nullptr;
    uint32_t consumed = 0;
    if (check && length == 0) {
        *loaded = none_t::value;
    } else if (binary) {
        rq.text = natives_io::binary_bytes(src).data;
        rq.length = uint32_t(length);
        rq.source = &src;
        int32_t type = lexer::lexer_scan(loaded, rq, &consumed);
        if (check) *loaded = scan_answer(type);
    } else {
        int32_t type = lexer::lexer_scan_string(loaded, src, int32_t(length), rq, &consumed);
        if (check) *loaded = scan_answer(type);
    }

    if (into) return answer(arg(refs[t_into]));
    if (!pair_block) return answer(*loaded);
    Cell* pair = block_t::push_new(2);
    block_t::append_value(*pair, *stack::cell_at_index(stack::cell_index(loaded)));
    Cell rest = arg(0);
    rest.w1 += consumed;
    block_t::append_value(*pair, rest);
    return answer(*pair);
}

// ---- parse -------------------------------------------------------------------------------------

namespace {
enum ParseRef { p_case, p_part, p_trace };

// The index /part limits the input to: input index + an integer count, or
// the index of a position in the same series.
int64_t parse_limit(const Cell& input, const Cell& part) {
    uint32_t pt = type_of(part);
    if (pt == type_integer) return int64_t(int32_t(input.w1)) + integer_t::get(part);
    if (pt == type_float) return int64_t(int32_t(input.w1)) + numeric::truncate_to_int32(cell_float(part));
    if (pt == type_of(input) && part.w2 == input.w2) return int32_t(part.w1);
    string_t::raise_invalid_refine_arg("part", part);
}
}  // namespace

// A /part limit below 1 answers at once whether the input is empty at its
// index, without running the rules.
Status parse(bool, const int32_t* refs) {
    int32_t limit = 0;
    if (used(refs, p_part)) {
        Cell input = arg(0);
        int64_t at = parse_limit(input, arg(refs[p_part]));
        if (at < 1) return answer_logic(series_t::length_at(input) == 0);
        limit = int32_t(std::min<int64_t>(at, INT32_MAX));
    }
    const Cell* callback = used(refs, p_trace) ? &arg(refs[p_trace]) : nullptr;
    Cell result;
    Status s = parse::parse_engine(arg(0), arg(1), used(refs, p_case) ? 2 : 0, limit, callback, result);
    if (s != Status::ok) return s;
    return answer(result);
}

// ---- Composite scalars -------------------------------------------------------------------------

namespace {

// An integer! as it is, a float! truncated toward zero; NaN and the
// infinities have no integer and are refused.
int32_t pair_component(const Cell& n) {
    if (type_of(n) == type_integer) return integer_t::get(n);
    double d = cell_float(n);
    if (!std::isfinite(d)) raise_invalid_arg(n);
    return numeric::truncate_to_int32(d);
}

uint32_t float32_bits(const Cell& n) {
    float f = type_of(n) == type_integer ? float(integer_t::get(n)) : float(cell_float(n));
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

}  // namespace

Status as_pair(bool, const int32_t*) {
    int32_t x = pair_component(arg(0));
    int32_t y = pair_component(arg(1));
    return answer(Cell{type_pair, 0, uint32_t(x), uint32_t(y)});
}

Status as_point2d(bool, const int32_t*) {
    return answer(Cell{type_point2d, float32_bits(arg(0)), float32_bits(arg(1)), 0});
}

Status as_point3d(bool, const int32_t*) {
    return answer(Cell{type_point3d, float32_bits(arg(0)), float32_bits(arg(1)), float32_bits(arg(2))});
}

// as-money currency amount: the code must be in the currency list; a float!
// amount goes through its decimal text, digits past the fifth decimal
// dropped.
Status as_money(bool, const int32_t*) {
    Cell word = arg(0);
    int32_t index = money_t::currency_index(int32_t(word.w2));
    if (index < 0) raise_error(err_cat::script, err_id::script::bad_denom, &word);
    Cell amount = arg(1);
    Cell m = type_of(amount) == type_integer ? money_t::from_integer(integer_t::get(amount))
                                             : money_t::from_float(cell_float(amount), false);
    return answer(*money_t::set_currency(&m, uint32_t(index)));
}

}  // namespace vyr::natives
