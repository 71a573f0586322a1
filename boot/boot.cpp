// Start-up's boot step (see boot.h).
#include "boot/boot.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/startup.h"
#include "datatypes/datatype.h"
#include "io/vyrbin.h"
#include "runtime/memory.h"
#include "datatypes/native.h"
#include "runtime/registry.h"
#include "datatypes/word.h"
#include "engine/source.h"
#include "library/routines.h"
#include "console/input.h"
#include "runtime/runtime_error.h"
#include "runtime/stack.h"

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

// The library source that builds the system object; the runtime completes
// the object right after it.
constexpr const char system_source[] = "system.vyr";

// The specs of the routines: data for make_routines, not evaluated.
constexpr const char routine_source[] = "routines.vyr";

// The series room the boot code needs: it allocates about 1.9 MB, nearly all
// of which stays live. With the heap sized for it up front (the first frame
// and one more), start-up runs no collection.
constexpr size_t boot_heap_bytes = size_t(5) << 19;

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
    Cell* spec = source::load(bootstrap_make_spec);
    Cell* action = native_t::push(type_action, *spec, registry::slot_make - 1);
    Cell word = word_t::make_global("make");
    word_t::set(word, *action);
    mark.restore();
}

Cell load_source(const Source& source) {
    stack::Mark mark;
    Cell block = *source::load({source.text, source.length});
    source::skip_header(block);
    return block;
}

namespace {

// The runtime's part of what source i built, once it has run.
void after_source(uint32_t i) {
    if (std::strcmp(sources[i].name, system_source) == 0) library::complete_system();
    library::place_held_routines();
}

void make_routines(const Cell& specs) {
    library::make_routines(specs);
    console::make_routines(specs);
}

// Start-up from the boot image: source i from its decoded block (past its
// header). The routine source is data for the routines; the others run.
void run_decoded_source(uint32_t i, const Cell& block) {
    if (i >= source_count) {
        std::fprintf(stderr, "Error: the boot image does not match the boot sources\n");
        std::exit(1);
    }
    stack::Mark mark;
    Cell* code = stack::push_copy(block);  // the argument stack keeps it
    code->header &= ~header::new_line;
    if (std::strcmp(sources[i].name, routine_source) == 0) {
        make_routines(*code);
        mark.restore();
        return;
    }
    Status s = source::evaluate(*code);
    mark.restore();
    // A break, return or throw that nothing in the source caught has no
    // place to go: it ends start-up the way an escaped throw does.
    if (s != Status::ok) throw_code(uint32_t(s));
    after_source(i);
}

}  // namespace

void run_boot_script() {
    memory::reserve_series_room(boot_heap_bytes);
    define_type_words();
    bootstrap_make();
    if (runtime.boot_data) {
        // Each source's block is decoded just before it runs, so the global
        // words appear in the order the texts give.
        stack::Mark mark;
        Cell* target = stack::push_copy(Cell{type_block, 0, memory::alloc_cells(source_count), 0});
        vyrbin::decode_boot({runtime.boot_data, runtime.boot_size}, target, run_decoded_source);
        mark.restore();
        return;
    }
    for (uint32_t i = 0; i < source_count; ++i) {
        if (std::strcmp(sources[i].name, routine_source) == 0) {
            stack::Mark mark;
            Cell* specs = stack::push_copy(load_source(sources[i]));  // the argument stack keeps it
            make_routines(*specs);
            mark.restore();
            continue;
        }
        Status s;
        // Every boot source has a header: one without is a fault of the build.
        if (source::run({sources[i].text, sources[i].length}, s) != source::Outcome::ran)
            runtime_error_quit(runtime_error_no::unknown, VYR_CODE_POSITION());
        if (s != Status::ok) throw_code(uint32_t(s));
        after_source(i);
    }
}

}  // namespace vyr::boot
