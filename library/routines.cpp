// The library's routines (see routines.h): entries, specs, and their making.
#include "library/routines.h"
#include "library/clipboard_routines.h"
#include "library/csv.h"
#include "library/image_routines.h"
#include "library/json.h"
#include "library/vyrbin_routines.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/utsname.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/image.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/natives_io.h"
#include "engine/source.h"
#include "io/file_access.h"
#include "io/files.h"
#include "runtime/routines.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"
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

// Ends the process at once, as the runtime library's exit does; the
// terminal gets its start-up settings back first, so that a shell is not
// left in raw mode.
Status quit_return(Cell* args, uint32_t) {
    int32_t status = integer_of(args[0]);
    platform::restore_terminal();
    platform::release_all_allocations();
    std::fflush(nullptr);
    std::exit(status);
}

// The line-end flag that print and prin leave behind.
Status last_lf(Cell* args, uint32_t) { return answer_logic(args, natives::last_lf_q()); }

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

// ---- Directories and the host -------------------------------------------------------------

// The process's current directory, ending in "/".
Status get_current_dir(Cell* args, uint32_t) {
    Cell dir = file_t::current_dir();
    set_type(dir, type_file);
    return answer(args, dir);
}

Status set_current_dir(Cell* args, uint32_t) {
    if (!platform::set_current_dir(file_t::to_local_path(args[0])))
        raise_error(err_cat::access, err_id::access::cannot_open, &args[0]);
    return answer(args, args[0]);
}

// Makes one directory; its parent must exist.
Status create_dir(Cell* args, uint32_t) {
    if (!files::make_dir(file_t::to_local_path(args[0])))
        raise_error(err_cat::access, err_id::access::no_create, &args[0]);
    return answer(args, args[0]);
}

Status exists(Cell* args, uint32_t) { return answer_logic(args, files::exists(file_t::to_local_path(args[0]))); }

// The bytes `write` would store for the value, to standard output.
Status write_stdout(Cell* args, uint32_t) {
    std::vector<uint8_t> bytes = file_access::value_bytes(args[0], -1);
    platform::runtime_print_c_text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return answer(args, unset_t::value);
}

// The command line as one text: the arguments joined by spaces, each one
// that is empty or holds a blank put in double quotes, so that splitting it
// again at blanks outside quotes gives the arguments back.
Status get_command_line_string(Cell* args, uint32_t) {
    std::string line;
    for (int i = 0; i < platform::arg_count(); ++i) {
        std::string_view arg = platform::arg_vector()[i];
        if (i > 0) line += ' ';
        bool quote = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
        if (quote) line += '"';
        line += arg;
        if (quote) line += '"';
    }
    return answer(args, *string_t::push_text(line.data(), uint32_t(line.size()), string_t::encoding_utf8));
}

// The leading run of a text's decimal digits as a number (0 when there is none).
int32_t leading_number(const char*& p) {
    int32_t n = 0;
    while (*p >= '0' && *p <= '9' && n < 100000000) n = n * 10 + (*p++ - '0');
    return n;
}

Cell word_value_of(const char* name) { return word_t::make_global(name); }

