// A fixture with a fresh heap for each test (see tests/fresh_heap.h).
#pragma once

#include <gtest/gtest.h>

#include "tests/fresh_heap.h"

namespace vyr::test {

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
