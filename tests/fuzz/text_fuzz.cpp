// Fuzz target for text arriving from outside. The input is decoded as UTF-8
// (with and without line-end folding) and as UTF-16LE; ill-formed UTF-8 may
// raise `invalid-utf8` but nothing may end the process. Whatever decodes must
// come back unchanged through UTF-8, and mold, percent decoding and the
// search and trim actions must run over it.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "datatypes/datatypes.h"
#include "runtime/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_codec.h"
#include "datatypes/url.h"
#include "runtime/stack.h"
#include "runtime/case_tables.h"
#include "runtime/catch_codes.h"
#include "runtime/collector.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "tests/fresh_heap.h"

using namespace vyr;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void start_once() {
    static bool started = false;
    if (started) return;
    started = true;
    test::fresh_heap();
    stack::make_stack_block();
    stack::stack_init();
    registry::type_tables_init();
    datatypes::register_datatypes();
    case_tables::init_case_tables();
}

// The code points of a string from its head.
std::u32string code_points(const Cell& s) {
    std::u32string out;
    for (uint32_t i = 0; i < string_t::buffer_length(s); ++i) out += char32_t(string_t::char_at(s, i));
    return out;
}

void exercise(Cell s) {
    // UTF-8 round trip. A lone low surrogate U+DC00-U+DCFF (kept as its own
    // value when UTF-16 input breaks a pair) is refused by the UTF-8 reader.
    for (char32_t c : code_points(s))
        if (c >= 0xDC00 && c <= 0xDCFF) return;
    int32_t length = -1;
    const uint8_t* bytes = text_codec::to_utf8(s, length);
    std::string copy(reinterpret_cast<const char*>(bytes), size_t(length));
    Cell back = string_t::make_cell(
        text_codec::utf8_to_new_string(reinterpret_cast<const uint8_t*>(copy.data()), copy.size()));
    std::u32string original = code_points(s);
    // A leading U+FEFF reads back as a byte-order mark and is dropped.
    if (!original.empty() && original[0] == 0xFEFF) original.erase(0, 1);
    check(code_points(back) == original);

    Cell out;
    string_t::make_at(out, 16);
    string_t::mold(&s, &out, false, false, false, nullptr, INT32_MAX, 0);
    string_t::mold(&s, &out, false, true, false, nullptr, INT32_MAX, 0);
    url_t::percent_decode(s, out);

    Cell needle = string_t::make_cell(string_t::copy_buffer(string_t::node_of(s)));
    string_t::truncate(string_t::node_of(needle), 3);
    Cell series = s;
    string_t::find(&series, &needle, nullptr, false, false, false, false, nullptr, nullptr, true, false, false,
                   false);
    Cell trimmed = string_t::make_cell(string_t::copy_buffer(string_t::node_of(s)));
    string_t::trim(&trimmed, false, false, false, false, false, nullptr);
    Cell lines = string_t::make_cell(string_t::copy_buffer(string_t::node_of(s)));
    string_t::trim(&lines, false, false, false, true, false, nullptr);
    Cell sorted = string_t::make_cell(string_t::copy_buffer(string_t::node_of(s)));
    string_t::sort(&sorted, false, nullptr, nullptr, nullptr, false, false, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start_once();
    for (bool fold : {false, true}) {
        try {
            size_t remaining = 0;
            NodeId node = text_codec::utf8_to_string(data, size, no_node, &remaining, fold);
            check(remaining < 4);
            if (!fold) exercise(string_t::make_cell(node));
        } catch (const Unwind& u) {
            check(u.code == catch_code::error && errors::last_error().id == err_id::access::invalid_utf8);
        }
    }
    // UTF-16LE never raises: a broken surrogate pair reads as U+FFFD.
    exercise(string_t::make_cell(text_codec::utf16_to_string(data, size / 2, nullptr, false)));
    errors::clear_last_error();
    collector::recycle();
    return 0;
}
