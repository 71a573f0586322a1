// The error catalog: every language error, named by a category and an id,
// with its numeric code and its message template.
//
// The catalog is written once here, as X-macro lists, and everything else is
// derived from the lists: the id constants that runtime code raises with
// (`err_id::script::no_value`), and the table that the error reports and the
// boot data's `system/catalog/errors` object are made from. So the constants
// and the table cannot disagree.
//
// Positions: a category is named by its 0-based position (err_cat::script is
// 3); an id by its position in its category object, whose fields are `code`,
// `type` (the title) and then the ids, so the first id is 2. An error's code
// is category x 100 + (id - 2): math `zero-divide` is 400.
//
// A template is one text, one plain word (user `message`: its value is the
// message), or a block of texts and argument references. A reference is the
// get-word `:argN` or, in three internal templates, the plain word `argN`;
// the two kinds are kept apart because the boot data stores them as written.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vyr {

// ---- The catalog, category by category ---------------------------------------
// X(C++ name, id word, template shape, template parts...)

#define VYR_ERRORS_THROW(X) \
    X(break_, "break", text, txt("no loop to break")) \
    X(return_, "return", text, txt("return or exit not in function")) \
    X(throw_, "throw", block, txt("no catch for throw:"), get(1)) \
    X(continue_, "continue", text, txt("no loop to continue")) \
    X(while_cond, "while-cond", text, txt("BREAK/CONTINUE cannot be used in WHILE condition block"))

#define VYR_ERRORS_NOTE(X) \
    X(no_load, "no-load", block, txt("cannot load: "), get(1))

#define VYR_ERRORS_SYNTAX(X) \
    X(invalid, "invalid", block, get(1), txt("invalid"), get(2), txt("at"), get(3)) \
    X(missing, "missing", block, get(1), txt("missing"), get(2), txt("at"), get(3)) \
    X(no_header, "no-header", block, txt("script is missing a Vyr header:"), get(1)) \
    X(no_rs_header, "no-rs-header", block, txt("script is missing a Vyr/System header:"), get(1)) \
    X(bad_header, "bad-header", block, txt("script header is not valid:"), get(1)) \
    X(malconstruct, "malconstruct", block, get(1), txt("invalid construction spec at"), get(2)) \
    X(bad_char, "bad-char", block, get(1), txt("invalid character at"), get(2))

