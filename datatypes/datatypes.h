// The registration functions of every datatype module, in the order start-up
// calls them: parents before children. Each module defines its own
// `<type>_t::init` (block! -> block_t::init), which builds its row of actions
// and hands it to registry::register_datatype.
#pragma once

// X(namespace, type id) for each type in registration order; image! and
// event! register apart (after the imaging codecs, and from the start-up
// script).
#define VYR_REGISTERED_TYPES(X)                                                                          \
    X(datatype_t, 1) X(unset_t, 2) X(none_t, 3) X(logic_t, 4) X(series_t, 42) X(block_t, 5)            \
    X(string_t, 7) X(binary_t, 41) X(integer_t, 11) X(symbol_t, 13) X(context_t, 14) X(word_t, 15)     \
    X(lit_word_t, 17) X(set_word_t, 16) X(get_word_t, 18) X(refinement_t, 19) X(char_t, 10)            \
    X(native_t, 21) X(action_t, 22) X(op_t, 23) X(path_t, 25) X(lit_path_t, 26) X(set_path_t, 27)      \
    X(get_path_t, 28) X(function_t, 24) X(routine_t, 29) X(paren_t, 6) X(issue_t, 20) X(url_t, 9)      \
    X(file_t, 8) X(object_t, 32) X(bitset_t, 30) X(triple_t, 31) X(float_t, 12) X(typeset_t, 33)       \
    X(error_t, 34) X(vector_t, 35) X(map_t, 40) X(hash_t, 36) X(pair_t, 37) X(percent_t, 38)           \
    X(tuple_t, 39) X(time_t, 43) X(tag_t, 44) X(email_t, 45) X(handle_t, 46) X(date_t, 47)             \
    X(port_t, 48) X(money_t, 49) X(ref_t, 50) X(point2d_t, 51) X(point3d_t, 52)

namespace vyr {
#define VYR_DECLARE_INIT(ns, id) \
    namespace ns {               \
    void init();                 \
    }
VYR_REGISTERED_TYPES(VYR_DECLARE_INIT)
#undef VYR_DECLARE_INIT

namespace datatypes {
// Runs every registration in order (all but image! and event!).
void register_datatypes();
// image! registers after the imaging codecs are set up.
void register_image();
}  // namespace datatypes
}  // namespace vyr
