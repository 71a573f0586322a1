// The Vyr-level trace callback of `transcode/trace`: each lexer event the
// callback's body asks for is delivered by calling it with
//   event [word!] input [string! binary!] type [datatype! word! none!]
//   line [integer!] token
// where input is the source series positioned at the token, and token the
// loaded value (load events) or a pair! of the token's 1-based start and
// end positions in the source. The callback answers whether the lexer goes
// on; moving the input series it received moves the lexer.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/fixed_words.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/symbol.h"
#include "datatypes/unwind.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "engine/lexer.h"
#include "engine/lexer_internal.h"
#include "engine/lexer_load.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace vyr::lexer {

namespace {

const char* event_word_text(uint32_t ev) {
    switch (ev) {
        case event::prescan: return "prescan";
        case event::scan: return "scan";
        case event::load: return "load";
        case event::open: return "open";
        case event::close: return "close";
        default: return "error";
    }
}

bool utf8_lead(uint8_t b) { return (b & 0xC0) != 0x80; }

// Source units (characters of a string!, bytes of a binary!) from the start
// of the input to a byte offset, through the state's offset cache so that a
// scan moving forward stays linear.
uint32_t units_at(State* st, uint32_t byte_offset) {
    if (type_of(st->source) != type_string) return byte_offset;
    uint32_t from = st->cache_pos, count = st->cache_count;
    if (byte_offset >= from) {
        for (uint32_t i = from; i < byte_offset; ++i) count += utf8_lead(st->input[i]);
    } else {
        for (uint32_t i = byte_offset; i < from; ++i) count -= utf8_lead(st->input[i]);
    }
    st->cache_pos = byte_offset;
    st->cache_count = count;
    return count;
}

// The byte offset of a unit count from the start of the input.
uint32_t bytes_at(State* st, uint32_t units) {
    uint32_t length = uint32_t(st->input_end - st->input);
    if (type_of(st->source) != type_string) return std::min(units, length);
    uint32_t i = 0;
    for (uint32_t seen = 0; i < length; ++i) {
        if (utf8_lead(st->input[i])) {
            if (seen == units) break;
            ++seen;
        }
    }
    return i;
}

bool call_callback(void* context, const TraceEvent& te, uint32_t& position) {
    auto* st = static_cast<State*>(context);
    Cell args[5];
    collector::CellRoot keep(args, 5);
    args[0] = word_t::make_global(event_word_text(te.event));
    uint32_t base_index = type_of(st->source) == type_unset ? 0 : st->source.w1;
    args[1] = type_of(st->source) == type_unset ? none_t::value : st->source;
    uint32_t at = units_at(st, te.position);
    if (type_of(args[1]) != type_none) args[1].w1 = base_index + at;
    if (te.type > 0) args[2] = datatype_t::value_of(uint32_t(te.type));
    else args[2] = none_t::value;
    args[3] = Cell{type_integer, 0, te.line, 0};
    if (te.event == event::load && te.value) {
        args[4] = *te.value;
    } else {
        uint32_t s = units_at(st, te.start), e = units_at(st, te.end);
        args[4] = Cell{type_pair, 0, s + 1, e + 1};
    }
    Cell callback = st->callback;
    Cell answer{}, after[5]{};
    collector::CellRoot keep_after(after, 5);
    Status s;
    {
        eval_hooks::CallbackScope traced(eval_hooks::lexer_callback);
        s = eval::call_value(callback, args, 5, fixed::word_lexer_callback, answer, after);
    }
    unwind::throw_status(s);
    // A callback that moved its input series moves the lexer.
    if (type_of(after[1]) == type_of(args[1]) && type_of(args[1]) != type_none && after[1].w2 == args[1].w2 &&
        after[1].w1 != args[1].w1) {
        uint32_t units = after[1].w1 > base_index ? after[1].w1 - base_index : 0;
        position = bytes_at(st, units);
    }
    return !logic_t::falsy(answer);
}

}  // namespace

Tracer callback_tracer(State* st, const Cell& callback) {
    Tracer t;
    t.fn = call_callback;
    t.context = st;
    Cell body = none_t::value;
    if (type_of(callback) == type_function) body = *memory::cell_at(callback.w3, function_t::record::body);
    t.mask = type_of(body) == type_block ? event_mask_of_body(body) : event::all;
    return t;
}

}  // namespace vyr::lexer
