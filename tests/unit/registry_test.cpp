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

const ActionFn two_slots[] = {unsupported, unsupported};
}  // namespace

TEST(RegistryTest, InheritTakesTheParentsEntryAtRegistration) {
    type_tables_init();
    Row().set(slot_length_q, parent_length).set(slot_clear, parent_clear).register_as(type_block, 0, "block!");
    // paren!: inherits length? and clear, overrides nothing; a slot the parent lacks stays empty.
    Row().inherit(slot_make, slot_write).register_as(type_paren, type_block, "paren!");
    Row().inherit(slot_make, slot_write).set(slot_length_q, child_length).drop({slot_clear}).register_as(
        type_path, type_block, "path!");

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
            register_datatype(type_integer, 0, "integer!", two_slots, 2);
        },
        testing::ExitedWithCode(0),
        "^\\*\\*\\* Datatype Error: invalid actions count for type: 11\n\\*\\*\\* Found: 2\n\\*\\*\\* Expected: 62\n$");
}
