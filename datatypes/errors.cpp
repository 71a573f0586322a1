#include "datatypes/errors.h"

#include <cstdio>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "datatypes/eval_hooks.h"
#include "datatypes/error.h"
#include "runtime/registry.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "datatypes/unwind.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/print_hooks.h"
#include "runtime/unicode.h"

namespace vyr {

namespace errors {

namespace {

constexpr Cell none_cell{type_none, 0, 0, 0};
constexpr int32_t arg_text_limit = 80;   // characters of one argument in a message
constexpr int32_t near_text_limit = 40;  // characters of the Near line

ErrorRecord record;
// The record's cells are roots for the life of the process: an error raised
// with a series argument keeps it alive until a catch site has taken it.
collector::CellRoot args_root(record.args, 3);
collector::CellRoot where_root(&record.where);
collector::CellRoot near_root(&record.near);
collector::CellRoot value_root(&record.value);
bool making_value = false;  // an error raised while making the value makes none

// The error! value of the record, when the catalog exists. Making it may
// raise (no memory, a full stack); the record of the error being raised is
// then kept without a value.
void make_value(const Cell* given[3]) {
    if (making_value || !error_t::catalog_ready()) return;
    making_value = true;
    ErrorRecord saved = record;
    stack::Mark mark;
    try {
        saved.value = error_t::create_at(record.category, record.id, given[0] ? &record.args[0] : nullptr,
                                         given[1] ? &record.args[1] : nullptr, given[2] ? &record.args[2] : nullptr);
    } catch (const Unwind&) {
        mark.restore();
    }
    record = saved;
    making_value = false;
}

// Fills the record and, with `with_value`, makes its error! value; the
// arguments are read before anything is written, as one of them may be a
// cell of the record itself.
void record_error(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3,
                  bool with_value = true) {
    Cell args[3] = {arg1 ? *arg1 : none_cell, arg2 ? *arg2 : none_cell, arg3 ? *arg3 : none_cell};
    const Cell* given[3] = {arg1, arg2, arg3};
    record.category = category;
    record.id = id;
    record.code = error_catalog::code(category, id);
    for (int i = 0; i < 3; ++i) record.args[i] = args[i];
    record.where = none_cell;
    const Cell* near_source = eval_hooks::hooks().position ? eval_hooks::hooks().position() : nullptr;
    record.near = near_source && type_of(*near_source) != type_unset ? *near_source : none_cell;
    record.value = none_cell;
    if (with_value) make_value(given);
}

// The record's error! value with what the unwinding noted in the record.
bool value_ready(const ErrorRecord& e) {
    if (type_of(e.value) != type_error || !error_t::catalog_ready()) return false;
    if (type_of(e.where) != type_none) error_t::set_where(e.value, e.where);
    Cell* near = error_t::field_at(e.value, error_t::field::near);
    if (type_of(*near) == type_none) *near = e.near;
    return true;
}

// ---- Text of values ---------------------------------------------------------------

// Appends code points to UTF-8 text while the limit allows; answers false
// once it is reached.
struct TextOut {
    std::string& out;
    int32_t left;
    bool put(uint32_t cp) {
        if (left <= 0) return false;
        unsigned char buf[4];
        out.append(reinterpret_cast<char*>(buf), unicode::utf8_encode(cp, buf));
        --left;
        return true;
    }
    void put(const char* ascii) {
        while (*ascii && put(uint8_t(*ascii++))) {}
    }
};

// The characters of a text value (or a mold buffer) from its index to its
// tail.
void put_string_chars(TextOut& t, const Cell& s) {
    if (s.w2 == no_node) return;
    const memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    unsigned width = b->unit();
    if (!unicode::valid_unit_width(width)) return;
    uint32_t length = b->length();
    for (uint32_t i = s.w1; i < length; ++i)
        if (!t.put(unicode::load_unit(b->data() + b->head, i, width))) return;
}

// Writes the value with its type's own form or mold action into a new mold
// buffer. Answers false when the type has none yet, when there is no heap
// for the buffer (an error raised during start-up, or after the frames were
// returned), or when the action could not run (its error is dropped, and the
// error being reported is put back in place).
bool put_by_action(TextOut& t, const Cell& v, bool form, bool only) {
    if (memory::os_total() == 0) return false;
    uint32_t type = type_of(v);
    auto form_fn = registry::action<registry::action_sig::form>(type, registry::slot_form);
    auto mold_fn = registry::action<registry::action_sig::mold>(type, registry::slot_mold);
    if (form ? !form_fn : !mold_fn) return false;
    ErrorRecord saved = record;
    stack::Mark mark;
    try {
        Cell buffer;
        string_t::make_at(buffer, 16);
        collector::CellRoot root(&buffer);
        Cell value = v;
        Cell part{type_integer, 0, uint32_t(t.left), 0};
        if (form) form_fn(&value, &buffer, &part, t.left);
        else mold_fn(&value, &buffer, only, false, true, &part, t.left, 0);
        put_string_chars(t, buffer);
        return true;
    } catch (const Unwind&) {
        record = saved;
        mark.restore();
        return false;
    }
}

// The text of a value whose type's own form or mold cannot be used: the
// simple values and integers, and the characters of texts, as form and mold
// write them; else the type's name. A report must be writable before any
// type has registered and before the heap exists (or after it is gone).
void put_fallback(TextOut& t, const Cell& v, bool form) {
    uint32_t type = type_of(v);
    switch (type) {
        case type_unset:
            if (!form) t.put("unset");
            return;
        case type_none: return t.put("none");
        case type_logic: return t.put(v.w1 == 1 ? "true" : "false");
        default: break;
    }
    if (type == type_datatype) {
        const registry::TypeName& n = registry::type_name(v.w1);
        if (!n.name) return t.put("datatype!");
        std::string name(n.name, form ? n.length : n.length + 1);
        return t.put(name.c_str());
    }
    if (type == type_integer) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", int32_t(v.w2));
        return t.put(digits);
    }
    if (string_t::string_like_q(type)) {
        if (form) return put_string_chars(t, v);
        t.put(uint32_t('"'));
        put_string_chars(t, v);
        t.put(uint32_t('"'));
        return;
    }
    const char* name = registry::type_name(type).name;
    t.put(name ? name : "value!");
}

void put_value(TextOut& t, const Cell& v, bool form, bool only) {
    if (!put_by_action(t, v, form, only)) put_fallback(t, v, form);
}

// ---- The message ---------------------------------------------------------------

// The error's argument field n (1..3).
const Cell& arg_field(const ErrorRecord& e, int n) { return e.args[n - 1]; }

// Appends the parts of a template: texts whole, argument references as the
// argument's text; one space between parts.
void put_template(std::string& out, const error_catalog::Template& tpl, const ErrorRecord& e) {
    bool form = e.category == err_cat::syntax;
    for (int i = 0; i < tpl.count; ++i) {
        if (i > 0) out += ' ';
        const error_catalog::Part& p = tpl.parts[i];
        if (p.kind == error_catalog::PartKind::text) out += p.text;
        else out += value_text(arg_field(e, p.arg), form, arg_text_limit);
    }
}

// The value of the error field a word names (arg1, near, ...), or null.
const Cell* field_named(const ErrorRecord& e, const Cell& word, Cell& scratch) {
    std::string_view name = symbol_t::name(symbol_t::resolve_alias(int32_t(word.w2)));
    auto is = [&](const char* field) {
        return name.size() == std::strlen(field) &&
               std::equal(name.begin(), name.end(), field, [](char a, char b) { return std::tolower(a) == b; });
    };
    for (int n = 1; n <= 3; ++n)
        if (is(("arg" + std::to_string(n)).c_str())) return &e.args[n - 1];
    if (is("near")) return &e.near;
    if (is("where")) return &e.where;
    if (is("code")) return &(scratch = Cell{type_integer, 0, uint32_t(e.code), 0});
    if (is("type")) return &(scratch = category_word(e.category));
    if (is("id")) return &(scratch = id_word(e.category, e.id));
    return nullptr;
}

// A message held in an argument (user `message`): a string is the message;
// a block is filled as a template is: its strings whole, a word or get-word
// naming a field of the error as that field's text, any other value as its
// own text. Anything else gives no message text.
void put_message_value(std::string& out, const Cell& m, const ErrorRecord& e) {
    uint32_t type = type_of(m);
    if (type == type_string) {
        out += value_text(m, true, INT32_MAX);
        return;
    }
    if (type != type_block || m.w2 == no_node) return;
    bool form = e.category == err_cat::syntax;
    uint32_t length = memory::series_length(m.w2);
    for (uint32_t i = m.w1; i < length; ++i) {
        if (i > m.w1) out += ' ';
        Cell part = *memory::cell_at(m.w2, i);
        Cell scratch;
        const Cell* field = nullptr;
        if (type_of(part) == type_word || type_of(part) == type_get_word) field = field_named(e, part, scratch);
        if (field) out += value_text(*field, form, arg_text_limit);
        else if (type_of(part) == type_string) out += value_text(part, true, INT32_MAX);
        else out += value_text(part, form, arg_text_limit);
    }
}

// Prints a line as `print` does: as a string! through the output hooks. With
// no heap to make the string in, or no hook registered, or when making it
// fails, the runtime writes the text itself.
void print_line(const std::string& utf8) {
    if (memory::os_total() != 0 && hooks::print_hooks().count != 0) {
        ErrorRecord saved = record;
        try {
            Cell text;
            string_t::make_string_from_text(utf8.data(), uint32_t(utf8.size()), &text, string_t::encoding_utf8);
            hooks::run_print_hooks(&text, true);
            return;
        } catch (const Unwind&) {
            record = saved;
        }
    }
    std::string line = utf8 + "\n";
    platform::runtime_print_c_text(line.data(), line.size());
}

}  // namespace

const ErrorRecord& last_error() { return record; }

void set_where(const Cell& value) {
    if (type_of(record.where) == type_none) record.where = value;
}

void clear_last_error() {
    record_error(record.category, record.id, nullptr, nullptr, nullptr, false);
    record.near = none_cell;
}

std::string value_text(const Cell& value, bool form, int32_t limit, bool only) {
    std::string out;
    TextOut t{out, limit};
    put_value(t, value, form, only);
    return out;
}

std::string message_line(const ErrorRecord& error) {
    if (value_ready(error)) {
        std::string text = error_t::report_text(error.value);
        return text.substr(0, text.find('\n'));
    }
    // A category or id outside the catalog becomes internal `invalid-error`
    // naming the bad position, so that a report is always written.
    ErrorRecord e = error;
    const error_catalog::Category* category = error_catalog::category(e.category);
    const error_catalog::Id* id = category ? error_catalog::id(e.category, e.id) : nullptr;
    if (!id) {
        e.args[0] = Cell{type_integer, 0, uint32_t(category ? e.id : e.category), 0};
        e.category = err_cat::internal;
        e.id = err_id::internal::invalid_error;
        category = error_catalog::category(e.category);
        id = error_catalog::id(e.category, e.id);
    }
    std::string out = "*** ";
    out += category->title;
    out += ": ";
    const error_catalog::Template& tpl = id->message;
    if (tpl.shape == error_catalog::Shape::word) put_message_value(out, arg_field(e, tpl.parts[0].arg), e);
    else put_template(out, tpl, e);
    return out;
}

std::string report(const ErrorRecord& error) {
    if (value_ready(error)) return error_t::report_text(error.value);
    std::string out = message_line(error);
    out += "\n*** Where: ";
    uint32_t where = type_of(error.where);
    out += where == type_word || where == type_string ? value_text(error.where, true, INT32_MAX) : "???";
    out += "\n*** Near : ";
    out += value_text(error.near, false, near_text_limit, true);
    return out;
}

Cell category_word(int category) {
    if (error_catalog::category(category) && error_t::catalog_ready()) return error_t::category_word(category);
    const error_catalog::Category* c = error_catalog::category(category);
    return c ? word_t::make_global(c->word) : none_cell;
}

Cell id_word(int category, int id) {
    if (error_catalog::id(category, id) && error_t::catalog_ready()) return error_t::id_word(category, id);
    const error_catalog::Id* i = error_catalog::id(category, id);
    return i ? word_t::make_global(i->word) : none_cell;
}

void print_error(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    record_error(category, id, arg1, arg2, arg3);
    print_line(report(record));
}

void raise_bad_make_arg(const Cell& type, const Cell& spec) {
    raise_error(err_cat::script, err_id::script::bad_make_arg, &type, &spec);
}

Cell last_error_value() { return value_ready(record) ? record.value : none_cell; }

void raise_value(const Cell& error) {
    Cell e = error;
    const Cell& code = *error_t::field_at(e, error_t::field::code);
    int32_t n = type_of(code) == type_integer ? int32_t(code.w2) : -1;
    record_error(n >= 0 ? n / 100 : err_cat::internal, n >= 0 ? n % 100 + err_id::first : err_id::internal::invalid_error,
                 error_t::field_at(e, error_t::field::arg1), error_t::field_at(e, error_t::field::arg2),
                 error_t::field_at(e, error_t::field::arg3), false);
    // What the value already says of where it happened is kept; otherwise
    // the error is placed where it is raised now.
    const Cell& where = *error_t::field_at(e, error_t::field::where);
    const Cell& near = *error_t::field_at(e, error_t::field::near);
    if (type_of(where) != type_none) record.where = where;
    if (type_of(near) != type_none) record.near = near;
    record.value = e;
    unwind::error_unwind();
}

void quit_uncaught() {
    print_line(report(record));
    platform::release_all_allocations();
    std::fflush(nullptr);
    std::exit(-2);
}

}  // namespace errors

namespace {

// The evaluator's tracer, once it exists, is shown the error here, before
// the unwinding starts. It runs Vyr code, which may raise and catch errors of
// its own: the record is kept aside meanwhile. Collection is held off, since
// the raiser's callers may keep raw addresses that the unwinding gives up
// only after this.
void show_trace(errors::ErrorRecord& record) {
    if (!eval_hooks::hooks().trace_error || type_of(record.value) != type_error) return;
    collector::CollectionHold hold;
    errors::ErrorRecord kept = record;
    Status s = eval_hooks::hooks().trace_error(kept.value);
    record = kept;
    unwind::throw_status(s);
}

[[noreturn]] void record_and_unwind(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    errors::record_error(category, id, arg1, arg2, arg3);
    show_trace(errors::record);
    unwind::error_unwind();
}

// Installed before `main`: `raise_error` works from the first moment.
const bool raiser_installed = (errors::install_raiser(record_and_unwind), true);

}  // namespace

}  // namespace vyr
