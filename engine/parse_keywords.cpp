// The keywords of the parse dialect (what each one checks when it is met,
// which rule entry it pushes) and the rule codes applied when an entry is
// popped; collect and keep.
//
// Collect targets live on the argument stack above the engine's result
// cell, the innermost on top: a block for a plain collect, a word and a
// block for `collect set`, the target word as get-word! for `collect into`
// and as refinement! for `collect after`.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/fixed_words.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "engine/parse_internal.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace vyr::parse {

namespace script = err_id::script;

namespace {

// A series that collect into/after may write to.
bool target_series_q(uint32_t t) {
    return series_t::block_family_q(t) || string_t::string_like_q(t) || t == type_binary;
}

}  // namespace

// ---- State word -------------------------------------------------------------------------

Status Engine::word_state() {
    Keyword k = keyword_of(r.value);
    if (k != Keyword::none_ && k != Keyword::only && k != Keyword::pick && k != Keyword::after) {
        arg_pos = ArgPos::none;
        min = max = -1;
        pick = 0;
        pending = code::none;
        return keyword(k);
    }
    const Cell* v = word_value(r.value);
    if (!v) raise(script::parse_rule, &r.value);
    r.value = *v;
    via_word = true;
    bool word = type_of(r.value) == type_word;
    ArgPos from = arg_pos;
    arg_pos = ArgPos::none;
    // After a keyword a word that names a word matches that word literally.
    if (from == ArgPos::first) st = word ? State::match_literal : State::rule_argument;
    else if (from == ArgPos::refetch) st = word ? State::match_literal : State::match_value;
    else st = State::match_value;
    return Status::ok;
}

Status Engine::keyword(Keyword k) {
    switch (k) {
        case Keyword::bar:
            // The alternative before it succeeded: the block is done.
            rpos = rule_tail();
            st = top_is_rule() ? State::pop_rule : State::pop_block;
            return Status::ok;
        case Keyword::skip:
            if (end) {
                match = false;
            } else {
                recompute_end();
                match = !end;
            }
            st = match ? State::next_input : State::check;
            return fire_match();
        case Keyword::any:
        case Keyword::some:
        case Keyword::opt:
            if (last_rule())
                raise(script::parse_end, k == Keyword::any    ? &fixed::word_any
                                         : k == Keyword::some ? &fixed::word_some
                                                              : &fixed::word_opt);
            min = k == Keyword::some ? 1 : 0;
            max = k == Keyword::opt ? 1 : -1;
            pending = code::repeat;
            st = State::push_rule;
            return Status::ok;
        case Keyword::while_:
            min = 0;
            max = -1;
            pending = code::while_;
            st = State::push_rule;
            return Status::ok;
        case Keyword::to:
        case Keyword::thru:
            if (!last_rule() && type_of(rule_at(rpos + 1)) == type_word && keyword_of(rule_at(rpos + 1)) == Keyword::end) {
                match = true;
                if (Status s = fire_match(); s != Status::ok) return s;
                set_cursor(std::max(cursor(), stop()));
                end = true;
                ++rpos;
                st = State::check;
                return Status::ok;
            }
            pending = k == Keyword::to ? code::to : code::thru;
            st = State::push_rule;
            return Status::ok;
        case Keyword::copy:
        case Keyword::set:
            if (rpos + 2 >= rule_tail() || type_of(rule_at(rpos + 1)) != type_word)
                raise(script::parse_end, k == Keyword::copy ? &fixed::word_copy : &fixed::word_set);
            ++rpos;
            pending = k == Keyword::copy ? code::copy : code::set;
            st = State::push_rule;
            return Status::ok;
        case Keyword::remove:
            remove_keyword();
            return Status::ok;
        case Keyword::break_:
            match = true;
            brk = pop = true;
            if (rpos < rule_tail()) ++rpos;
            st = State::pop_rule;
            return fire_match();
        case Keyword::reject:
            match = false;
            brk = pop = true;
            st = State::pop_rule;
            return fire_match();
        case Keyword::fail:
            match = false;
            st = State::pop_rule;
            return fire_match();
        case Keyword::keep:
            return keep_keyword();
        case Keyword::ahead:
            pending = code::ahead;
            st = State::push_rule;
            return Status::ok;
        case Keyword::not_:
            pending = code::not_;
            st = State::push_rule;
            return Status::ok;
        case Keyword::into:
            return into_keyword();
        case Keyword::insert:
            return insert_keyword();
        case Keyword::change:
            return change_keyword();
        case Keyword::end:
            recompute_end();
            match = end;
            st = State::check;
            return fire_match();
        case Keyword::if_: {
            if (last_rule() || type_of(rule_at(rpos + 1)) != type_paren) raise(script::parse_end, &fixed::word_if);
            ++rpos;
            if (Status s = eval_paren(rule_at(rpos)); s != Status::ok) return s;
            settle();
            match = !logic_t::falsy(r.paren);
            st = State::check;
            return fire_match();
        }
        case Keyword::quote:
            if (last_rule()) raise(script::parse_end, &fixed::word_quote);
            ++rpos;
            r.value = rule_at(rpos);
            st = State::match_literal;
            return Status::ok;
        case Keyword::collect:
            return collect_keyword();
        case Keyword::case_: {
            if (last_rule() || type_of(rule_at(rpos + 1)) != type_word) raise(script::parse_end, &fixed::word_case);
            max = case_mode;
            ++rpos;
            Cell w = rule_at(rpos);
            case_mode = logic_t::true_q(*word_t::get(w), true, &w) ? 2 : 0;
            pending = code::case_;
            st = State::push_rule;
            return Status::ok;
        }
        case Keyword::none:
            match = true;
            st = State::check;
            return fire_match();
        case Keyword::none_:
        case Keyword::only:
        case Keyword::pick:
        case Keyword::after:
            break;
    }
    st = State::check;
    return Status::ok;
}