#define VYR_ERRORS_SCRIPT(X) \
    X(no_value, "no-value", block, get(1), txt("has no value")) \
    X(need_value, "need-value", block, get(1), txt("needs a value")) \
    X(not_defined, "not-defined", block, get(1), txt("word is not bound to a context")) \
    X(not_in_context, "not-in-context", block, txt("context for"), get(1), txt("is not available")) \
    X(no_arg, "no-arg", block, get(1), txt("is missing its"), get(2), txt("argument")) \
    X(expect_arg, "expect-arg", block, get(1), txt("does not allow"), get(2), txt("for its"), get(3), txt("argument")) \
    X(expect_val, "expect-val", block, txt("expected"), get(1), txt("not"), get(2)) \
    X(expect_type, "expect-type", block, get(1), get(2), txt("field must be of type"), get(3)) \
    X(cannot_use, "cannot-use", block, txt("cannot use"), get(1), txt("on"), get(2), txt("value")) \
    X(invalid_arg, "invalid-arg", block, txt("invalid argument:"), get(1)) \
    X(invalid_type, "invalid-type", block, get(1), txt("type is not allowed here")) \
    X(invalid_type_spec, "invalid-type-spec", block, txt("invalid type specifier:"), get(1)) \
    X(invalid_key_type, "invalid-key-type", block, txt("invalid key type:"), get(1)) \
    X(invalid_op, "invalid-op", block, txt("invalid operator:"), get(1)) \
    X(no_op_arg, "no-op-arg", block, get(1), txt("operator is missing an argument")) \
    X(bad_op_spec, "bad-op-spec", text, txt("making an op! requires a function with only 2 arguments and no lit/get-word on left argument")) \
    X(invalid_data, "invalid-data", block, txt("data not in correct format:"), get(1)) \
    X(invalid_part, "invalid-part", block, txt("invalid /part count:"), get(1)) \
    X(not_same_type, "not-same-type", text, txt("values must be of the same type")) \
    X(not_same_class, "not-same-class", block, txt("cannot coerce"), get(1), txt("to"), get(2)) \
    X(not_related, "not-related", block, txt("incompatible argument for"), get(1), txt("of"), get(2)) \
    X(bad_func_def, "bad-func-def", block, txt("invalid function definition:"), get(1)) \
    X(bad_func_arg, "bad-func-arg", block, txt("function argument"), get(1), txt("is not valid")) \
    X(bad_func_extern, "bad-func-extern", block, txt("invalid /extern value:"), get(1)) \
    X(no_refine, "no-refine", block, get(1), txt("has no refinement called"), get(2)) \
    X(bad_refines, "bad-refines", text, txt("incompatible or invalid refinements")) \
    X(bad_refine, "bad-refine", block, txt("invalid refinement value:"), get(1)) \
    X(dup_refine, "dup-refine", block, txt("duplicate refinement usage in:"), get(1)) \
    X(word_first, "word-first", block, txt("path must start with a word:"), get(1)) \
    X(empty_path, "empty-path", text, txt("cannot evaluate an empty path value")) \
    X(unset_path, "unset-path", block, get(2), txt("is unset in path"), get(1)) \
    X(invalid_path, "invalid-path", block, txt("cannot access"), get(2), txt("in path"), get(1)) \
    X(invalid_path_set, "invalid-path-set", block, txt("unsupported type in"), get(1), txt("set-path")) \
    X(invalid_path_get, "invalid-path-get", block, txt("unsupported type in"), get(1), txt("get-path")) \
    X(bad_path_type, "bad-path-type", block, get(3), txt("returned a"), get(2), txt("value, so"), get(1), txt("could not be accessed")) \
    X(bad_path_type2, "bad-path-type2", block, txt("path element >"), get(1), txt("< does not apply to"), get(2), txt("type")) \
    X(bad_path_set, "bad-path-set", block, txt("cannot set"), get(2), txt("in path"), get(1)) \
    X(bad_field_set, "bad-field-set", block, txt("cannot set"), get(1), txt("field to"), get(2), txt("datatype")) \
    X(dup_vars, "dup-vars", block, txt("duplicate variable specified:"), get(1)) \
    X(past_end, "past-end", text, txt("out of range or past end")) \
    X(missing_arg, "missing-arg", text, txt("missing a required argument or refinement")) \
    X(out_of_range, "out-of-range", block, txt("value out of range:"), get(1)) \
    X(invalid_chars, "invalid-chars", text, txt("contains invalid characters")) \
    X(invalid_compare, "invalid-compare", block, txt("cannot compare"), get(1), txt("with"), get(2)) \
    X(wrong_type, "wrong-type", block, txt("datatype assertion failed for:"), get(1)) \
    X(invalid_refine_arg, "invalid-refine-arg", block, txt("invalid"), get(1), txt("argument:"), get(2)) \
    X(type_limit, "type-limit", block, get(1), txt("overflow/underflow")) \
    X(size_limit, "size-limit", block, txt("maximum limit reached:"), get(1)) \
    X(no_return, "no-return", text, txt("block did not return a value")) \
    X(throw_usage, "throw-usage", text, txt("invalid use of a thrown error value")) \
    X(locked_word, "locked-word", block, txt("protected word - cannot modify:"), get(1)) \
    X(protected_, "protected", text, txt("protected value or series - cannot modify")) \
    X(bad_bad, "bad-bad", block, get(1), txt("error:"), get(2)) \
    X(bad_make_arg, "bad-make-arg", block, txt("cannot MAKE"), get(1), txt("from:"), get(2)) \
    X(bad_to_arg, "bad-to-arg", block, txt("cannot MAKE/TO"), get(1), txt("from:"), get(2)) \
    X(invalid_months, "invalid-months", text, txt("invalid system/locale/month list")) \
    X(invalid_spec_field, "invalid-spec-field", block, txt("invalid"), get(1), txt("field in spec block")) \
    X(missing_spec_field, "missing-spec-field", block, get(1), txt("not found in spec block")) \
    X(move_bad, "move-bad", block, txt("Cannot MOVE elements from"), get(1), txt("to"), get(2)) \
    X(too_long, "too-long", text, txt("Content too long")) \
    X(invalid_char, "invalid-char", block, txt("Invalid char! value:"), get(1)) \
    X(bad_loop_series, "bad-loop-series", block, txt("Loop series changed to invalid value:"), get(1)) \
    X(wrong_denom, "wrong-denom", block, get(1), txt("not same denomination as"), get(2)) \
    X(bad_denom, "bad-denom", block, txt("invalid denomination:"), get(1)) \
    X(invalid_obj_evt, "invalid-obj-evt", block, txt("invalid object event handler:"), get(1)) \
    X(parse_rule, "parse-rule", block, txt("PARSE - invalid rule or usage of rule:"), get(1)) \
    X(parse_end, "parse-end", block, txt("PARSE - unexpected end of rule after:"), get(1)) \
    X(parse_invalid_ref, "parse-invalid-ref", block, txt("PARSE - get-word refers to a different series!"), get(1)) \
    X(parse_block, "parse-block", block, txt("PARSE - input must be of any-block! type:"), get(1)) \
    X(parse_unsupported, "parse-unsupported", text, txt("PARSE - matching by datatype not supported for any-string! input")) \
    X(parse_infinite, "parse-infinite", block, txt("PARSE - infinite recursion at rule: ["), get(1), txt("]")) \
    X(parse_stack, "parse-stack", text, txt("PARSE - stack limit reached")) \
    X(parse_keep, "parse-keep", text, txt("PARSE - KEEP is used without a wrapping COLLECT")) \
    X(parse_into_bad, "parse-into-bad", text, txt("PARSE - COLLECT INTO/AFTER invalid series! argument")) \
    X(parse_into_type, "parse-into-type", text, txt("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")) \
    X(draw_invalid, "draw-invalid", block, txt("DRAW - invalid input at:"), get(1)) \
    X(draw_infinite, "draw-infinite", block, txt("DRAW - infinite recursion at:"), get(1)) \
    X(invalid_data_facet, "invalid-data-facet", block, txt("invalid DATA facet content"), get(1)) \
    X(face_type, "face-type", block, txt("VIEW - invalid face type:"), get(1)) \
    X(not_window, "not-window", text, txt("VIEW - expected a window root face")) \
    X(bad_window, "bad-window", text, txt("VIEW - a window face cannot be nested in another window")) \
    X(not_linked, "not-linked", text, txt("VIEW - face not linked to a window")) \
    X(not_event_type, "not-event-type", block, txt("VIEW - not a valid event type"), get(1)) \
    X(invalid_facet_type, "invalid-facet-type", block, txt("VIEW - invalid rate value:"), get(1)) \
    X(ldl_invalid_syntax, "ldl-invalid-syntax", block, txt("LDL - invalid syntax at:"), get(1)) \
    X(rtd_invalid_syntax, "rtd-invalid-syntax", block, txt("RTD - invalid syntax at:"), get(1)) \
    X(rtd_no_match, "rtd-no-match", block, txt("RTD - opening/closing tag not matching for:"), get(1)) \
    X(react_bad_func, "react-bad-func", text, txt("REACT - /LINK option requires a function! as argument")) \
    X(react_not_enough, "react-not-enough", text, txt("REACT - reactive functions must accept at least 2 arguments")) \
    X(react_no_match, "react-no-match", text, txt("REACT - objects block length must match reaction function arg count")) \
    X(react_bad_obj, "react-bad-obj", text, txt("REACT - target can only contain object values")) \
    X(react_gctx, "react-gctx", block, txt("REACT - word"), get(1), txt("is not a reactor's field")) \
    X(lib_invalid_arg, "lib-invalid-arg", block, txt("LIBVYR - invalid argument for"), get(1)) \
    X(ze_ruzovir_uraziz, "ze-ruzovir-uraziz", block, txt("VYRBIN - invalid record at index"), get(1))

