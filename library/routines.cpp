// The library's routines (see routines.h): entries, specs, and their making.
#include "library/routines.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "engine/natives_io.h"
#include "runtime/routines.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace vyr::library {

namespace {

using routines::Entry;

Status answer(Cell* result, const Cell& value) {
    *result = value;
    return Status::ok;
}
Status answer_logic(Cell* result, bool v) { return answer(result, logic_t::value_of(v)); }
Status answer_integer(Cell* result, int32_t n) { return answer(result, Cell{type_integer, 0, uint32_t(n), 0}); }
int32_t integer_of(const Cell& c) { return int32_t(c.w2); }

// ---- Type predicates -------------------------------------------------------------

template <uint32_t Type>
Status is_type(Cell* args, uint32_t) {
    return answer_logic(args, type_of(args[0]) == Type);
}

// X(word, type id) for each datatype test.
#define VYR_DATATYPE_TESTS(X)                                                                                   \
    X("bitset?", 30) X("binary?", 41) X("block?", 5) X("char?", 10) X("email?", 45) X("file?", 8)              \
    X("float?", 12) X("get-path?", 28) X("get-word?", 18) X("hash?", 36) X("integer?", 11) X("issue?", 20)     \
    X("lit-path?", 26) X("lit-word?", 17) X("logic?", 4) X("map?", 40) X("none?", 3) X("pair?", 37)           \
    X("paren?", 6) X("path?", 25) X("percent?", 38) X("refinement?", 19) X("set-path?", 27)                    \
    X("set-word?", 16) X("string?", 7) X("tag?", 44) X("time?", 43) X("typeset?", 33) X("tuple?", 39)        \
    X("unset?", 2) X("url?", 9) X("word?", 15) X("image?", 53) X("date?", 47) X("money?", 49) X("ref?", 50)   \
    X("point2D?", 51) X("point3D?", 52) X("handle?", 46) X("error?", 34) X("action?", 22) X("native?", 21)    \
    X("datatype?", 1) X("function?", 24) X("object?", 32) X("op?", 23) X("routine?", 29) X("vector?", 35)

// The typeset tests: the routine's word and the word of its typeset.
struct TypesetTest {
    const char* word;
    const char* typeset;
};
constexpr TypesetTest typeset_tests[] = {
    {"any-list?", "any-list!"},     {"any-block?", "any-block!"},   {"any-function?", "any-function!"},
    {"any-object?", "any-object!"}, {"any-path?", "any-path!"},     {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},     {"series?", "series!"},         {"number?", "number!"},
    {"immediate?", "immediate!"},   {"scalar?", "scalar!"},         {"all-word?", "all-word!"},
    {"any-point?", "any-point!"},   {"planar?", "planar!"},
};
constexpr uint32_t typeset_test_count = sizeof(typeset_tests) / sizeof(typeset_tests[0]);

// The global words the typeset tests read; collector roots.
Cell typeset_words[typeset_test_count];

// Whether the type is in the current value of typeset word K: a typeset!
// holds it, a datatype! names it; any other value holds nothing.
template <uint32_t K>
Status in_typeset(Cell* args, uint32_t) {
    Cell set = *word_t::get(typeset_words[K]);
    uint32_t t = type_of(args[0]);
    if (type_of(set) == type_typeset) return answer_logic(args, typeset_t::has(set, t));
    if (type_of(set) == type_datatype) return answer_logic(args, set.w1 == t);
    return answer_logic(args, false);
}

template <uint32_t... K>
constexpr std::array<Entry, sizeof...(K)> typeset_entries(std::integer_sequence<uint32_t, K...>) {
    return {in_typeset<K>...};
}

// ---- Quiet setters -----------------------------------------------------------------

bool any_word_q(uint32_t t) { return t == type_word || t == type_set_word || t == type_lit_word || t == type_get_word; }
bool any_block_q(uint32_t t) {
    return t == type_block || t == type_paren || t == type_hash || (t >= type_path && t <= type_get_path);
}

// The word is set in its own context without the owner's change handlers.
Status set_quiet(Cell* args, uint32_t) {
    if (!any_word_q(type_of(args[0]))) checks::raise_expect_arg(0, args[0]);
    Cell word = args[0];
    Cell value = args[1];
    word_t::set_in_context(word, value, word.w1, false);
    return answer(args, value);
}

// The value goes into the cell at the series' position, when there is one.
Status set_slot_quiet(Cell* args, uint32_t) {
    Cell series = args[0];
    if (!any_block_q(type_of(series))) checks::raise_expect_arg(0, series);
    if (series.w1 < memory::series_length(series.w2)) *memory::cell_at(series.w2, series.w1) = args[1];
    return answer(args, args[1]);
}

// ---- Process and output ---------------------------------------------------------------

// Ends the process at once, as the runtime library's exit does.
Status quit_return(Cell* args, uint32_t) {
    int32_t status = integer_of(args[0]);
    platform::release_all_allocations();
    std::fflush(nullptr);
    std::exit(status);
}

// The line-end flag that print and prin leave behind.
Status last_lf(Cell* args, uint32_t) { return answer_logic(args, natives::last_lf_q()); }

// ---- Shifts --------------------------------------------------------------------------

constexpr int32_t word_bits = 32;

// Bits below 0 count as 0; a shift by the whole word or more leaves only
// the sign (arithmetic right shift) or nothing.
int32_t shift(int32_t data, int32_t bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    if (left) return bits >= word_bits ? 0 : int32_t(uint32_t(data) << bits);
    if (logical) return bits >= word_bits ? 0 : int32_t(uint32_t(data) >> bits);
    if (bits >= word_bits) return data < 0 ? -1 : 0;
    return data >> bits;
}

template <bool Left, bool Logical>
Status shift_entry(Cell* args, uint32_t) {
    return answer_integer(args, shift(integer_of(args[0]), integer_of(args[1]), Left, Logical));
}

// ---- Stacks and frames -------------------------------------------------------------------

Status stack_size(Cell* args, uint32_t) { return answer_integer(args, int32_t(stack::depth())); }

// Cell idx of the argument stack, counted from 1 at the bottom.
Status pick_stack(Cell* args, uint32_t) {
    int32_t idx = integer_of(args[0]);
    if (idx <= 0 || idx >= int32_t(stack::depth())) return answer(args, none_t::value);
    return answer(args, *stack::cell_at_index(uint32_t(idx - 1)));
}

Status frame_index(Cell* args, uint32_t) {
    return answer_integer(args, int32_t(stack::cell_index(stack::arg_base())));
}

Status collect_calls(Cell* args, uint32_t) {
    frames::collect_frames(args[0]);
    return Status::ok;
}

Status tracing(Cell* args, uint32_t) { return answer_logic(args, eval::trace::on()); }

// ---- Tuple builders --------------------------------------------------------------------

constexpr uint32_t byte_mask = 0xFF;

// A tuple! of n bytes held in the first payload word, lowest byte first.
Cell tuple_of(uint32_t bytes, uint32_t n) {
    return Cell{type_tuple | (n << header::tuple_size_shift), bytes, 0, 0};
}

// The first negative argument raises `invalid-arg` with it.
void check_not_negative(const Cell* args, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if (integer_of(args[i]) < 0) raise_error(err_cat::script, err_id::script::invalid_arg, &args[i]);
}

// Each value modulo 256: r, g, b.
Status as_color(Cell* args, uint32_t) {
    check_not_negative(args, 3);
    uint32_t bytes = 0;
    for (uint32_t i = 0; i < 3; ++i) bytes |= (uint32_t(integer_of(args[i])) & byte_mask) << (8 * i);
    return answer(args, tuple_of(bytes, 3));
}

// d << 24 | c << 16 | b << 8 | a: values above 255 spill into the next byte.
Status as_ipv4(Cell* args, uint32_t) {
    check_not_negative(args, 4);
    uint32_t a = uint32_t(integer_of(args[0])), b = uint32_t(integer_of(args[1]));
    uint32_t c = uint32_t(integer_of(args[2])), d = uint32_t(integer_of(args[3]));
    return answer(args, tuple_of(d << 24 | c << 16 | b << 8 | a, 4));
}

// ---- The table -------------------------------------------------------------------------------

constexpr int32_t no_return_type = -1;

struct RoutineDef {
    const char* word;
    const char* spec;  // Vyr source of its spec block's contents
    Entry entry;       // null: the routine's service is not built yet (internal not-done)
    int32_t return_type;
};

const RoutineDef routine_defs[] = {
    {"quit-return", R"("Stops the program at once with an exit status" status [integer!])", quit_return,
     no_return_type},
    {"set-quiet", R"("Sets a word without running the change handlers of its object" word [any-type!] value [any-type!])",
     set_quiet, no_return_type},
    {"set-slot-quiet",
     R"("Sets the value at a series position without running the change handlers of its owner" series [any-type!] value [any-type!])",
     set_slot_quiet, no_return_type},
    {"shift-right", R"("Shifts the bits of an integer to the right, keeping its sign" data [integer!] bits [integer!])",
     shift_entry<false, false>, type_integer},
    {"shift-left", R"("Shifts the bits of an integer to the left" data [integer!] bits [integer!])",
     shift_entry<true, false>, type_integer},
    {"shift-logical",
     R"("Shifts the bits of an integer to the right, shifting in zero bits" data [integer!] bits [integer!])",
     shift_entry<false, true>, type_integer},
    {"last-lf?", R"("Returns TRUE if the last console output ended with a line end")", last_lf, type_logic},
    {"get-current-dir", R"("Returns the current directory")", nullptr, type_file},
    {"set-current-dir", R"("Sets the current directory" path [file!])", nullptr, no_return_type},
    {"create-dir", R"("Creates a directory" path [file!])", nullptr, no_return_type},
    {"exists?", R"("Returns TRUE if a file or a directory exists" path [file!])", nullptr, type_logic},
    {"os-info", R"("Returns a description of the operating system")", nullptr, no_return_type},
    {"as-color", R"("Combines red, green and blue values into a color tuple" r [integer!] g [integer!] b [integer!])",
     as_color, type_tuple},
    {"as-ipv4", R"("Combines four values into an IPv4 address tuple" a [integer!] b [integer!] c [integer!] d [integer!])",
     as_ipv4, type_tuple},
    {"as-rgba",
     R"("Combines red, green, blue and alpha values into a color tuple" r [integer!] g [integer!] b [integer!] a [integer!])",
     as_ipv4, type_tuple},
    {"count-chars",
     R"("Returns the number of UTF-8 characters between two positions of a binary" start [binary!] pos [binary!])",
     nullptr, type_integer},
    {"stack-size?", R"("Returns the number of cells on the argument stack")", stack_size, type_integer},
    {"pick-stack", R"("Returns a cell of the argument stack, counted from 1 at the bottom" idx [integer!])",
     pick_stack, no_return_type},
    {"frame-index?", R"("Returns the argument base of the current call frame, in cells from the bottom")",
     frame_index, type_integer},
    {"collect-calls", R"("Appends the called word and the argument base of each call frame" blk [block!])",
     collect_calls, no_return_type},
    {"tracing?", R"("Returns TRUE if the evaluator is tracing")", tracing, type_logic},
    {"read-clipboard", R"("Returns the contents of the clipboard")", nullptr, no_return_type},
    {"write-clipboard", R"("Writes data to the clipboard" data [string! block! image! none!])", nullptr, type_logic},
    {"write-stdout", R"("Writes the bytes of a value to the standard output" data)", nullptr, no_return_type},
};

constexpr char datatype_test_doc[] = "\"Returns true if the value is this type\" value [any-type!]";

// Loads a spec text into a block, makes the routine and binds it to its word.
void define(const char* word, const std::string& spec_text, Entry entry, int32_t return_type) {
    stack::Mark mark;
    lexer::Request request;
    request.text = reinterpret_cast<const uint8_t*>(spec_text.data());
    request.length = uint32_t(spec_text.size());
    Cell* spec = stack::push_copy(Cell{type_none, 0, 0, 0});
    lexer::lexer_scan(spec, request, nullptr);
    int32_t index = entry ? routines::add(word, entry) : 0;
    Cell* routine = routine_t::make_routine(*spec, nullptr, index, return_type, true);
    Cell name = word_t::make_global(word);
    word_t::set(name, *routine);
    mark.restore();
}

}  // namespace

void intern_names() {
    static bool rooted = false;
    for (uint32_t k = 0; k < typeset_test_count; ++k) typeset_words[k] = word_t::make_global(typeset_tests[k].typeset);
    if (!rooted) collector::add_root_cells(typeset_words, typeset_test_count);
    rooted = true;
}

void make_routines() {
#define VYR_DEFINE_DATATYPE_TEST(word, id) define(word, datatype_test_doc, is_type<id>, type_logic);
    VYR_DATATYPE_TESTS(VYR_DEFINE_DATATYPE_TEST)
#undef VYR_DEFINE_DATATYPE_TEST
    constexpr auto entries = typeset_entries(std::make_integer_sequence<uint32_t, typeset_test_count>{});
    for (uint32_t k = 0; k < typeset_test_count; ++k) {
        const char* name = typeset_tests[k].typeset;
        std::string doc = "\"Returns true if the value is any type of " + std::string(name, std::strlen(name) - 1) +
                          "\" value [any-type!]";
        define(typeset_tests[k].word, doc, entries[k], type_logic);
    }
    for (const RoutineDef& r : routine_defs) define(r.word, r.spec, r.entry, r.return_type);
}

}  // namespace vyr::library
