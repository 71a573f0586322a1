// A fresh heap for tests that make series: the memory steps of the start-up
// in their order, collection enabled, stress mode off.
#pragma once

#include <gtest/gtest.h>

#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/resources.h"
#include "runtime/series.h"

namespace vyr::test {

inline void fresh_heap() {
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

class HeapTest : public ::testing::Test {
protected:
    void SetUp() override { fresh_heap(); }
    void TearDown() override {
        collector::set_stress(false);
        memory::free_all_frames();
    }
};

// A block value cell for a node.
inline Cell block_cell(NodeId node, uint32_t type = type_block) { return Cell{type, 0, node, 0}; }

}  // namespace vyr::test
