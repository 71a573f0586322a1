// error!: the catalog and prototype objects, making errors, the report
// ("*** Script Error: ..." with its Where, Near, Stack and Files lines),
// mold, compare and path access.
#include "datatypes/error.h"

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/eval_hooks.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "datatypes/checks.h"
#include "runtime/collector.h"
#include "runtime/error_catalog.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "datatypes/fixed_words.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace vyr::error_t {

using namespace registry;
namespace script = err_id::script;

namespace {

constexpr Cell none_value{type_none, 0, 0, 0};
constexpr int32_t arg_text_limit = 80;   // characters of one field in a message
constexpr int32_t near_text_limit = 40;  // characters of the Near and Files lines
constexpr const char* field_names[field::count] = {"code", "type", "id",    "arg1",  "arg2",
                                                   "arg3", "near", "where", "stack", "files"};

// The catalog and the prototype, roots of the heap they were made in.
Cell kept[2] = {none_value, none_value};
uint32_t kept_generation = ~0u;
int32_t stack_trace_depth = 0;


Cell* value_at(NodeId ctx, uint32_t i) { return context_t::context_value_at(ctx, int32_t(i)); }

// ---- Building the catalog --------------------------------------------------------

// An object with the named fields, all none, and a class id of its own.
Cell new_object(uint32_t room) {
    Cell o;
    object_t::make_at(o, room);
    o.w2 = uint32_t(object_t::next_class_id());
    *context_t::self_slot(o.w1) = o;
    return o;
}

void add_field(const Cell& object, const char* name, const Cell& value) {
    Cell v = value;
    context_t::put_word_value(object.w1, word_t::make_global(name), v);
}

Cell string_of(const char* text) {
    Cell s;
    string_t::make_at(s, 16);
    string_t::append_text(s, text);
    return s;
}

Cell arg_word(int n, uint32_t type) {
    char name[] = "arg0";
    name[3] = char('0' + n);
    Cell w = word_t::make_global(name);
    set_type(w, type);
    return w;
}

// A message as scripts see it: a string, the plain word arg1, or a block of
// strings and argument words.
Cell template_value(const error_catalog::Template& t) {
    using error_catalog::PartKind;
    if (t.shape == error_catalog::Shape::text) return string_of(t.parts[0].text);
    if (t.shape == error_catalog::Shape::word) return arg_word(t.parts[0].arg, type_word);
    NodeId block = memory::alloc_cells(uint32_t(t.count) + 1);
    for (int i = 0; i < t.count; ++i) {
        const error_catalog::Part& p = t.parts[i];
        Cell c = p.kind == PartKind::text    ? string_of(p.text)
                 : p.kind == PartKind::word ? arg_word(p.arg, type_word)
                                             : arg_word(p.arg, type_get_word);
        *series::alloc_tail_cell(block) = c;
    }
    return Cell{type_block, 0, block, 0};
}

// ---- Small helpers of the report ---------------------------------------------------

uint32_t code_points(const std::string& utf8) {
    uint32_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

int32_t put(Cell* buffer, const std::string& utf8, int32_t budget) {
    string_t::append_utf8(buffer->w2, utf8.data(), utf8.size());
    return budget - int32_t(code_points(utf8));
}

int32_t put(Cell* buffer, const char* ascii, int32_t budget) { return put(buffer, std::string(ascii), budget); }

bool syntax_q(const Cell& error) {
    const Cell& type = *field_at(error, field::type);
    return any_word_q(type_of(type)) &&
           symbol_t::resolve_alias(int32_t(type.w2)) == symbol_t::resolve_alias(int32_t(fixed::word_cat_syntax.w2));
}

// The error becomes internal `invalid-error` naming the offending value.
void make_invalid(const Cell& error, const Cell& offending) {
    Cell v = offending;
    *field_at(error, field::arg1) = v;
    *field_at(error, field::type) = category_word(err_cat::internal);
    *field_at(error, field::id) = id_word(err_cat::internal, err_id::internal::invalid_error);
}

// The position of a category word in the catalog, or -1.
int32_t category_index(const Cell& word) {
    if (!any_word_q(type_of(word))) return -1;
    return object_t::find_field_index(catalog(), word);
}

// The position of an id word in a category object (2 for the first id), or
// -1; `code` and `type` are not ids.
int32_t id_index(const Cell& category, const Cell& word) {
    if (!any_word_q(type_of(word))) return -1;
    int32_t i = object_t::find_field_index(category, word);
    return i >= err_id::first ? i : -1;
}

Cell category_at(int32_t index) { return *value_at(catalog().w1, uint32_t(index)); }

void set_code(const Cell& error, int32_t category, int32_t id) {
    integer_t::make_at(field_at(error, field::code), category * 100 + (id - err_id::first));
}

void set_named_error(const Cell& error, int32_t category, int32_t id) {
    *field_at(error, field::type) = category_word(category);
    *field_at(error, field::id) = id_word(category, id);
    set_code(error, category, id);
}

[[noreturn]] void invalid_spec_field(const char* name) {
    Cell w = word_t::make_global(name);
    raise_error(err_cat::script, script::invalid_spec_field, &w);
}

// The error's fields after its field block was evaluated: `type` must name a
// category and `id` one of its ids.
void check_evaluated(const Cell& error) {
    int32_t c = category_index(*field_at(error, field::type));
    if (c < 0) invalid_spec_field("type");
    int32_t i = id_index(category_at(c), *field_at(error, field::id));
    if (i < 0) invalid_spec_field("id");
    set_code(error, c, i);
}

void make_from_words(const Cell& error, const Cell& spec) {
    uint32_t n = memory::series_length(spec.w2);
    Cell first = *memory::cell_at(spec.w2, spec.w1);
    int32_t c = category_index(first);
    if (c < 0) invalid_spec_field("type");
    if (spec.w1 + 1 >= n) invalid_spec_field("id");
    Cell second = *memory::cell_at(spec.w2, spec.w1 + 1);
    if (type_of(second) != type_word) raise_error(err_cat::script, script::invalid_arg, &second);
    int32_t i = id_index(category_at(c), second);
    if (i < 0) invalid_spec_field("id");
    set_named_error(error, c, i);
}

void make_from_code(const Cell& error, const Cell& spec) {
    int32_t code = integer_t::get(spec);
    int32_t c = code / 100;
    if (code < 0 || uint32_t(c) >= object_t::field_count(catalog()))
        raise_error(err_cat::script, script::out_of_range, &spec);
    int32_t i = code % 100 + err_id::first;
    if (uint32_t(i) >= object_t::field_count(category_at(c))) raise_error(err_cat::script, script::out_of_range, &spec);
    set_named_error(error, c, i);
}

// A copy of the prototype, typed error! with the class id of errors.
void new_error(Cell& out) {
    object_t::copy_into(prototype(), out, false, nullptr, false);
    out.header = type_error;
    out.w2 = uint32_t(class_id);
    out.w3 = no_node;
    *context_t::self_slot(out.w1) = out;
}

}  // namespace

// ---- The catalog and the prototype ------------------------------------------

void make_catalog() {
    Cell errors = new_object(err_cat::count);
    stack::Mark mark;
    stack::push_copy(errors);
    for (const error_catalog::Category& c : error_catalog::categories()) {
        Cell category = new_object(uint32_t(c.ids.size()) + 2);
        stack::push_copy(category);
        add_field(category, "code", Cell{type_integer, 0, uint32_t(c.code), 0});
        add_field(category, "type", string_of(c.title));
        for (const error_catalog::Id& id : c.ids) add_field(category, id.word, template_value(id.message));
        add_field(errors, c.word, category);
    }
    Cell proto = new_object(field::count);
    for (const char* name : field_names) add_field(proto, name, none_value);
    mark.restore();
    kept[0] = errors;
    kept[1] = proto;
    kept_generation = collector::heap_generation();
    collector::add_root_cells(kept, 2);
}

bool catalog_ready() { return kept_generation == collector::heap_generation() && type_of(kept[0]) == type_object; }
const Cell& catalog() { return catalog_ready() ? kept[0] : none_value; }
const Cell& prototype() { return catalog_ready() ? kept[1] : none_value; }

Cell category_word(int category) {
    if (!catalog_ready() || category < 0 || uint32_t(category) >= object_t::field_count(catalog())) return none_value;
    return *object_t::context_node_word_at(catalog().w1, category);
}

Cell id_word(int category, int id) {
    if (!catalog_ready() || category < 0 || uint32_t(category) >= object_t::field_count(catalog())) return none_value;
    Cell c = category_at(category);
    if (id < err_id::first || uint32_t(id) >= object_t::field_count(c)) return none_value;
    return *object_t::context_node_word_at(c.w1, id);
}

// ---- Making ------------------------------------------------------------------

Cell create(const Cell& category, const Cell& id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell args[3] = {arg1 ? *arg1 : none_value, arg2 ? *arg2 : none_value, arg3 ? *arg3 : none_value};
    bool given[3] = {arg1 != nullptr, arg2 != nullptr, arg3 != nullptr};
    stack::Mark mark;
    Cell* kept_args = stack::push_copy(args[0]);
    stack::push_copy(args[1]);
    stack::push_copy(args[2]);
    Cell* spec = stack::push_cell();
    NodeId block = memory::alloc_cells(2);
    *series::alloc_tail_cell(block) = category;
    *series::alloc_tail_cell(block) = id;
    *spec = Cell{type_block, 0, block, 0};
    Cell* result = stack::push_copy(datatype_t::value_of(type_error));
    make(result, spec, type_error);
    for (uint32_t i = 0; i < 3; ++i)
        if (given[i]) *field_at(*result, field::arg1 + i) = kept_args[i];
    Cell e = *result;
    mark.restore();
    return e;
}

Cell create_at(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    return create(category_word(category), id_word(category, id), arg1, arg2, arg3);
}

// ---- Fields ------------------------------------------------------------------

Cell* field_at(const Cell& error, uint32_t i) { return value_at(error.w1, i); }

void set_where(const Cell& error, const Cell& value) {
    Cell* where = field_at(error, field::where);
    if (type_of(*where) == type_none) *where = value;
}

int32_t get_type(const Cell& error) { return int32_t(field_at(error, field::type)->w2); }
int32_t get_id(const Cell& error) { return int32_t(field_at(error, field::id)->w2); }

void set_stack_trace(int32_t depth) { stack_trace_depth = depth; }
int32_t stack_trace() { return stack_trace_depth; }

void capture_stack(Cell& error) {
    if (type_of(error) != type_error) return;
    Cell level = *field_at(error, field::stack);
    auto stack_collector = eval_hooks::hooks().collect_stack;
    if (type_of(level) != type_integer || !stack_collector) return;
    Cell block{type_block, 0, memory::alloc_cells(20), 0};
    *field_at(error, field::stack) = block;
    stack_collector(stack_trace_depth > 0 ? stack_trace_depth : 1, block, integer_t::get(level));
}

// ---- Reports -----------------------------------------------------------------

int32_t form_message(const Cell& tpl, Cell* buffer, Cell& error, int32_t budget) {
    bool form = syntax_q(error);
    uint32_t n = memory::series_length(tpl.w2);
    for (uint32_t i = tpl.w1; i < n; ++i) {
        if (i > tpl.w1) budget = put(buffer, " ", budget);
        Cell part = *memory::cell_at(tpl.w2, i);
        uint32_t t = type_of(part);
        int32_t f = t == type_word || t == type_get_word ? object_t::find_field_index(error, part) : -1;
        if (f >= 0) budget = put(buffer, errors::value_text(*field_at(error, uint32_t(f)), form, arg_text_limit), budget);
        else if (t == type_string) budget = put(buffer, errors::value_text(part, true, INT32_MAX), budget);
        else budget = put(buffer, errors::value_text(part, form, arg_text_limit), budget);
    }
    return budget;
}

namespace {

// The message line: "*** ", the category's title, ": " and the message. A
// category, id or message that the catalog does not give turns the error
// into internal `invalid-error` so that a report is always written.
int32_t put_message_line(Cell* buffer, Cell& error, int32_t budget) {
    budget = put(buffer, "*** ", budget);
    Cell type = *field_at(error, field::type);
    int32_t c = category_index(type);
    if (c < 0) {
        make_invalid(error, type);
        c = err_cat::internal;
    }
    Cell category = category_at(c);
    Cell id = *field_at(error, field::id);
    int32_t i = id_index(category, id);
    if (i < 0) {
        make_invalid(error, id);
        c = err_cat::internal;
        category = category_at(c);
        i = err_id::internal::invalid_error;
    }
    Cell message = *value_at(category.w1, uint32_t(i));
    if (type_of(message) == type_word) {
        int32_t f = object_t::find_field_index(error, message);
        message = f >= 0 ? *field_at(error, uint32_t(f)) : none_value;
    }
    budget = put(buffer, errors::value_text(*value_at(category.w1, 1), true, INT32_MAX), budget);
    budget = put(buffer, ": ", budget);
    switch (type_of(message)) {
        case type_string: return put(buffer, errors::value_text(message, true, INT32_MAX), budget);
        case type_block: return form_message(message, buffer, error, budget);
        default: make_invalid(error, *field_at(error, field::type)); return budget;
    }
}

int32_t put_report(Cell* buffer, Cell& error, int32_t budget) {
    budget = put_message_line(buffer, error, budget);
    budget = put(buffer, "\n*** Where: ", budget);
    Cell where = *field_at(error, field::where);
    if (type_of(where) == type_word || type_of(where) == type_string)
        budget = put(buffer, errors::value_text(where, true, INT32_MAX), budget);
    else
        budget = put(buffer, "???", budget);
    budget = put(buffer, "\n*** Near : ", budget);
    budget = put(buffer, errors::value_text(*field_at(error, field::near), false, near_text_limit, true), budget);
    if (stack_trace_depth > 0) {
        Cell stack = *field_at(error, field::stack);
        auto stack_former = eval_hooks::hooks().form_stack;
        if (type_of(stack) == type_integer && stack_former) {
            budget = put(buffer, "\n*** Stack: ", budget);
            budget = stack_former(stack_trace_depth, stack, buffer, budget);
        } else if (type_of(stack) == type_block) {
            budget = put(buffer, "\n*** Stack: ", budget);
            budget = put(buffer, errors::value_text(stack, true, INT32_MAX), budget);
        }
    }
    Cell files = *field_at(error, field::files);
    if (type_of(files) == type_block) {
        budget = put(buffer, "\n*** Files: ", budget);
        budget = put(buffer, errors::value_text(files, false, near_text_limit, true), budget);
    }
    return budget;
}

}  // namespace

std::string report_text(const Cell& error) {
    stack::Mark mark;
    Cell* e = stack::push_copy(error);
    Cell* buffer = stack::push_cell();
    string_t::make_at(*buffer, 64);
    put_report(buffer, *e, INT32_MAX);
    std::string out = errors::value_text(*buffer, true, INT32_MAX);
    mark.restore();
    return out;
}

// ---- Actions -----------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec_in, uint32_t) {
    if (!catalog_ready()) raise_error(err_cat::internal, err_id::internal::not_done);
    stack::Mark mark;
    Cell* spec = stack::push_copy(*spec_in);
    Cell* error = stack::push_copy(none_value);
    new_error(*error);
    switch (type_of(*spec)) {
        case type_integer: make_from_code(*error, *spec); break;
        case type_block: {
            uint32_t n = memory::series_length(spec->w2);
            uint32_t first = spec->w1 < n ? type_of(*memory::cell_at(spec->w2, spec->w1)) : type_none_id;
            if (first == type_word) {
                make_from_words(*error, *spec);
            } else if (first == type_set_word) {
                block_t::bind(spec, error->w1, true);
                Cell* last = stack::push_copy(none_value);
                Status s = object_t::eval_block(*spec, *last);
                if (s != Status::ok) throw_code(uint32_t(s));
                check_evaluated(*error);
            } else {
                raise_error(err_cat::internal, err_id::internal::invalid_error);
            }
            break;
        }
        case type_string: *error = create_at(err_cat::user, err_id::user::message, spec); break;
        default: {
            Cell type = datatype_t::value_of(type_error);
            raise_error(err_cat::script, script::bad_make_arg, &type, spec);
        }
    }
    *proto = *error;
    mark.restore();
    return proto;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t budget) { return put_report(buffer, *value, budget); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    Cell e = *value;
    if (series::mold_cycle(e, buffer->w2, budget, true)) return budget;
    if (!only) budget = put(buffer, "make error! [", budget);
    budget = object_t::mold_fields(e, buffer, only, all, flat, part, budget, true, indent + 1, true);
    if (indent > 0) budget = checks::mold_indent(*buffer, indent, budget);
    if (!only) budget = put(buffer, "]", budget);
    return budget;
}

// `stack` cannot be reached through a path, for reading or setting.
Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event) {
    if (type_of(*element) == type_word &&
        symbol_t::resolve_alias(int32_t(element->w2)) == symbol_t::resolve_alias(fixed::sym_stack))
        raise_error(err_cat::script, script::invalid_path_set, path);
    return object_t::path_access(parent, element, value, path, grand_parent, previous, index, case_, get, tail,
                                 event);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (type_of(*b) != type_error) return not_comparable;
    Cell x = *a, y = *b;
    set_type(y, type_object);
    return object_t::compare(&x, &y, op);
}

void init() {
    Row row;
    row.set(slot_make, make);
    row.inherit({slot_reflect});
    row.set(slot_form, form);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_compare, compare);
    row.inherit({slot_copy});
    row.inherit({slot_find});
    row.inherit({slot_select});
    row.register_as(type_error, type_object, "error!");
}

}  // namespace vyr::error_t