// `remove pos` removes from a position in the input up to the cursor at
// once; any other `remove` takes a rule and removes what it matched.
void Engine::remove_keyword() {
    if (!last_rule()) {
        const Cell& next = rule_at(rpos + 1);
        if (type_of(next) == type_path) raise(script::parse_rule, &fixed::word_remove);
        if (const Cell* v = input_position(next)) {
            int32_t from = std::min(int32_t(v->w1), input_length());
            int32_t lo = std::min(from, cursor()), n = std::abs(cursor() - from);
            if (n > 0) remove_at(lo, n);
            set_cursor(lo);
            ++rpos;
            recompute_end();
            st = State::check;
            return;
        }
    }
    pending = code::remove;
    st = State::push_rule;
}

// The value of `insert` or `change` in the rule cell at `at` (the rule
// cursor moves onto it): a paren's result, a word's value, or the cell
// itself. It goes to r.paren, which keeps it rooted.
Status Engine::rule_value_after(int32_t at, Cell& out, const Cell& keyword_word) {
    (void)keyword_word;
    rpos = at;
    Cell c = rule_at(rpos);
    switch (type_of(c)) {
        case type_path:
            raise(script::parse_rule, &c);
        case type_paren: {
            if (Status s = eval_paren(c); s != Status::ok) return s;
            settle();
            out = r.paren;
            return fire(fixed::word_paren);
        }
        case type_word: {
            const Cell* v = word_value(c);
            if (!v) raise(script::no_value, &c);
            r.paren = *v;
            out = r.paren;
            return Status::ok;
        }
        default:
            r.paren = c;
            out = r.paren;
            return Status::ok;
    }
}