#define VYR_ERRORS_MATH(X) \
    X(zero_divide, "zero-divide", text, txt("attempt to divide by zero")) \
    X(overflow, "overflow", text, txt("math or number overflow")) \
    X(positive, "positive", text, txt("positive number required"))

#define VYR_ERRORS_ACCESS(X) \
    X(cannot_open, "cannot-open", block, txt("cannot open:"), get(1)) \
    X(cannot_close, "cannot-close", block, txt("cannot close:"), get(1)) \
    X(invalid_utf8, "invalid-utf8", block, txt("invalid UTF-8 encoding:"), get(1)) \
    X(not_open, "not-open", block, txt("port is not open:"), get(1)) \
    X(no_connect, "no-connect", block, txt("cannot connect:"), get(1), txt("reason: timeout")) \
    X(no_scheme, "no-scheme", block, txt("missing port scheme:"), get(1)) \
    X(unknown_scheme, "unknown-scheme", block, txt("scheme is unknown:"), get(1)) \
    X(invalid_spec, "invalid-spec", block, txt("invalid spec or options:"), get(1)) \
    X(invalid_port, "invalid-port", block, txt("invalid port object (invalid field values)")) \
    X(invalid_actor, "invalid-actor", block, txt("invalid port actor (must be handle or object)")) \
    X(no_port_action, "no-port-action", text, txt("port action not supported")) \
    X(no_create, "no-create", block, txt("cannot create:"), get(1)) \
    X(no_codec, "no-codec", block, txt("cannot decode or encode (no codec):"), get(1)) \
    X(bad_media, "bad-media", block, txt("bad media data (corrupt image, sound, video)")) \
    X(invalid_cmd, "invalid-cmd", block, txt("invalid port command:"), get(1))

#define VYR_ERRORS_USER(X) \
    X(message, "message", word, word(1))