// The OS record: name, arch, version (the kernel's first three numbers) and
// build (the number that follows them, 0 without one).
Status os_info(Cell* args, uint32_t) {
    struct utsname u {};
    if (uname(&u) != 0) std::strcpy(u.sysname, "Linux");
    std::string name = std::string(u.sysname) + " " + u.release;
    std::string machine = u.machine;
    const char* arch = machine == "x86_64" ? "x86-64" : machine == "aarch64" ? "ARM64"
                     : (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") ? "x86-32"
                     : machine.rfind("arm", 0) == 0 ? "ARM" : "Unknown";
    const char* p = u.release;
    uint32_t version = 0;
    for (int k = 0; k < 3; ++k) {
        version |= (uint32_t(leading_number(p)) & byte_mask) << (8 * k);
        if (*p == '.') ++p;
    }
    while (*p && (*p < '0' || *p > '9')) ++p;
    int32_t build = leading_number(p);

    stack::Mark mark;
    Cell* object = stack::push_copy(none_t::value);
    object_t::make_at(*object, 4);
    object->w2 = uint32_t(object_t::next_class_id());
    *context_t::self_slot(object->w1) = *object;
    Cell* text = string_t::push_text(name.data(), uint32_t(name.size()), string_t::encoding_utf8);
    context_t::put_word_value(object->w1, word_value_of("name"), *text);
    context_t::put_word_value(object->w1, word_value_of("arch"), word_value_of(arch));
    context_t::put_word_value(object->w1, word_value_of("version"), tuple_of(version, 3));
    context_t::put_word_value(object->w1, word_value_of("build"), Cell{type_integer, 0, uint32_t(build), 0});
    Cell result = *object;
    mark.restore();
    return answer(args, result);
}

// ---- Text ------------------------------------------------------------------------------

// Bytes of the UTF-8 sequence a lead byte starts; a stray continuation or
// an invalid byte counts as one character of one byte.
uint32_t utf8_sequence_length(uint8_t lead) {
    if (lead >= 0xF0 && lead <= 0xF7) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// Characters from start's position up to pos's position (or the tail, when
// that comes first). Both must be positions in the same buffer.
Status count_chars(Cell* args, uint32_t) {
    const Cell& start = args[0];
    const Cell& pos = args[1];
    if (start.w2 != pos.w2) raise_error(err_cat::script, err_id::script::invalid_arg, &args[1]);
    uint32_t tail = memory::series_length(start.w2);
    uint32_t end = pos.w1 < tail ? pos.w1 : tail;
    const uint8_t* bytes = memory::buffer_of(start.w2)->head_ptr();
    int32_t n = 0;
    for (uint32_t i = start.w1; i < end; i += utf8_sequence_length(bytes[i])) ++n;
    return answer_integer(args, n);
}

// The text at the place where a script's header begins ("Vyr", maybe
// "/System", blanks, "["), or none. The search is the one start-up uses: it
// runs on one byte per character, non-ASCII characters standing in as a byte
// that no header text holds, so byte offsets are character offsets.
Status find_header(Cell* args, uint32_t) {
    Cell& text = args[0];
    uint32_t tail = string_t::buffer_length(text);
    std::string bytes;
    bytes.reserve(text.w1 < tail ? tail - text.w1 : 0);
    for (uint32_t i = text.w1; i < tail; ++i) {
        uint32_t cp = string_t::char_at(text, i);
        bytes.push_back(cp < 0x80 ? char(cp) : char(0x80));
    }
    size_t at = source::find_header(bytes);
    if (at == std::string::npos) return answer(args, none_t::value);
    text.w1 += uint32_t(at);
    return Status::ok;
}

// ---- Runtime state -----------------------------------------------------------------------

// Whether any frame on the call stack was opened by the evaluator.
Status interpreted(Cell* args, uint32_t) { return answer_logic(args, frames::frame_interpreted_q(nullptr, false)); }

Status gc_active(Cell* args, uint32_t) { return answer_logic(args, collector::enabled()); }
Status gc_series_cycles(Cell* args, uint32_t) { return answer_integer(args, int32_t(collector::cycles())); }
Status gc_nodes_cycles(Cell* args, uint32_t) { return answer_integer(args, int32_t(collector::nodes_cycles())); }

// An object! over the global context (class id -1), which is also stored
// in that context's self slot.
Status make_system_words(Cell* args, uint32_t) {
    return answer(args, *object_t::push(context_t::global_context, 0, -1));
}

bool truthy(const Cell& c) {
    uint32_t t = type_of(c);
    return !(t == type_none || (t == type_logic && c.w1 == 0));
}

// The runtime flags behind system/options/float: pretty? and full?.
Status set_float_flag(Cell* args, uint32_t) {
    int32_t symbol = symbol_t::resolve_alias(int32_t(args[0].w2));
    bool on = truthy(args[1]);
    if (symbol == symbol_t::resolve_alias(symbol_t::make("pretty?"))) float_t::pretty_print = on;
    else if (symbol == symbol_t::resolve_alias(symbol_t::make("full?"))) float_t::full_support = on;
    return answer(args, logic_t::value_of(on));
}

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

Status tracing(Cell* args, uint32_t) { return answer_logic(args, eval::trace::requested()); }

// `trace true` and `trace false`: delivery of the running trace's events;
// outside a traced evaluation it stays off.
Status set_tracing(Cell* args, uint32_t) {
    eval::trace::request(truthy(args[0]));
    return answer_logic(args, eval::trace::requested());
}

// Routines made for fields of the system object, kept (and rooted through
// the vector's cells) until complete_system puts them in place.
struct HeldRoutine {
    const char* path;
    Cell value;
};
std::vector<HeldRoutine> held_routines;

void mark_held_routines() {
    for (HeldRoutine& h : held_routines) collector::mark_cells(&h.value, &h.value + 1);
}

// ---- The table -------------------------------------------------------------------------------

constexpr int32_t no_return_type = -1;

// The specs are in the routine source (boot/routines.vyr), by the same names.
const RoutineEntry routine_entries[] = {
    {"quit-return", quit_return, no_return_type},
    {"set-quiet", set_quiet, no_return_type},
    {"set-slot-quiet", set_slot_quiet, no_return_type},
    {"shift-right", shift_entry<false, false>, type_integer},
    {"shift-left", shift_entry<true, false>, type_integer},
    {"shift-logical", shift_entry<false, true>, type_integer},
    {"last-lf?", last_lf, type_logic},
    {"get-current-dir", get_current_dir, type_file},
    {"set-current-dir", set_current_dir, no_return_type},
    {"create-dir", create_dir, no_return_type},
    {"exists?", exists, type_logic},
    {"os-info", os_info, no_return_type},
    {"as-color", as_color, type_tuple},
    {"as-ipv4", as_ipv4, type_tuple},
    {"as-rgba", as_ipv4, type_tuple},
    {"_find-header", find_header, no_return_type},
    {"count-chars", count_chars, type_integer},
    {"stack-size?", stack_size, type_integer},
    {"pick-stack", pick_stack, no_return_type},
    {"frame-index?", frame_index, type_integer},
    {"collect-calls", collect_calls, no_return_type},
    {"tracing?", tracing, type_logic},
    {"set-tracing", set_tracing, type_logic},
    {"read-clipboard", read_clipboard, no_return_type},
    {"write-clipboard", write_clipboard, type_logic},
    {"write-stdout", write_stdout, no_return_type},
    {"make-system-words", make_system_words, type_object},
    {"get-command-line-string", get_command_line_string, type_string},
    {"set-float-flag", set_float_flag, type_logic},
    {"_load-json", load_json, no_return_type},
    {"_to-json", to_json, type_string},
    {"_load-csv", load_csv, no_return_type},
    {"_to-csv", to_csv, no_return_type},
    // Bound to fields of the system object rather than to global words.
    {"system/state/interpreted?", interpreted, type_logic},
    {"system/state/GC/active?", gc_active, type_logic},
    {"system/state/GC/series-cycles", gc_series_cycles, type_integer},
    {"system/state/GC/nodes-cycles", gc_nodes_cycles, type_integer},
    {"system/codecs/vyrbin/encode*", vyrbin_encode, type_binary},
    {"system/codecs/vyrbin/decode", vyrbin_decode, no_return_type},
    {"system/codecs/png/encode", image_encode<image_t::format_png>, no_return_type},
    {"system/codecs/png/decode", image_decode, no_return_type},
    {"system/codecs/jpeg/encode", image_encode<image_t::format_jpeg>, no_return_type},
    {"system/codecs/jpeg/decode", image_decode, no_return_type},
    {"system/codecs/bmp/encode", image_encode<image_t::format_bmp>, no_return_type},
    {"system/codecs/bmp/decode", image_decode, no_return_type},
    {"system/codecs/gif/encode", image_encode<image_t::format_gif>, no_return_type},
    {"system/codecs/gif/decode", image_decode, no_return_type},
    {"system/codecs/tiff/encode", image_encode<image_t::format_tiff>, no_return_type},
    {"system/codecs/tiff/decode", image_decode, no_return_type},
};

constexpr char datatype_test_doc[] = "\"Returns true if the value is this type\" value [any-type!]";

// Makes the routine with an argument block and binds it to its word; a routine
// named by a system path is held until the system object exists.
void define(const char* word, const Cell& spec, Entry entry, int32_t return_type) {
    stack::Mark mark;
    int32_t index = entry ? routines::add(word, entry) : 0;
    Cell* routine = routine_t::make_routine(spec, nullptr, index, return_type, true);
    if (std::strchr(word, '/')) {
        held_routines.push_back({word, *routine});
    } else {
        Cell name = word_t::make_global(word);
        word_t::set(name, *routine);
    }
    mark.restore();
}

// The same with the argument block given as Vyr text.
void define(const char* word, const std::string& spec_text, Entry entry, int32_t return_type) {
    stack::Mark mark;
    define(word, *source::load(spec_text), entry, return_type);
    mark.restore();
}

// The value cell of the map's live pair whose key is the word's symbol (in
// any letter case); null when absent.
Cell* map_value(const Cell& map, const Cell& word) {
    NodeId pairs = map.w2;
    int32_t want = symbol_t::resolve_alias(int32_t(word.w2));
    uint32_t n = memory::series_length(pairs);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        Cell* key = memory::cell_at(pairs, i);
        if (!all_word_q(type_of(*key)) || symbol_t::resolve_alias(int32_t(key->w2)) != want) continue;
        return key[1].header == map_t::removed_header ? nullptr : key + 1;
    }
    return nullptr;
}

// The field cell a path of words names, from the global `system` object; null
// when a step is not an object or map, or lacks the field.
Cell* system_field(std::string_view path) {
    Cell* value = context_t::global_symbol_value(symbol_t::make("system"));
    size_t at = path.find('/') + 1;  // past "system/"
    while (value && (type_of(*value) == type_object || type_of(*value) == type_map)) {
        size_t end = path.find('/', at);
        std::string name(path.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        Cell word = word_t::make_global(name.c_str());
        Cell* field = type_of(*value) == type_object ? object_t::select_field(*value, word) : map_value(*value, word);
        if (end == std::string_view::npos) return field;
        value = field;
        at = end + 1;
    }
    return nullptr;
}

// The build date, from the compiler's "Mmm dd yyyy".
Cell build_date() {
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* text = __DATE__;
    int32_t month = int32_t((std::strstr(months, std::string(text, 3).c_str()) - months) / 3) + 1;
    int32_t day = std::atoi(text + 4);
    int32_t year = std::atoi(text + 7);
    return Cell{type_date, uint32_t(date_t::pack(year, month, day, 0, false)), 0, 0};
}

}  // namespace

void intern_names() {
    static bool rooted = false;
    for (uint32_t k = 0; k < typeset_test_count; ++k) typeset_words[k] = word_t::make_global(typeset_tests[k].typeset);
    if (!rooted) collector::add_root_cells(typeset_words, typeset_test_count);
    rooted = true;
}

namespace {

// The name a routine source gives: a word, or a path of words.
std::string routine_name(const Cell& name) {
    if (type_of(name) == type_word) return std::string(symbol_t::name(int32_t(name.w2)));
    if (type_of(name) != type_path) return {};
    std::string out;
    for (uint32_t i = name.w1; i < memory::series_length(name.w2); ++i) {
        const Cell& step = *memory::cell_at(name.w2, i);
        if (type_of(step) != type_word) return {};
        if (!out.empty()) out += '/';
        out += symbol_t::name(int32_t(step.w2));
    }
    return out;
}

// The position of each name's argument block in the routine source (the
// first, when a name comes twice).
std::unordered_map<std::string, uint32_t> routine_spec_positions(const Cell& specs) {
    std::unordered_map<std::string, uint32_t> positions;
    for (uint32_t i = specs.w1; i + 1 < memory::series_length(specs.w2); i += 2) {
        if (type_of(*memory::cell_at(specs.w2, i + 1)) != type_block) continue;
        positions.emplace(routine_name(*memory::cell_at(specs.w2, i)), i + 1);
    }
    return positions;
}

}  // namespace

void bind_routines(const Cell& specs, const RoutineEntry* table, size_t count) {
    auto positions = routine_spec_positions(specs);
    for (size_t k = 0; k < count; ++k) {
        auto found = positions.find(table[k].word);
        // A missing spec is a fault of the build, which the boot tests report by name.
        if (found == positions.end()) runtime_error_quit(runtime_error_no::unknown, VYR_CODE_POSITION());
        Cell spec = *memory::cell_at(specs.w2, found->second);
        define(table[k].word, spec, table[k].entry, table[k].return_type);
    }
}

std::vector<std::string> routine_names() {
    std::vector<std::string> out;
    for (const RoutineEntry& r : routine_entries) out.emplace_back(r.word);
    return out;
}

void make_routines(const Cell& specs) {
    // The datatype tests have one argument block: loaded once, each test
    // gets a deep copy of it.
    stack::Mark mark;
    Cell* test_spec = source::load(datatype_test_doc);
#define VYR_DEFINE_DATATYPE_TEST(word, id) \
    define(word, *block_t::clone(*test_spec, true, true), is_type<id>, type_logic);
    VYR_DATATYPE_TESTS(VYR_DEFINE_DATATYPE_TEST)
#undef VYR_DEFINE_DATATYPE_TEST
    mark.restore();
    constexpr auto entries = typeset_entries(std::make_integer_sequence<uint32_t, typeset_test_count>{});
    for (uint32_t k = 0; k < typeset_test_count; ++k) {
        const char* name = typeset_tests[k].typeset;
        std::string doc = "\"Returns true if the value is any type of " + std::string(name, std::strlen(name) - 1) +
                          "\" value [any-type!]";
        define(typeset_tests[k].word, doc, entries[k], type_logic);
    }
    static bool marked = false;
    if (!marked) collector::add_mark_callback(mark_held_routines);
    marked = true;
    held_routines.clear();
    bind_routines(specs, routine_entries, std::size(routine_entries));
}

void place_held_routines() {
    std::erase_if(held_routines, [](const HeldRoutine& h) {
        Cell* field = system_field(h.path);
        if (field) *field = h.value;
        return field != nullptr;
    });
}

void complete_system() {
    place_held_routines();
    if (Cell* date = system_field("system/build/date")) *date = build_date();
    if (Cell* errors = system_field("system/catalog/errors")) *errors = error_t::catalog();
    if (Cell* proto = system_field("system/standard/error")) *proto = error_t::prototype();
}

}  // namespace vyr::library
