// Start-up's boot step (see boot.h).
#include "boot/boot.h"

#include "datatypes/datatype.h"
#include "datatypes/native.h"
#include "runtime/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "runtime/stack.h"
#include "library/routines.h"
#include "runtime/memory.h"

namespace vyr::boot {

namespace {

// The names of the datatypes by type id. The registry names the registered
// ones; this table also names those whose modules come later, so that their
// words have a value from the start.
constexpr const char* type_names[] = {
    nullptr,     "datatype!", "unset!",    "none!",     "logic!",   "block!",    "paren!",     "string!",
    "file!",     "url!",      "char!",     "integer!",  "float!",   "symbol!",   "context!",   "word!",
    "set-word!", "lit-word!", "get-word!", "refinement!", "issue!", "native!",   "action!",    "op!",
    "function!", "path!",     "lit-path!", "set-path!", "get-path!", "routine!", "bitset!",    "triple!",
    "object!",   "typeset!",  "error!",    "vector!",   "hash!",    "pair!",     "percent!",   "tuple!",
    "map!",      "binary!",   "series!",   "time!",     "tag!",     "email!",    "handle!",    "date!",
    "port!",     "money!",    "ref!",      "point2D!",  "point3D!", "image!",    "event!",
};
constexpr uint32_t named_types = sizeof(type_names) / sizeof(type_names[0]);
static_assert(named_types == type_event + 1, "one name per type id up to event!");

// What the provisional `make` takes: enough for the evaluator to fetch its
// two arguments. No type blocks: the typesets they would name do not exist
// yet.
constexpr const char bootstrap_make_spec[] = "type spec";

// Loads UTF-8 text into a new block (the lexer binds its words globally).
Cell load_text(const char* text, uint32_t length) {
    lexer::Request request;
    request.text = reinterpret_cast<const uint8_t*>(text);
    request.length = length;
    Cell block{};
    lexer::lexer_scan(&block, request, nullptr);
    return block;
}

// Whether the block holds, at its index, the word `Vyr` (spelled so) and a block.
bool header_at(const Cell& block) {
    uint32_t length = memory::series_length(block.w2);
    if (block.w1 + 2 > length) return false;
    const Cell& word = *memory::cell_at(block.w2, block.w1);
    const Cell& spec = *memory::cell_at(block.w2, block.w1 + 1);
    return type_of(word) == type_word && symbol_t::name(int32_t(word.w2)) == "Vyr" && type_of(spec) == type_block;
}

}  // namespace

void define_type_words() {
    for (uint32_t t = 1; t < named_types; ++t) {
        const char* name = registry::type_name(t).name;
        if (!name) name = type_names[t];
        if (!name) continue;
        Cell word = word_t::make_global(name);
        word_t::set(word, datatype_t::value_of(t));
    }
}

void bootstrap_make() {
    stack::Mark mark;
    Cell spec = load_text(bootstrap_make_spec, sizeof(bootstrap_make_spec) - 1);
    Cell* rooted = stack::push_copy(spec);
    Cell* action = native_t::push(type_action, *rooted, registry::slot_make - 1);
    Cell word = word_t::make_global("make");
    word_t::set(word, *action);
    mark.restore();
}

Cell load_source(const Source& source) {
    Cell block = load_text(source.text, source.length);
    if (header_at(block)) block.w1 += 2;
    return block;
}

void run_boot_script() {
    define_type_words();
    bootstrap_make();
    library::make_routines();
    for (uint32_t i = 0; i < source_count; ++i) {
        stack::Mark mark;
        Cell* code = stack::push_copy(load_source(sources[i]));
        Status s = eval::eval_block(frames::markers().body, *code, false);
        mark.restore();
        // A break, return or throw that nothing in the source caught has no
        // place to go: it ends start-up the way an escaped throw does.
        if (s != Status::ok) throw_code(uint32_t(s));
    }
}

}  // namespace vyr::boot