Status Engine::insert_keyword() {
    bool only = false;
    if (!last_rule() && type_of(rule_at(rpos + 1)) == type_word && keyword_of(rule_at(rpos + 1)) == Keyword::only) {
        only = true;
        ++rpos;
    }
    if (last_rule()) raise(script::parse_end, &fixed::word_insert);
    int32_t at = cursor();
    if (const Cell* v = input_position(rule_at(rpos + 1))) {
        at = std::min(int32_t(v->w1), input_length());
        ++rpos;
        if (last_rule()) raise(script::parse_rule, &fixed::word_insert);
    }
    Cell value;
    if (Status s = rule_value_after(rpos + 1, value, fixed::word_insert); s != Status::ok) return s;
    at = std::min(at, input_length());
    int32_t before = input_length();
    insert_at(at, r.paren, only);
    // The cursor keeps its place in the data.
    if (cursor() >= at) set_cursor(cursor() + (input_length() - before));
    recompute_end();
    st = State::next_rule;
    return Status::ok;
}

Status Engine::change_keyword() {
    bool only = false;
    if (!last_rule() && type_of(rule_at(rpos + 1)) == type_word && keyword_of(rule_at(rpos + 1)) == Keyword::only) {
        only = true;
        ++rpos;
    }
    if (!last_rule()) {
        if (const Cell* v = input_position(rule_at(rpos + 1))) {
            int32_t pos = int32_t(v->w1);
            ++rpos;
            if (last_rule()) raise(script::parse_rule, &fixed::word_change);
            Cell value;
            if (Status s = rule_value_after(rpos + 1, value, fixed::word_change); s != Status::ok) return s;
            int32_t n = input_length();
            pos = std::min(pos, n);
            int32_t here = std::min(cursor(), n);
            Cell after = change_at(std::min(pos, here), std::abs(here - pos), r.paren, only);
            set_cursor(int32_t(after.w1));
            recompute_end();
            st = State::check;
            return Status::ok;
        }
    }
    pending = only ? code::change_only : code::change;
    st = State::push_rule;
    return Status::ok;
}

// `into rule`: the element at the cursor becomes the input while the rule runs.
Status Engine::into_keyword() {
    if (!block_input()) raise(script::parse_block, &r.input);
    if (last_rule()) raise(script::parse_end, &fixed::word_into);
    Cell arg = rule_at(rpos + 1);
    if (type_of(arg) == type_word) {
        const Cell* v = word_value(arg);
        arg = v ? *v : none_t::value;
    }
    if (type_of(arg) != type_block) raise(script::parse_end, &fixed::word_into);
    if (end) {
        match = false;
        ++rpos;  // step over the rule it would have run
        st = State::check;
        return Status::ok;
    }
    Cell element = *memory::cell_at(r.input.w2, uint32_t(cursor()));
    if (!target_series_q(type_of(element))) {
        match = false;
        ++rpos;
        st = State::check;
        return fire_match();
    }
    enter_series(element);
    pending = code::into;
    st = State::push_rule;
    return Status::ok;
}

// collect, collect set word, collect into word, collect after word.
Status Engine::collect_keyword() {
    ++collect_depth;
    max = -1;
    int32_t t = rule_tail();
    Keyword modifier = Keyword::none_;
    if (rpos + 1 < t && type_of(rule_at(rpos + 1)) == type_word) modifier = keyword_of(rule_at(rpos + 1));
    if (modifier == Keyword::set || modifier == Keyword::into || modifier == Keyword::after) {
        if (rpos + 2 >= t || type_of(rule_at(rpos + 2)) != type_word) raise(script::parse_end, &fixed::word_collect);
        Cell w = rule_at(rpos + 2);
        if (modifier == Keyword::set) {
            stack::push_copy(w);
            block_t::push_new(8);
        } else {
            const Cell* v = word_value(w);
            uint32_t vt = v ? type_of(*v) : type_none;
            uint32_t it = type_of(r.input);
            bool fits = target_series_q(vt) &&
                        (vt == it || series_t::block_family_q(vt) ||
                         (string_t::string_like_q(vt) && (text_input() || binary_input())));
            if (!fits) raise(script::parse_into_type);
            if (v->w2 == r.input.w2) raise(script::parse_into_bad);
            max = int32_t(v->w1);
            set_type(w, modifier == Keyword::into ? type_get_word : type_refinement);
            stack::push_copy(w);
        }
        rpos += 2;
    } else {
        block_t::push_new(8);
    }
    pending = code::collect;
    st = State::push_rule;
    return Status::ok;
}

