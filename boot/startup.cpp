// Start-up: the entry function and the runtime's start-up sequence. The steps
// of `runtime_init` keep their order; a subsystem that is not built yet keeps
// its named step with nothing in it, so later work fills steps in place.
#include "boot/startup.h"

#include <pthread.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>

#include "boot/boot.h"
#include "console/launch.h"
#include "datatypes/context.h"
#include "datatypes/datatypes.h"
#include "datatypes/error.h"
#include "runtime/registry.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "engine/checksum_words.h"
#include "engine/eval.h"
#include "datatypes/frames.h"
#include "engine/lexer.h"
#include "engine/parse.h"
#include "engine/natives.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "io/deflate.h"
#include "io/file_access.h"
#include "io/http_request.h"
#include "library/routines.h"
#include "runtime/case_tables.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "datatypes/owners.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"
#include "runtime/resources.h"
#include "runtime/runtime_error.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace vyr {

RuntimeRecord runtime;

namespace startup {
// Each step is one subsystem's initialiser; empty ones are not built yet.
void random_init() { random::random_init(); }
void memory_init() { memory::memory_init(); }
void resource_tables_init() { resources::resource_tables_init(); }
void type_tables_init() { registry::type_tables_init(); }
void register_datatypes() { datatypes::register_datatypes(); }
void image_codec_init() {}
void register_image() { datatypes::register_image(); }
void host_files_init() {
    file_access::install();
    http_request::install();
}
void actions_init() { actions::actions_init(); }
void first_frames() { memory::first_frames(); }
void root_block() { series::make_root_block(); }
void argument_stack() { stack::make_stack_block(); }
void call_stack() { frames::make_frame_block(); }
void symbol_block() { symbols::make_symbol_block(); }
void global_context() { context_t::make_global_context(); }
void init_case_tables() { case_tables::init_case_tables(); }
void symbol_table() { symbols::make_symbol_table(); }
void make_type_name_words() { word_t::make_type_name_words(); }
void fixed_words() { fixed::make_fixed_words(); }
void natives_init() { natives::natives_init(); }
void parse_init() { parse::parse_init(); }
void owners_table_init() { owners::owners_table_init(); }
void checksum_init() { checksum::checksum_init(); }
void compression_words_init() { deflate::compression_words_init(); }
void call_init() {}
void stack_init() {
    stack::stack_init();
    frames::frames_init();
}
void lexer_init() { lexer::lexer_init(); }
// Until the boot data carries them, the error catalog objects are built
// from the C++ catalog table here, where the boot data would decode them.
void decode_boot() { error_t::make_catalog(); }
void interp_init() { eval::interp_init(); }
void extref_init() { resources::extref_init(); }
void collector_reset() { collector::collector_reset(); }

// After runtime_init.
void intern_names() { library::intern_names(); }
void enable_collection() { collector::set_enabled(true); }
void run_boot_script() { boot::run_boot_script(); }
void launch() { console::launch(); }
}  // namespace startup

void runtime_init() {
    using namespace startup;
    root_keep = true;
    hooks::print_hooks_init();
    platform::io_init();
    random_init();
    memory_init();
    resource_tables_init();
    type_tables_init();
    register_datatypes();
    image_codec_init();
    register_image();
    host_files_init();
    actions_init();
    first_frames();
    root_block();
    argument_stack();
    call_stack();
    symbol_block();
    global_context();
    init_case_tables();
    symbol_table();
    make_type_name_words();
    fixed_words();
    natives_init();
    parse_init();
    owners_table_init();
    checksum_init();
    compression_words_init();
    call_init();
    stack_init();
    lexer_init();
    decode_boot();
    interp_init();
    extref_init();
    collector_reset();
}

void top_level_catch(uint32_t code) {
    if (code == catch_code::halt) runtime_error_quit(0, 0);
    if (code == catch_code::error) errors::quit_uncaught();
    runtime_error_quit(runtime_error_no::no_catch, VYR_CODE_POSITION());
}

void entry(int argc, char** argv) {
    runtime.arg_count = argc;
    runtime.arg_vector = argv;
    platform::set_command_line(argc, argv);
    std::fesetround(FE_TONEAREST);  // round to nearest; exceptions stay masked
    try {
        runtime_init();
        startup::intern_names();
        startup::enable_collection();
        root_keep = false;
        startup::run_boot_script();
        startup::launch();
    } catch (const Unwind& u) {
        top_level_catch(u.code);
    }
    runtime_error_quit(0, 0);
}

namespace {
constexpr size_t interpreter_stack_size = size_t(256) << 20;

struct ThreadStart {
    void (*body)(void*);
    void* arg;
};

void* interpreter_thread(void* p) {
    auto* start = static_cast<ThreadStart*>(p);
    pthread_attr_t attr;
    void* stack_addr = nullptr;
    size_t stack_size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &stack_addr, &stack_size);
        pthread_attr_destroy(&attr);
    }
    install_fault_handlers(stack_addr, static_cast<char*>(stack_addr) + stack_size);
    start->body(start->arg);
    return nullptr;
}
}  // namespace

void run_on_interpreter_thread(void (*body)(void*), void* arg) {
    ThreadStart start{body, arg};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, interpreter_stack_size);
    pthread_t thread;
    if (pthread_create(&thread, &attr, interpreter_thread, &start) != 0) {
        // No room for the big stack: run here rather than not at all.
        install_fault_handlers(nullptr, nullptr);
        body(arg);
    } else {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attr);
}

}  // namespace vyr
