// A fixture for datatype tests that build their values from literals: the
// lexer loads the text, actions run through the engine's typed dispatchers,
// and `system/locale/months` holds the English month names (date! mold
// takes its month names from there).
#pragma once

#include <climits>
#include <string>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/actions.h"
#include "engine/lexer.h"
#include "datatypes/fixed_words.h"
#include "runtime/unicode.h"
#include "tests/unit/fixture.h"

namespace vyr::test {

// The text of a string value from its head, as UTF-8.
inline std::string utf8_of(const Cell& s) {
    std::string out;
    memory::SeriesBuffer* b = memory::buffer_of(s.w2);
    for (uint32_t i = 0; i < b->length(); ++i) {
        uint8_t buf[4];
        out.append(reinterpret_cast<char*>(buf), unicode::utf8_encode(unicode::load_unit(b->head_ptr(), i, b->unit()), buf));
    }
    return out;
}

inline Cell text_value(std::string_view text) {
    Cell s{};
    string_t::make_at(s, uint32_t(text.size() + 1));
    string_t::append_utf8(s.w2, text.data(), text.size());
    return s;
}

inline Cell unbound_word(const char* name, uint32_t type = type_word) {
    return Cell{type, 0, uint32_t(symbol_t::make(name)), 0xFFFFFFFF};
}

// Sets system/locale/months to a block of the month names.
inline void install_month_names(std::initializer_list<const char*> names) {
    Cell months{};
    block_t::make_at(months, 12);
    for (const char* n : names) block_t::append_value(months, text_value(n));
    Cell locale{}, system{};
    object_t::make_at(locale, 4);
    context_t::put_word_value(locale.w1, unbound_word("months"), months);
    object_t::make_at(system, 4);
    context_t::put_word_value(system.w1, unbound_word("locale"), locale);
    context_t::set_global_symbol_value(fixed::sym_system, system);
}

// mold (or form) options of the tests; `part` is the /part budget, -1 for none.
struct MoldFlags {
    bool only = false, all = false, flat = false;
    int32_t part = -1;
    int32_t indent = 0;
};

// The mold of a value through its type's action, as UTF-8.
inline std::string molded_text(const Cell& v, MoldFlags f) {
    Cell value = v, buffer{}, part{type_integer, 0, uint32_t(f.part), 0};
    string_t::make_at(buffer, 16);
    actions::mold(&value, &buffer, f.only, f.all, f.flat, f.part >= 0 ? &part : nullptr,
                  f.part >= 0 ? f.part : INT32_MAX, f.indent);
    return utf8_of(buffer);
}

class LiteralTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        lexer::lexer_init();
        install_month_names({"January", "February", "March", "April", "May", "June", "July", "August",
                             "September", "October", "November", "December"});
    }
    // The one value of the text.
    static Cell value(std::string_view text) {
        lexer::Request rq;
        rq.text = reinterpret_cast<const uint8_t*>(text.data());
        rq.length = uint32_t(text.size());
        rq.one = true;
        Cell result{};
        lexer::lexer_scan(&result, rq, nullptr);
        return result;
    }
    static std::string mold(const Cell& v, MoldFlags f) { return molded_text(v, f); }
    static std::string mold(const Cell& v) { return mold(v, MoldFlags{}); }
    static std::string form(const Cell& v) {
        Cell value = v, buffer{};
        string_t::make_at(buffer, 16);
        actions::form(&value, &buffer, nullptr, INT32_MAX);
        return utf8_of(buffer);
    }
    // mold of the value of the text: a round trip through the lexer.
    static std::string remold(std::string_view text) { return mold(value(text)); }
};

}  // namespace vyr::test