Status Engine::keep_keyword() {
    if (collect_depth == 0) raise(script::parse_keep, &fixed::word_keep);
    int32_t t = rule_tail();
    pending = code::keep;
    if (rpos + 1 < t) {
        const Cell& next = rule_at(rpos + 1);
        if (type_of(next) == type_paren) {
            pending = code::keep_paren;
        } else if (type_of(next) == type_word && keyword_of(next) == Keyword::pick) {
            pick = 1;
            ++rpos;
            if (rpos + 1 < t && type_of(rule_at(rpos + 1)) == type_paren) pending = code::keep_paren;
        }
    }
    st = State::push_rule;
    return Status::ok;
}

// ---- Rule codes ---------------------------------------------------------------------------

// State pop-rule with a rule entry on top: what the entry's code does now
// that its rule has run. Repetitions and to/thru may keep the entry and go
// round again.
Status Engine::apply_code() {
    const Cell* top = entry(0);
    Cell first = top[0];
    Cell at = top[1];
    int32_t c = int32_t(top[2].w2);
    int32_t saved = int32_t(at.w2);
    switch (c) {
        case code::repeat:
        case code::while_: {
            int32_t n = int32_t(first.w3), lo = int32_t(first.w1), hi = int32_t(first.w2);
            bool more = match && (hi == -1 || n < hi);
            // An iteration that neither moved the cursor nor shortened the
            // input would go on for ever; `while` is left to its rule.
            if (c != code::while_ && cursor() == saved && remaining() >= progress_at()) {
                more = false;
                brk = false;
            }
            if (brk) {
                more = false;
                brk = false;
            }
            if (more) {
                entry(1)->w2 = uint32_t(cursor());
                entry(1)->w3 = uint32_t(remaining());
                progress_at() = remaining();
                entry(0)->w3 = uint32_t(n + 1);
                rpos = int32_t(at.w1);
                refetch_next = true;
                st = State::next_rule;
                return fire(fixed::word_iterate);
            }
            if (match) {
                if (n < lo) match = false;
            } else {
                // The failed iteration consumed nothing.
                set_cursor(saved);
                match = n - 1 >= lo || lo == 0;
            }
            recompute_end();
            break;
        }
        case code::to:
        case code::thru:
            if (!match) {
                int32_t next = saved + 1;
                if (next <= input_length() && !(limit > 0 && next > limit)) {
                    // Not here: try the rule at the next position.
                    set_cursor(next);
                    entry(1)->w2 = uint32_t(next);
                    recompute_end();
                    rpos = int32_t(at.w1);
                    refetch_next = true;
                    st = State::next_rule;
                    if (Status s = fire(fixed::word_pop); s != Status::ok) return s;
                    return fire(fixed::word_iterate);
                }
            } else if (c == code::to) {
                set_cursor(saved);
            }
            recompute_end();
            break;
        case code::copy:
            if (match) {
                Cell value = copy_range(saved, cursor());
                collector::CellRoot keep(&value);
                Cell w = first;
                r.copied = w;
                word_t::set(w, value);
            }
            break;
        case code::set:
            if (match) {
                Cell value = cursor() > saved ? element(saved) : none_t::value;
                collector::CellRoot keep(&value);
                Cell w = first;
                word_t::set(w, value);
            }
            break;
        case code::not_:
            match = !match;
            set_cursor(saved);
            recompute_end();
            break;
        case code::into: {
            recompute_end();
            bool ok = match && end && completed;
            pop_series();
            match = ok;
            if (ok) set_cursor(cursor() + 1);
            recompute_end();
            break;
        }
        case code::remove:
            if (match) {
                if (cursor() > saved) remove_at(saved, cursor() - saved);
                set_cursor(saved);
                recompute_end();
            }
            break;
        case code::collect:
            end_collect(int32_t(first.w2));
            break;
        case code::keep:
        case code::keep_paren:
            if (match) {
                if (Status s = keep_value(); s != Status::ok) return s;
            }
            break;
        case code::ahead:
            set_cursor(saved);
            recompute_end();
            break;
        case code::change:
        case code::change_only:
            if (match) {
                if (last_rule()) raise(script::parse_end, &fixed::word_change);
                Cell value;
                if (Status s = rule_value_after(rpos + 1, value, fixed::word_change); s != Status::ok) return s;
                int32_t from = std::min(saved, input_length());
                Cell after = change_at(from, std::max(cursor() - from, 0), r.paren, c == code::change_only);
                set_cursor(int32_t(after.w1));
                recompute_end();
            } else if (!last_rule()) {
                ++rpos;  // the value it would have written
            }
            break;
        case code::case_:
            case_mode = int32_t(first.w2);
            break;
        default:
            break;
    }
    if (Status s = fire(fixed::word_pop); s != Status::ok) return s;
    drop_rule_entry(c);
    st = State::check;
    return Status::ok;
}

