// A fixture with the runtime's start-up steps that exist, on a fresh heap for
// each test: memory, the datatype registry, the argument stack, symbols, the
// global context, type-name words, fixed words and the owners table.
#pragma once

#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/datatypes.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "engine/stack.h"
#include "runtime/case_tables.h"
#include "runtime/fixed_words.h"
#include "runtime/owners.h"
#include "runtime/runtime.h"
#include "runtime/symbols.h"
#include "tests/fresh_heap.h"

namespace vyr::test {

inline void start_runtime() {
    fresh_heap();
    root_keep = true;
    case_tables::init_case_tables();
    registry::type_tables_init();
    datatypes::register_datatypes();
    stack::make_stack_block();
    symbols::make_symbol_block();
    context_t::make_global_context();
    symbols::make_symbol_table();
    word_t::make_type_name_words();
    fixed::make_fixed_words();
    owners::owners_table_init();
    stack::stack_init();
    root_keep = false;
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { start_runtime(); }
    void TearDown() override {
        collector::set_stress(false);
        memory::free_all_frames();
    }
    // One collection that moves every buffer and renumbers every node.
    static void stress_collect() {
        collector::set_stress(true);
        collector::safe_point();
        collector::set_stress(false);
    }
};

}  // namespace vyr::test
