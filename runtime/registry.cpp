#include "runtime/registry.h"

#include <cstring>

#include "runtime/platform.h"
#include "runtime/runtime_error.h"

namespace vyr::registry {

ActionFn detail::action_table[detail::table_rows][action_count];

namespace {
using detail::action_table;
using detail::table_rows;
TypeName type_names[table_rows];
uint32_t highest = 0;
}  // namespace

void type_tables_init() {
    for (auto& t : type_names) t = TypeName{};
    for (auto& row : action_table)
        for (auto& e : row) e = unsupported;
    highest = 0;
}

void register_datatype(uint32_t type, uint32_t parent, const char* name, const ActionFn* slots, size_t count) {
    if (type >= type_count) runtime_error_quit(runtime_error_no::no_case_match, VYR_CODE_POSITION());
    if (type > highest) highest = type;
    type_names[type].name = name;
    type_names[type].length = uint32_t(std::strlen(name)) - 1;

    if (count != action_count) {
        platform::runtime_prin({"*** Datatype Error: invalid actions count for type: ", int(type), '\n',
                                "*** Found: ", int(count), '\n', "*** Expected: ", int(action_count),
                                '\n'});
        runtime_error_quit(0, 0);
    }
    for (uint32_t s = 0; s < action_count; ++s) {
        ActionFn fn = slots[s];
        if (fn == inherit && parent != 0) fn = action_table[parent][s];
        action_table[type][s] = fn;
    }
}


const TypeName& type_name(uint32_t type) { return type_names[type & header::type_mask]; }
void set_type_word(uint32_t type, const Cell& word) { type_names[type].word = word; }
uint32_t highest_type() { return highest; }

}  // namespace vyr::registry