// ---- Collect and keep ------------------------------------------------------------------------

// A collect has ended: its block goes to its word (collect set), into the
// target of an enclosing collect into/after, or into an enclosing collect's
// block; the outermost plain collect's block stays as the answer. A collect
// into/after puts its target's index back.
void Engine::end_collect(int32_t saved_index) {
    --collect_depth;
    Cell* result = stack::cell_at_index(result_index);
    Cell* top = stack::top() - 1;
    int64_t above = top - result;
    if (above < 1) return;
    uint32_t tt = type_of(*top);
    if (tt == type_block && above > 1) {
        Cell* below = top - 1;
        switch (type_of(*below)) {
            case type_word: {
                Cell w = *below;
                word_t::set(w, *top);
                stack::pop_cells(2);
                return;
            }
            case type_get_word:
            case type_refinement:
                store_into(stack::cell_index(below), *top);
                stack::pop_cells(1);
                return;
            case type_block:
                block_t::append_value(*below, *top);
                collect_result = true;
                stack::pop_cells(1);
                return;
            default:
                return;
        }
    }
    if (tt == type_block) {
        collect_result = true;
    } else if (tt == type_get_word || tt == type_refinement) {
        Cell w = *top;
        // A paren may have given the word another value: only a series has an index.
        const Cell* v = word_value(w);
        if (v && target_series_q(type_of(*v))) const_cast<Cell*>(v)->w1 = uint32_t(saved_index);
        stack::pop_cells(1);
    }
}

// Stores one kept value into the collect target in the argument-stack cell
// `target`: appended to a collect block; inserted at the index of a
// collect-into series (which then moves past it), appended to a
// collect-after series.
void Engine::store_into(uint32_t target, const Cell& value) {
    Cell t = *stack::cell_at_index(target);
    if (type_of(t) == type_block) {
        block_t::append_value(t, value);
        return;
    }
    bool after = type_of(t) == type_refinement;
    const Cell* v = word_value(t);
    if (!v || !target_series_q(type_of(*v))) raise(script::parse_into_type);
    stack::Mark mark;
    Cell* series = stack::push_copy(*v);
    Cell* item = stack::push_copy(value);
    bool only = series_t::block_family_q(type_of(*series));
    Cell placed;
    if (after) {
        placed = *actions::append(series, item, -1, only, 1);
    } else {
        placed = *actions::insert(series, item, -1, only, 1);
    }
    mark.restore();
    if (!after) {
        if (const Cell* again = word_value(t); again && type_of(*again) == type_of(placed) && again->w2 == placed.w2)
            const_cast<Cell*>(again)->w1 = placed.w1;
    }
}

