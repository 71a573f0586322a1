#include "runtime/errors.h"

#include <cstdio>
#include <cstdlib>

#include "datatypes/registry.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
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

// Fills the record; the arguments are read before anything is written, as
// one of them may be a cell of the record itself.
void record_error(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell args[3] = {arg1 ? *arg1 : none_cell, arg2 ? *arg2 : none_cell, arg3 ? *arg3 : none_cell};
    record.category = category;
    record.id = id;
    record.code = error_catalog::code(category, id);
    for (int i = 0; i < 3; ++i) {
        record.args[i] = args[i];
        clear_new_line_flag(record.args[i]);
    }
    record.where = none_cell;
    record.near = none_cell;
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

// The characters of a string-like value from its index to its tail.
void put_string_chars(TextOut& t, const Cell& s) {
    if (s.w2 == no_node) return;
    const memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    unsigned width = b->unit();
    if (!unicode::valid_unit_width(width)) return;
    uint32_t length = b->length();
    for (uint32_t i = s.w1; i < length; ++i)
        if (!t.put(unicode::load_unit(b->data() + b->head, i, width))) return;
}

bool string_like(uint32_t type) {
    return type == type_string || type == type_file || type == type_url || type == type_tag ||
           type == type_email || type == type_ref;
}

// The text of a value with what exists so far: the simple types, integers
// and the characters of strings are written as form and mold write them;
// a value of a type without its own text yet shows its type's name.
void put_value(TextOut& t, const Cell& v, bool form) {
    char digits[16];
    uint32_t type = type_of(v);
    switch (type) {
        case type_unset:
            if (!form) t.put("unset");
            return;
        case type_none: t.put("none"); return;
        case type_logic: t.put(v.w1 == 1 ? "true" : "false"); return;
        case type_datatype: {
            const char* name = registry::type_name(v.w1).name;
            if (!name) return t.put("datatype!");
            std::string n(name);
            if (form) n.pop_back();
            return t.put(n.c_str());
        }
        case type_integer:
            std::snprintf(digits, sizeof digits, "%d", int32_t(v.w2));
            return t.put(digits);
        default: break;
    }
    if (string_like(type)) {
        if (form) return put_string_chars(t, v);
        t.put(uint32_t('"'));
        put_string_chars(t, v);
        t.put(uint32_t('"'));
        return;
    }
    const char* name = registry::type_name(type).name;
    t.put(name ? name : "value");
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

// A message held in an argument (user `message`): a string is the message;
// a block is filled as a template is: its strings whole, its other values as
// argument texts. Anything else gives no message text.
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
        const Cell& part = *memory::cell_at(m.w2, i);
        out += type_of(part) == type_string ? value_text(part, true, INT32_MAX)
                                            : value_text(part, form, arg_text_limit);
    }
}

}  // namespace

const ErrorRecord& last_error() { return record; }

void clear_last_error() { record_error(record.category, record.id, nullptr, nullptr, nullptr); }

std::string value_text(const Cell& value, bool form, int32_t limit) {
    std::string out;
    TextOut t{out, limit};
    put_value(t, value, form);
    return out;
}

std::string message_line(const ErrorRecord& error) {
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
    std::string out = message_line(error);
    out += "\n*** Where: ";
    uint32_t where = type_of(error.where);
    out += where == type_string ? value_text(error.where, true, INT32_MAX) : "???";
    out += "\n*** Near : ";
    out += value_text(error.near, false, near_text_limit);
    return out;
}

void print_error(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    record_error(category, id, arg1, arg2, arg3);
    std::string text = report(record) + "\n";
    platform::runtime_print_c_text(text.data(), text.size());
}

void raise_bad_make_arg(const Cell& type, const Cell& spec) {
    raise_error(err_cat::script, err_id::script::bad_make_arg, &type, &spec);
}

void quit_uncaught() {
    std::string text = report(record) + "\n";
    platform::runtime_print_c_text(text.data(), text.size());
    platform::release_all_allocations();
    std::fflush(nullptr);
    std::exit(-2);
}

}  // namespace errors

void raise_error(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    errors::record_error(category, id, arg1, arg2, arg3);
    throw_code(catch_code::error);
}

}  // namespace vyr
