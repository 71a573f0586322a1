// A fixture for tests of objects and errors before the evaluator exists: a
// stand-in block evaluator that runs specs made of `set-word: value` pairs
// (a word value stands for its value), and a stand-in function caller that
// records each call's function and arguments instead of running it.
#pragma once

#include <vector>

#include "datatypes/function.h"
#include "datatypes/object.h"
#include "runtime/stack.h"
#include "fixture.h"
#include "value_helpers.h"

namespace vyr::test {

struct RecordedCall {
    Cell fn;
    Cell name;
    NodeId object;
    std::vector<Cell> args;
};

inline std::vector<RecordedCall>& recorded_calls() {
    static std::vector<RecordedCall> calls;
    return calls;
}

inline Status stand_in_eval(const Cell& block, Cell& result) {
    result = Cell{type_unset, 0, 0, 0};
    for (uint32_t i = block.w1; i < memory::series_length(block.w2); ++i) {
        Cell c = *memory::cell_at(block.w2, i);
        if (type_of(c) != type_set_word) continue;
        Cell v = i + 1 < memory::series_length(block.w2) ? *memory::cell_at(block.w2, i + 1) : none_cell();
        if (type_of(v) == type_word) v = *word_t::get(v);
        word_t::set(c, v);
        result = v;
        ++i;
    }
    return Status::ok;
}

inline Status recording_caller(const Cell& fn, Cell* args, uint32_t count, NodeId object, const Cell& name,
                               Cell& answer) {
    recorded_calls().push_back({fn, name, object, std::vector<Cell>(args, args + count)});
    answer = none_cell();
    return Status::ok;
}

class ObjectTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        object_t::set_block_evaluator(stand_in_eval);
        function_t::set_caller(recording_caller);
        recorded_calls().clear();
        mark_ = stack::top();
    }
    void TearDown() override {
        stack::set_top(mark_);
        object_t::set_block_evaluator(nullptr);
        function_t::set_caller(nullptr);
        recorded_calls().clear();
        RuntimeTest::TearDown();
    }
    // make object! from the datatype (or a prototype) with a spec.
    static Cell make_object(const Cell& spec, const Cell* proto = nullptr) {
        Cell p = proto ? *proto : type_cell(type_object);
        Cell s = spec;
        return *object_t::make(&p, &s, type_object);
    }
    // A function! of a spec with an empty body.
    static Cell handler(std::initializer_list<Cell> spec) {
        stack::Mark mark;
        Cell body = block_of({});
        function_t::make_function(block_of(spec), &body, no_node, 0, 0, 0);
        Cell f = *stack::top_cell();
        mark.restore();
        return f;
    }
    static Cell field(const Cell& object, const char* name) { return *object_t::select_field(object, word_of(name)); }
    // Sets a field as `obj/name: value` does.
    static void set_path(Cell object, const char* name, Cell value) {
        Cell w = word_of(name);
        object_t::path_access(&object, &w, &value, nullptr, nullptr, nullptr, -1, false, false, true, false);
    }

private:
    Cell* mark_ = nullptr;
};

}  // namespace vyr::test
