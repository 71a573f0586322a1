// url!: percent-encoding, mold, make/to from a block, path access, the I/O
// actions, and registration (see url.h).
#include "datatypes/url.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "datatypes/string.h"
#include "datatypes/text_errors.h"
#include "datatypes/word.h"
#include "runtime/unicode.h"

namespace vyr::url_t {

using namespace registry;

namespace {

constexpr char url_punctuation[] = "!#$&'()*+,-./:=?_~@";
constexpr char unreserved_punctuation[] = "-._~";
constexpr char hex_upper[] = "0123456789ABCDEF";
constexpr uint32_t escape_length = 3;  // "%XX"

bool letter_or_digit(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9'); }

bool in(const char* set, uint8_t b) {
    for (const char* p = set; *p; ++p)
        if (uint8_t(*p) == b) return true;
    return false;
}

// The UTF-8 bytes of a text from its index.
std::vector<uint8_t> utf8_bytes(const Cell& text) {
    Cell t = text;
    uint32_t len = string_t::length_at(t);
    std::vector<uint8_t> out;
    out.reserve(len);
    for (uint32_t i = 0; i < len; ++i) {
        uint8_t b[4];
        unsigned n = unicode::utf8_encode_char(string_t::char_at(t, t.w1 + i), b);
        out.insert(out.end(), b, b + n);
    }
    return out;
}

bool block_like_q(uint32_t t) { return t == type_block || t == type_paren || t == type_hash; }

Cell new_text(uint32_t capacity) {
    Cell c;
    string_t::make_at(c, capacity);
    return c;
}

}  // namespace

// ---- Percent-encoding ------------------------------------------------------------

bool allowed_q(uint8_t byte, int32_t mode) {
    if (byte >= 128) return false;
    if (letter_or_digit(byte)) return true;
    return in(mode == mode_unreserved ? unreserved_punctuation : url_punctuation, byte);
}

int32_t hex_digit(uint8_t b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    return -1;
}

bool hex_digit_escape(const uint8_t* p, size_t available, uint8_t& out) {
    if (available < escape_length || p[0] != '%') return false;
    int32_t hi = hex_digit(p[1]), lo = hex_digit(p[2]);
    if (hi < 0 || lo < 0) return false;
    out = uint8_t(hi << 4 | lo);
    return true;
}

Encoded percent_encode_byte(int32_t mode, uint8_t byte) {
    if (allowed_q(byte, mode)) return Encoded{{char(byte), 0, 0, 0}, 1};
    return Encoded{{'%', hex_upper[byte >> 4], hex_upper[byte & 0xF], 0}, escape_length};
}

void percent_decode(const Cell& text, Cell& output) {
    std::vector<uint8_t> bytes = utf8_bytes(text);
    const uint8_t* p = bytes.data();
    size_t n = bytes.size(), i = 0;
    NodeId out = string_t::node_of(output);
    while (i < n) {
        uint8_t lead;
        if (hex_digit_escape(p + i, n - i, lead)) {
            unsigned k = unicode::utf8_seq_length(lead);
            if (k == 0) {
                string_t::append_code_point(out, lead);
                i += escape_length;
                continue;
            }
            uint8_t seq[4] = {lead};
            unsigned got = 1;
            while (got < k && hex_digit_escape(p + i + got * escape_length, n - i - got * escape_length, seq[got]))
                ++got;
            if (got == k) {
                size_t length = k;
                int32_t cp = unicode::utf8_decode_char(seq, length);
                string_t::append_code_point(out, uint32_t(cp));
                i += k * escape_length;
                continue;
            }
        }
        // No complete escape here: one character of the text itself.
        size_t length = n - i;
        int32_t cp = unicode::utf8_decode_char(p + i, length);
        string_t::append_code_point(out, uint32_t(cp));
        i += length;
    }
}

void percent_encode(const Cell& text, Cell& output, int32_t mode) {
    NodeId out = string_t::node_of(output);
    for (uint8_t b : utf8_bytes(text)) {
        Encoded e = percent_encode_byte(mode, b);
        string_t::append_text_part(out, e.text, e.length);
    }
}

std::string wire_text(const Cell& url) {
    std::string out;
    for (uint8_t b : utf8_bytes(url)) {
        Encoded e = percent_encode_byte(mode_url, b);
        out.append(e.text, e.length);
    }
    return out;
}

// ---- Actions ---------------------------------------------------------------------

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent) {
    NodeId out = string_t::node_of(*buffer);
    int32_t written = 0;
    for (uint8_t b : utf8_bytes(*value)) {
        Encoded e = percent_encode_byte(mode_url, b);
        for (uint32_t k = 0; k < e.length; ++k) {
            if (part && written >= budget) return budget - written;
            string_t::append_code_point(out, uint8_t(e.text[k]));
            ++written;
        }
    }
    return budget - written;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    if (type == type_url && block_like_q(type_of(*spec))) return to(proto, spec, type);
    return string_t::make(proto, spec, type);
}

// A url from a block of parts: scheme "://" host [":" port] ["/" path ...
// with "#" before an issue!].
Cell* to(Cell* proto, Cell* spec_cell, uint32_t type) {
    Cell spec = *spec_cell;
    if (!(type == type_url && block_like_q(type_of(spec)))) return string_t::to(proto, &spec, type);
    NodeId block = spec.w2;
    uint32_t i = spec.w1, end = memory::series_length(block);
    if (i >= end) text_errors::raise_bad_to_arg(type_url, spec);
    Cell result = new_text(16);
    auto form_item = [&](uint32_t k) {
        Cell item = *memory::cell_at(block, k);
        string_t::form_value(item, result, INT32_MAX, false);
    };
    form_item(i++);
    string_t::append_text(result, "://");
    if (i < end) form_item(i++);
    if (i < end && type_of(*memory::cell_at(block, i)) == type_integer) {
        string_t::append_code_point(result, ':');
        form_item(i++);
    }
    for (bool first = true; i < end; ++i, first = false) {
        bool issue = type_of(*memory::cell_at(block, i)) == type_issue;
        string_t::append_code_point(result, !first && issue ? '#' : '/');
        form_item(i);
    }
    set_type(result, type_url);
    *proto = result;
    return proto;
}

Cell* path_access(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent, Cell* previous,
                  int32_t index, bool case_, bool get, bool tail, bool event) {
    if (value) raise_error(err_cat::script, err_id::script::bad_path_set, path, element);
    Cell el = type_of(*element) == type_get_word ? *word_t::get(*element) : *element;
    Cell url = *parent;
    uint32_t ulen = string_t::length_at(url);
    Cell joined = new_text(ulen + 16);
    string_t::form_value(el, joined, INT32_MAX, false);
    bool url_slash = ulen > 0 && string_t::char_at(url, url.w1 + ulen - 1) == '/';
    bool element_slash = string_t::buffer_length(joined) > 0 && string_t::char_at(joined, 0) == '/';
    if (url_slash && element_slash) string_t::remove_char(joined, 0);
    else if (!url_slash && !element_slash) string_t::insert_char(string_t::node_of(joined), 0, '/');
    string_t::concatenate(joined, url, -1, 0, false, string_t::Concat::insert);
    set_type(joined, type_of(url));
    *parent = joined;
    return parent;
}

namespace {

bool http_q(const Cell& url) { return string_t::starts_with_text_q(url, "http"); }

// A port for the url: the library's url-parser/parse-url splits it into
// its parts (with /throw-error off) and a port! is made from them; with
// `open_it` the port is opened with the refinements given. Until the
// library's parser is loaded, internal `not-done`.
Cell* open_port(Cell* url, bool open_it, bool new_, bool read_, bool write_, bool seek, Cell* allow) {
    const Cell* parser = context_t::global_symbol_value(symbol_t::make("url-parser"));
    Cell name = word_t::make_global("parse-url");
    Cell fn = parser && type_of(*parser) == type_object ? *object_t::select_field(*parser, name) : none_t::value;
    if (type_of(fn) != type_function) text_errors::raise_not_done();
    stack::Mark mark;
    Cell* held = stack::push_copy(fn);
    Cell* args = stack::push_copy(*url);
    logic_t::push(false);  // /throw-error
    function_t::push_initial_locals(function_t::arity_to_refinement(fn.w2, 0, false));
    Cell parts = none_t::value;
    Status s = function_t::call(*held, args, uint32_t(stack::top() - args), parser->w1, name, parts);
    if (s != Status::ok) throw_code(uint32_t(s));
    if (type_of(parts) != type_object) text_errors::raise_invalid_arg(*url);
    Cell* spec = stack::push_copy(parts);
    Cell* port = stack::push_copy(datatype_t::value_of(type_port));
    port_t::make(port, spec, type_port);
    if (open_it) {
        Cell p = *port;
        actions::open(&p, new_, read_, write_, seek, allow);
    }
    *url = *port;
    mark.restore();
    return url;
}

HttpRequest http_request = nullptr;

[[noreturn]] void raise_no_connect(const Cell& url) { raise_error(err_cat::access, err_id::access::no_connect, &url); }

// The request through the host's service; no answer raises `no-connect`.
Cell* request(Cell* url, const Cell& method, const Cell* headers, const Cell* body, bool binary, bool lines,
              bool info) {
    if (!http_request) text_errors::raise_not_done();
    Cell answer = none_t::value;
    if (!http_request(answer, method, *url, headers, body, binary, lines, info)) raise_no_connect(*url);
    *url = answer;
    return url;
}

// An http url is read with GET, no headers and no body; any other url
// through a port of its scheme.
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (http_q(*source)) {
        if (part || seek || as) text_errors::raise_not_done();
        return request(source, word_t::make_global("get"), nullptr, nullptr, binary, lines, info);
    }
    open_port(source, false, false, false, false, false, nullptr);
    return port_t::read(source, part, seek, binary, lines, info, as);
}

// Writing to an http url: a block gives the method word, then optionally a
// header block and the body ([] alone is a GET); any other data is the body
// of a POST. The body must be a block!, string! or binary!.
Cell* write(Cell* target, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    if (!http_q(*target)) {
        open_port(target, false, false, false, false, false, nullptr);
        return port_t::write(target, data, binary, lines, info, append, part, seek, allow, as);
    }
    if (seek || allow || as) text_errors::raise_not_done();
    stack::Mark mark;
    Cell* method = stack::push_copy(word_t::make_global("post"));
    Cell* headers = nullptr;
    Cell* body = data;
    if (type_of(*data) == type_block) {
        Cell spec = *data;
        uint32_t count = uint32_t(std::max(0, int32_t(memory::series_length(spec.w2)) - int32_t(spec.w1)));
        body = stack::push_copy(Cell{});
        string_t::make_at(*body, 0);
        if (count == 0) *method = word_t::make_global("get");
        if (count >= 1) {
            Cell first = *memory::cell_at(spec.w2, spec.w1);
            if (type_of(first) != type_word) text_errors::raise_invalid_arg(first);
            *method = word_t::make_global_from_symbol(symbol_t::resolve_alias(int32_t(first.w2)));
        }
        if (count >= 2) {
            Cell second = *memory::cell_at(spec.w2, spec.w1 + 1);
            if (type_of(second) != type_block) text_errors::raise_invalid_arg(second);
            headers = stack::push_copy(second);
        }
        if (count >= 3) *body = *memory::cell_at(spec.w2, spec.w1 + 2);
    }
    uint32_t bt = type_of(*body);
    if (bt != type_block && bt != type_string && bt != type_binary) text_errors::raise_invalid_arg(*body);
    request(target, *method, headers, body, binary, lines, info);
    mark.restore();
    return target;
}

Cell* open(Cell* port, bool new_, bool read_, bool write_, bool seek, Cell* allow) {
    return open_port(port, true, new_, read_, write_, seek, allow);
}

}  // namespace

void install_http(HttpRequest request) { http_request = request; }

// ---- Registration ------------------------------------------------------------------

void init() {
    Row row;
    row.inherit({slot_form, slot_compare, slot_append, slot_at, slot_back, slot_change, slot_clear, slot_copy,
                   slot_find, slot_head, slot_head_q, slot_index_q, slot_insert, slot_length_q, slot_move, slot_next,
                   slot_pick, slot_poke, slot_remove, slot_reverse, slot_select, slot_skip, slot_swap, slot_tail,
                   slot_tail_q, slot_take, slot_modify});
    row.set(slot_make, make);
    row.set(slot_to, to);
    row.set(slot_mold, mold);
    row.set(slot_path_access, path_access);
    row.set(slot_open, open);
    row.set(slot_read, read);
    row.set(slot_write, write);
    row.register_as(type_url, type_string, "url!");
}

}  // namespace vyr::url_t