#define VYR_ERRORS_INTERNAL(X) \
    X(bad_path, "bad-path", block, txt("bad path:"), word(1)) \
    X(not_here, "not-here", block, word(1), txt("not supported on your system")) \
    X(no_memory, "no-memory", text, txt("not enough memory")) \
    X(wrong_mem, "wrong-mem", text, txt("failed to release memory")) \
    X(stack_overflow, "stack-overflow", text, txt("stack overflow")) \
    X(limit_hit, "limit-hit", block, txt("internal limit reached:"), get(1)) \
    X(too_deep, "too-deep", text, txt("block or paren series is too deep to process")) \
    X(no_cycle, "no-cycle", text, txt("circular reference not allowed")) \
    X(feature_na, "feature-na", text, txt("feature not available")) \
    X(not_done, "not-done", text, txt("reserved for future use (or not yet implemented)")) \
    X(invalid_error, "invalid-error", block, txt("invalid error object field value:"), get(1)) \
    X(routines, "routines", text, txt("routines require compilation, from OS shell: `vyr -r <script.vyr>`")) \
    X(vyr_system, "vyr-system", text, txt("contains Vyr/System code which requires compilation")) \
    X(deprecated, "deprecated", block, word(1), txt("is DEPRECATED, please use"), word(2), txt("instead"))

// reserved1 and reserved2 hold no ids.
#define VYR_ERRORS_RESERVED1(X)
#define VYR_ERRORS_RESERVED2(X)

// X(C++ name, category word, title, id list), in catalog order.
#define VYR_ERROR_CATEGORIES(X)                           \
    X(throw_, "throw", "Throw Error", VYR_ERRORS_THROW)    \
    X(note, "note", "note", VYR_ERRORS_NOTE)               \
    X(syntax, "syntax", "Syntax Error", VYR_ERRORS_SYNTAX) \
    X(script, "script", "Script Error", VYR_ERRORS_SCRIPT) \
    X(math, "math", "Math Error", VYR_ERRORS_MATH)         \
    X(access, "access", "Access Error", VYR_ERRORS_ACCESS) \
    X(reserved1, "reserved1", "Reserved1 Error", VYR_ERRORS_RESERVED1) \
    X(reserved2, "reserved2", "Reserved2 Error", VYR_ERRORS_RESERVED2) \
    X(user, "user", "User Error", VYR_ERRORS_USER)         \
    X(internal, "internal", "Internal Error", VYR_ERRORS_INTERNAL)

// Category positions: err_cat::script is 3.
namespace err_cat {
#define VYR_CATEGORY_POSITION(name, word, title, ids) name,
enum : int { VYR_ERROR_CATEGORIES(VYR_CATEGORY_POSITION) count };
#undef VYR_CATEGORY_POSITION
}  // namespace err_cat

// Id positions within their category: err_id::script::no_value is 2.
namespace err_id {
#define VYR_ID_POSITION(name, word, shape, ...) name,
#define VYR_CATEGORY_IDS(name, word, title, ids) \
    namespace name {                             \
    enum : int { field_code, field_type, ids(VYR_ID_POSITION) end };  \
    }
VYR_ERROR_CATEGORIES(VYR_CATEGORY_IDS)
#undef VYR_CATEGORY_IDS
#undef VYR_ID_POSITION
inline constexpr int first = 2;  // position of the first id of every category
}  // namespace err_id

namespace error_catalog {

// One element of a template.
enum class PartKind : uint8_t { text, get_word, word };
struct Part {
    PartKind kind;
    const char* text;  // the text, for PartKind::text
    uint8_t arg;       // 1..3, for the two word kinds
};
constexpr Part txt(const char* t) { return {PartKind::text, t, 0}; }
constexpr Part get(int n) { return {PartKind::get_word, nullptr, uint8_t(n)}; }
constexpr Part word(int n) { return {PartKind::word, nullptr, uint8_t(n)}; }

// How a template is stored: one string!, one word!, or a block!.
enum class Shape : uint8_t { text, word, block };

inline constexpr int max_parts = 6;
struct Template {
    Shape shape;
    uint8_t count;
    Part parts[max_parts];
};

struct Id {
    const char* word;  // the id word, as in "no-value"
    Template message;
};

struct Category {
    const char* word;   // the category word, as in "script"
    int32_t code;       // its `code` field: position x 100
    const char* title;  // its `type` field, as in "Script Error"
    std::span<const Id> ids;
};

// The ten categories in catalog order.
std::span<const Category> categories();
// The category at a position, or null outside 0..9.
const Category* category(int position);
// The id at a position (2 for the first id) of a category, or null.
const Id* id(int category, int id);
// The numeric code of an id: category x 100 + (id - 2).
constexpr int32_t code(int category, int id) { return category * 100 + (id - err_id::first); }
// The positions of a category or id word; -1 when there is none.
int category_position(std::string_view word);
int id_position(int category, std::string_view word);

// The template written as Vyr source, as the boot data holds it: "text",
// arg1, or [:arg1 "has no value"]. Used to build and check the boot script.
std::string template_source(const Template& t);

}  // namespace error_catalog
}  // namespace vyr