void Engine::store_kept(const Cell& value) { store_into(stack::cell_index(stack::top() - 1), value); }

// Whether a run of bytes kept from binary! input goes to a text target of
// one byte per unit: the bytes are then copied as they are, one character
// each, rather than as a binary! value.
bool Engine::bytes_for_text_target(int32_t from, int32_t to) const {
    if (!binary_input() || to - from < 2) return false;
    Cell t = *(stack::top() - 1);
    if (type_of(t) != type_get_word && type_of(t) != type_refinement) return false;
    const Cell* v = word_value(t);
    return v && string_t::string_like_q(type_of(*v)) && string_t::unit_of(v->w2) == 1;
}

Cell Engine::latin1_range(int32_t from, int32_t to) {
    const uint8_t* p = memory::buffer_of(r.input.w2)->head_ptr();
    std::vector<uint8_t> bytes(p + from, p + to);
    Cell text;
    string_t::make_from_units_at(text, bytes.data(), uint32_t(bytes.size()), 1);
    return text;
}

// Code keep: the value the kept rule matched (or the paren's value) goes to
// the innermost collect target.
Status Engine::keep_value() {
    Cell at = *entry(1);
    bool picked = entry(2)->w3 == 1;
    int32_t c = int32_t(entry(2)->w2);
    if (c == code::keep_paren) {
        if (picked && series_t::block_family_q(type_of(r.paren))) {
            Cell list = r.paren;
            collector::CellRoot keep(&list);
            for (uint32_t i = list.w1; i < memory::series_length(list.w2); ++i) {
                Cell item = *memory::cell_at(list.w2, i);
                store_kept(item);
            }
        } else {
            Cell value = r.paren;
            collector::CellRoot keep(&value);
            store_kept(value);
        }
        return Status::ok;
    }
    int32_t from = int32_t(at.w2), to = cursor();
    if (picked) {
        for (int32_t i = from; i < to && i < input_length(); ++i) {
            Cell item = element(i);
            collector::CellRoot keep(&item);
            store_kept(item);
        }
        return Status::ok;
    }
    Cell value = none_t::value;
    collector::CellRoot keep(&value);
    if (int32_t(at.w3) == code::copy && type_of(r.copied) == type_word) {
        const Cell* v = word_value(r.copied);
        if (!v) return Status::ok;
        value = *v;
    } else if (to - from == 1) {
        value = element(from);
    } else if (to - from > 1) {
        value = bytes_for_text_target(from, to) ? latin1_range(from, to) : copy_range(from, to);
    } else {
        return Status::ok;
    }
    store_kept(value);
    return Status::ok;
}

// ---- Changing the input ------------------------------------------------------------------------

Cell Engine::remove_at(int32_t from, int32_t count) {
    SeriesAside aside;
    stack::Mark mark;
    Cell* series = stack::push_copy(r.input);
    series->w1 = uint32_t(from);
    Cell* part = stack::push_copy(Cell{type_integer, 0, uint32_t(count), 0});
    Cell out = *actions::remove(series, part, nullptr);
    mark.restore();
    return out;
}

Cell Engine::insert_at(int32_t at, const Cell& value, bool only) {
    SeriesAside aside;
    stack::Mark mark;
    Cell* series = stack::push_copy(r.input);
    series->w1 = uint32_t(at);
    Cell* item = stack::push_copy(value);
    Cell out = *actions::insert(series, item, -1, only, 1);
    mark.restore();
    return out;
}

Cell Engine::change_at(int32_t at, int32_t count, const Cell& value, bool only) {
    SeriesAside aside;
    stack::Mark mark;
    Cell* series = stack::push_copy(r.input);
    series->w1 = uint32_t(at);
    Cell* item = stack::push_copy(value);
    Cell out = *actions::change(series, item, count, only, 1);
    mark.restore();
    return out;
}

}  // namespace vyr::parse
