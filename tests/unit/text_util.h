// Helpers for tests of the text datatypes: making text values from UTF-8
// literals and reading them back.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/string_buffer.h"
#include "datatypes/text_codec.h"
#include "runtime/unicode.h"

namespace vyr::test {

// A string! (or another text type) holding the UTF-8 literal.
inline Cell text(const char* utf8, uint32_t type = type_string) {
    Cell c;
    string_t::make_string_from_text(utf8, uint32_t(std::strlen(utf8)), &c, string_t::encoding_utf8);
    set_type(c, type);
    return c;
}

// A string! holding exactly these code points, at the narrowest width.
inline Cell text_of(const std::u32string& cps) {
    unsigned width = 1;
    for (char32_t c : cps) width = std::max(width, unicode::unit_width_of(c));
    std::vector<uint8_t> units(cps.size() * width + 1);
    for (size_t i = 0; i < cps.size(); ++i) unicode::store_unit(units.data(), i, width, cps[i]);
    Cell c;
    string_t::make_from_units_at(c, units.data(), uint32_t(cps.size()), width);
    return c;
}

// The code points from the value's index to its tail.
inline std::u32string code_points(const Cell& v) {
    std::u32string out;
    uint32_t len = string_t::buffer_length(v);
    for (uint32_t i = uint32_t(v.w1); i < len; ++i) out += char32_t(string_t::char_at(v, i));
    return out;
}

// The text from the value's index as UTF-8.
inline std::string utf8_of(const Cell& v) {
    std::string out;
    for (char32_t c : code_points(v)) {
        uint8_t b[4];
        size_t n = unicode::utf8_encode_char(c, b);
        out.append(reinterpret_cast<char*>(b), n);
    }
    return out;
}

inline unsigned width_of(const Cell& v) { return string_t::buffer_of(v)->unit(); }

}  // namespace vyr::test
