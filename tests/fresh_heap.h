// A fresh heap for tests and benchmarks that make series: the memory steps
// of the start-up in their order, collection enabled, stress mode off, no
// hooks installed.
#pragma once

#include "datatypes/context.h"
#include "datatypes/datatypes.h"
#include "datatypes/error.h"
#include "runtime/registry.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "datatypes/image-backend/bitmap.h"
#include "runtime/memory.h"
#include "datatypes/owners.h"
#include "runtime/resources.h"
#include "boot/startup.h"
#include "runtime/series.h"
#include "runtime/symbols.h"

namespace vyr::test {

inline void fresh_heap() {
    errors::clear_last_error();  // its cells would name nodes of the old heap
    memory::free_all_frames();
    memory::memory_init();
    resources::resource_tables_init();
    memory::first_frames();
    series::make_root_block();
    resources::extref_init();
    collector::collector_reset();
    collector::set_stress(false);
    collector::set_enabled(true);
    collector::set_node_compaction(true);
    collector::set_hash_table_marker(nullptr);
    collector::set_image_marker(nullptr);
    collector::set_owners_purge(nullptr);
    series::cycle_reset();
}

// A fresh heap with the start-up steps that make values possible: the
// argument stack, every registered datatype, symbols, the global context, case
// tables, type-name and fixed words, the owners table and the error catalog.
inline void fresh_runtime() {
    fresh_heap();
    root_keep = true;
    stack::make_stack_block();
    stack::stack_init();
    registry::type_tables_init();
    datatypes::register_datatypes();
    image_backend::image_codec_init();
    datatypes::register_image();
    symbols::make_symbol_block();
    context_t::make_global_context();
    case_tables::init_case_tables();
    symbols::make_symbol_table();
    word_t::make_type_name_words();
    fixed::make_fixed_words();
    owners::owners_table_init();
    error_t::make_catalog();
    root_keep = false;
}

}  // namespace vyr::test
