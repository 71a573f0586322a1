// A fixture for tests that drive datatypes through the generic action
// entries, as the evaluator will: values made by the lexer from their
// literal text, arguments pushed on the argument stack, refinements given by
// position, and results read back as their mold or as the error raised.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "datatypes/symbol.h"
#include "datatypes/actions.h"
#include "engine/lexer.h"
#include "datatypes/errors.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"
#include "tests/unit/engine_fixture.h"

namespace vyr::test {

class EntryTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        lexer::lexer_init();
        actions::actions_init();
        stack::push_cell();
        frames::frame_open(word(sym_f));
    }

    // The first value of the text, as `load` makes it.
    static Cell load(std::string_view text) {
        lexer::Request rq;
        rq.text = reinterpret_cast<const uint8_t*>(text.data());
        rq.length = uint32_t(text.size());
        rq.one = true;
        Cell result{};
        lexer::lexer_scan(&result, rq, nullptr);
        return result;
    }

    // Pushes the arguments and calls the slot's generic entry; `refs` holds
    // the position of each used refinement's first argument (any position
    // for a refinement without one), -1 for the others.
    static Cell call(uint32_t slot, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
        Cell* base = stack::arg_base();
        stack::set_top(base);
        for (const Cell& a : args) stack::push_copy(a);
        refs.resize(actions::refinement_count(slot), -1);
        actions::entry(slot)(refs.data());
        return *base;
    }

    // The text of a string value from its index, as UTF-8.
    static std::string utf8(const Cell& s) {
        std::string out;
        memory::SeriesBuffer* b = memory::buffer_of(s.w2);
        for (uint32_t i = s.w1; i < b->length(); ++i) {
            uint8_t buf[4];
            uint32_t cp = unicode::load_unit(b->head_ptr(), i, b->unit());
            out.append(reinterpret_cast<char*>(buf), unicode::utf8_encode(cp, buf));
        }
        return out;
    }

    // mold (with /all, /flat or /only) and form through the entries.
    static std::string mold(const Cell& v, bool all = false, bool flat = false, bool only = false) {
        return utf8(call(registry::slot_mold, {v}, {only ? 0 : -1, all ? 0 : -1, flat ? 0 : -1, -1}));
    }
    static std::string form(const Cell& v) { return utf8(call(registry::slot_form, {v})); }

    // "error: <category> <id>" of the last error raised.
    static std::string last_error() {
        const errors::ErrorRecord& e = errors::last_error();
        auto name = [](const Cell& w) { return std::string(symbol_t::name(int32_t(w.w2))); };
        return "error: " + name(errors::category_word(e.category)) + " " + name(errors::id_word(e.category, e.id));
    }

    // Runs the body and answers what it gives, or the error it raises.
    template <typename F>
    static std::string outcome(F body) {
        stack::Mark mark;
        try {
            return body();
        } catch (const Unwind&) {
            mark.restore();
            return last_error();
        }
    }
};

}  // namespace vyr::test
