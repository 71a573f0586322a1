// `read` and `write` of http urls as values (see http_request.h).
#include "io/http_request.h"

#include <climits>
#include <string_view>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/text_codec.h"
#include "datatypes/text_errors.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "io/file_access.h"
#include "io/http.h"
#include "runtime/catch_codes.h"
#include "runtime/interrupt.h"
#include "runtime/stack.h"

namespace vyr::http_request {

namespace {

constexpr int32_t header_map_cells = 40;  // room for 20 pairs

// Sent when the caller gives no header block.
const std::pair<const char*, const char*> default_headers[] = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
};

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return true;
}

// The method word's name in capitals (get gives GET).
std::string method_text(const Cell& method) {
    std::string text(symbol_t::name(int32_t(method.w2)));
    for (char& c : text) c = ascii_upper(c);
    return text;
}

// The UTF-8 of a text value; any other value is formed first.
std::string text_of(const Cell& value) {
    stack::Mark mark;
    Cell* text = stack::push_copy(value);
    if (!string_t::string_like_q(type_of(*text))) {
        Cell* formed = stack::push_copy(Cell{});
        string_t::make_at(*formed, 16);
        string_t::form_value(*text, *formed, INT32_MAX, false);
        text = formed;
    }
    int32_t length = -1;
    const uint8_t* p = text_codec::to_utf8(*text, length);
    std::string out(reinterpret_cast<const char*>(p), size_t(length));
    mark.restore();
    return out;
}

bool word_name_q(uint32_t t) { return t == type_word || t == type_lit_word || t == type_set_word || t == type_get_word; }

// The header block's pairs from its position: a name of the word family
// gives its letters, any other name and any value that is not a string! is
// formed. A last name without a value is skipped. A name or value that
// would break the request's header lines raises `invalid-arg` with it.
void add_headers(http::Request& request, const Cell& block) {
    uint32_t count = uint32_t(block_t::length_at(block));
    for (uint32_t i = 0; i + 1 < count; i += 2) {
        Cell name = *memory::cell_at(block.w2, block.w1 + i);
        std::string name_text = word_name_q(type_of(name)) ? std::string(symbol_t::name(int32_t(name.w2)))
                                                            : text_of(name);
        if (!http::header_name_ok(name_text)) text_errors::raise_invalid_arg(name);
        Cell value = *memory::cell_at(block.w2, block.w1 + i + 1);
        std::string value_text = text_of(value);
        if (!http::header_value_ok(value_text)) text_errors::raise_invalid_arg(value);
        request.headers.emplace_back(std::move(name_text), std::move(value_text));
    }
}

// Whether the line holds a header, "Name: value"; the name and the value
// (without the blanks around it) are stored when it does.
bool header_line(std::string_view line, std::string_view& name, std::string_view& value) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    name = line.substr(0, colon);
    value = line.substr(colon + 1);
    while (!value.empty() && blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && blank(value.back())) value.remove_suffix(1);
    return true;
}

Cell* push_text(std::string_view text) {
    Cell* cell = stack::push_copy(Cell{});
    string_t::make_at(*cell, uint32_t(text.size()));
    text_codec::append_utf8_lenient(string_t::node_of(*cell), reinterpret_cast<const uint8_t*>(text.data()),
                                    text.size(), false);
    return cell;
}

// The request performed; false when no response came. A halt asked for
// while it ran is taken here.
bool answered(const http::Request& request, http::Response& response) {
    switch (http::perform(request, response)) {
        case http::Outcome::done: return true;
        case http::Outcome::failed: return false;
        case http::Outcome::too_large: text_errors::raise_no_memory();
        case http::Outcome::interrupted: {
            Status s = interrupt::take();
            if (s != Status::ok) throw_code(uint32_t(s));
            return false;
        }
    }
    return false;
}

bool request(Cell& result, const Cell& method, const Cell& url, const Cell* headers, const Cell* body, bool binary,
             bool lines, bool info) {
    http::Request req;
    req.method = method_text(method);
    req.url = url_t::wire_text(url);
    if (headers) add_headers(req, *headers);
    else
        for (const auto& [name, value] : default_headers) req.headers.emplace_back(name, value);
    bool bodiless = req.method == "GET" || req.method == "HEAD";
    if (body && !bodiless && type_of(*body) != type_none) {
        stack::Mark mark;
        Cell* held = stack::push_copy(*body);
        req.has_body = true;
        req.body = file_access::value_bytes(*held, -1);
        mark.restore();
    }

    http::Response response;
    if (!answered(req, response)) return false;
    stack::Mark mark;
    if (info) {
        Cell* block = block_t::push_new(3);
        block_t::append_value(*block, Cell{type_integer, 0, uint32_t(response.status), 0});
        block_t::append_value(*block, *push_headers_map(response.header_text));
        block_t::append_value(*block, file_access::bytes_value(response.body, binary, lines));
        result = *block;
    } else {
        result = file_access::bytes_value(response.body, binary, lines);
    }
    mark.restore();
    return true;
}

}  // namespace

Cell* push_headers_map(const std::string& header_text) {
    struct Field {
        std::string_view name;
        std::vector<std::string_view> values;
    };
    std::vector<Field> fields;
    std::string_view text(header_text);
    while (!text.empty()) {
        size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
        if (text.substr(0, 2) == "\r\n") text.remove_prefix(2);
        else if (!text.empty()) text.remove_prefix(1);
        std::string_view name, value;
        if (!header_line(line, name, value)) continue;
        Field* field = nullptr;
        for (Field& f : fields)
            if (same_name(f.name, name)) field = &f;
        if (!field) field = &fields.emplace_back(Field{name, {}});
        field->values.push_back(value);
    }

    Cell* map = stack::push_copy(Cell{});
    map_t::make_at(map, nullptr, header_map_cells);
    for (const Field& f : fields) {
        stack::Mark mark;
        int32_t symbol = symbol_t::intern_text(reinterpret_cast<const uint8_t*>(f.name.data()), uint32_t(f.name.size()));
        Cell* key = stack::push_copy(Cell{type_word, 0, uint32_t(symbol), word_t::unresolved});
        Cell* value;
        if (f.values.size() == 1) {
            value = push_text(f.values[0]);
        } else {
            value = block_t::push_new(int32_t(f.values.size()));
            for (std::string_view v : f.values) {
                stack::Mark each;
                block_t::append_value(*value, *push_text(v));
                each.restore();
            }
        }
        map_t::put(map, key, value, false);
        mark.restore();
    }
    return map;
}

void install() { url_t::install_http(request); }

}  // namespace vyr::http_request
