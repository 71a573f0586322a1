// A fixture for tests of the scalar datatypes (pair!, tuple!, percent!, the
// point types, handle!, tag!, email!, ref!) through the generic action
// entries, as the evaluator calls them: values are written as source text
// and loaded with the lexer, results are read back as their mold.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/actions.h"
#include "engine/lexer.h"
#include "runtime/unicode.h"
#include "tests/unit/engine_fixture.h"
#include "tests/unit/number_fixture.h"

namespace vyr::test {

class ScalarTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        lexer::lexer_init();
        actions::actions_init();
        stack::push_cell();
        frames::frame_open(word(sym_f));
    }

    // The first value of the source text.
    static Cell value(std::string_view text) {
        lexer::Request rq;
        rq.text = reinterpret_cast<const uint8_t*>(text.data());
        rq.length = uint32_t(text.size());
        rq.one = true;
        Cell result{};
        lexer::lexer_scan(&result, rq, nullptr);
        return result;
    }
    static Cell datatype(uint32_t type) { return Cell{type_datatype, type, 0, 0}; }

    // Pushes the arguments and calls the slot's generic entry; `refs` gives
    // each used refinement the position of its first argument cell (or any
    // position for a flag), -1 for the others.
    static Cell call(uint32_t slot, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
        Cell* base = stack::arg_base();
        stack::set_top(base);
        for (const Cell& a : args) stack::push_copy(a);
        refs.resize(actions::refinement_count(slot), -1);
        actions::entry(slot)(refs.data());
        return *base;
    }
    // A binary action of two values written as source text.
    static Cell call(uint32_t slot, const char* a, const char* b) { return call(slot, {value(a), value(b)}); }

    // The text of a string value from its index, as UTF-8.
    static std::string text(const Cell& s) {
        memory::SeriesBuffer* b = memory::buffer_of(s.w2);
        std::string out;
        for (uint32_t i = s.w1; i < b->length(); ++i) {
            uint8_t bytes[4];
            uint32_t cp = unicode::load_unit(b->head_ptr(), i, b->unit());
            out.append(reinterpret_cast<char*>(bytes), unicode::utf8_encode(cp, bytes));
        }
        return out;
    }
    static std::string mold(const Cell& v, bool all = false) {
        return text(call(registry::slot_mold, {v}, {-1, all ? 0 : -1, -1, -1}));
    }
    static std::string mold_part(const Cell& v, int32_t limit) {
        return text(call(registry::slot_mold, {v, integer(limit)}, {-1, -1, -1, 1}));
    }
    static std::string form(const Cell& v) { return text(call(registry::slot_form, {v})); }
    // The mold of a binary action's result (operands as source text).
    static std::string result(const char* a, uint32_t slot, const char* b) { return mold(call(slot, a, b)); }
    // The mold of a unary action's result.
    static std::string result(uint32_t slot, const char* a) { return mold(call(slot, {value(a)})); }
    // The budget form or mold answers from 1000 (`formed` of number_fixture.h).
    static int32_t budget_left(const char* source, bool mold_it) {
        int32_t left = 0;
        formed(value(source), mold_it, &left);
        return left;
    }

    // The comparison core's answer for `a op b`.
    static bool compare(const char* a, const char* b, int32_t op) {
        Cell x = value(a), y = value(b);
        return actions::compare(&x, &y, op);
    }

    // Path reads and writes on a value written as source; `path` is the path
    // value errors name.
    static Cell path_get(const Cell& v, const Cell& element) {
        Cell parent = v, e = element, path = value("p/e");
        return *actions::path_access(&parent, &e, nullptr, &path, nullptr, nullptr, 1, false, true, false, false);
    }
    // Answers the changed value.
    static Cell path_set(const Cell& v, const Cell& element, const Cell& new_value) {
        Cell parent = v, e = element, n = new_value, path = value("p/e");
        actions::path_access(&parent, &e, &n, &path, nullptr, nullptr, 1, false, false, false, false);
        return parent;
    }
};

}  // namespace vyr::test
