// A fresh heap for tests and benchmarks that make series: the memory steps
// of the start-up in their order, collection enabled, stress mode off, no
// hooks installed.
#pragma once

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/resources.h"
#include "runtime/series.h"

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

}  // namespace vyr::test
