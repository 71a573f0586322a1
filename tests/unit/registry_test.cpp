// The action table: registration, inheritance, lookup.
#include <gtest/gtest.h>
#include <unistd.h>

#include "runtime/registry.h"
#include "runtime/platform.h"

using namespace vyr;
using namespace vyr::registry;

namespace {
int32_t parent_length(Cell*) { return 1; }
int32_t child_length(Cell*) { return 2; }
Cell* parent_clear(Cell* c) { return c; }

// A row of `rest` with two slots set.
struct Row {
    ActionFn slots[action_count];
    Row(uint32_t slot_a, ActionFn a, uint32_t slot_b, ActionFn b, ActionFn rest) {
        for (auto& s : slots) s = rest;
        slots[slot_a - 1] = a;
        slots[slot_b - 1] = b;
    }
};
void register_row(uint32_t type, uint32_t parent, const char* name, const Row& row) {
    register_datatype(type, parent, name, row.slots, action_count);
}
}  // namespace

TEST(RegistryTest, InheritTakesTheParentsEntryAtRegistration) {
    type_tables_init();
    register_row(type_block, 0, "block!", Row(slot_length_q, act(parent_length), slot_clear, act(parent_clear), unsupported));
    // paren!: inherits length? and clear, overrides nothing; a slot the parent lacks stays empty.
    register_row(type_paren, type_block, "paren!", Row(slot_length_q, inherit, slot_sort, inherit, inherit));
    register_row(type_path, type_block, "path!", Row(slot_length_q, act(child_length), slot_clear, unsupported, inherit));

    EXPECT_EQ(action<action_sig::length>(type_paren, slot_length_q)(nullptr), 1);
    EXPECT_EQ(get_action(type_paren, slot_clear), act(parent_clear));
    EXPECT_EQ(get_action(type_paren, slot_sort), unsupported);  // inherit of an empty parent slot
    EXPECT_EQ(action<action_sig::length>(type_path, slot_length_q)(nullptr), 2);
    EXPECT_EQ(get_action(type_path, slot_clear), unsupported);
    EXPECT_EQ(get_action(0xFF, slot_make), unsupported);  // never registered

    EXPECT_STREQ(type_name(type_paren).name, "paren!");
    EXPECT_EQ(type_name(type_paren).length, 5u);
    EXPECT_EQ(highest_type(), uint32_t(type_path));
}

TEST(RegistryDeathTest, WrongActionCountEndsTheRun) {
    EXPECT_EXIT(
        {
            platform::set_output_fd(STDERR_FILENO);
            type_tables_init();
            register_datatype(type_integer, 0, "integer!", {unsupported, unsupported});
        },
        testing::ExitedWithCode(0),
        "^\\*\\*\\* Datatype Error: invalid actions count for type: 11\n\\*\\*\\* Found: 2\n\\*\\*\\* Expected: 62\n$");
}
