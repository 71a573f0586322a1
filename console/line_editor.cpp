// The line editor (see line_editor.h).
//
// Drawing: the prompt and the line are laid out in rows of the terminal's
// width (a Tab shows as four spaces, an escape sequence takes no room, a
// wide character that would start in the last column starts the next row).
// The editor remembers the row of the laid-out text on which the terminal's
// cursor stands, so a redraw goes back to the start with relative moves
// (up, carriage return, right to the start column) and never needs the
// cursor's absolute position, which scrolling would change.
#include "console/line_editor.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "console/char_width.h"
#include "console/input.h"
#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "engine/eval.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace vyr::console::line_editor {

namespace {

namespace key = terminal::key;

// The editor's values, rooted: the line (its index is the cursor), the
// history block, the prompt, and the line to restore at the next read
// after a Tab that listed several candidates.
enum Slot { line_slot, history_slot, prompt_slot, saved_slot, slot_count };
Cell slots[slot_count];
Cell& line() { return slots[line_slot]; }
Cell& history() { return slots[history_slot]; }
Cell& prompt() { return slots[prompt_slot]; }
Cell& saved() { return slots[saved_slot]; }

bool hide = false;
bool failed = false;
int32_t width = 80;
int32_t start_column = 0;  // where the prompt starts in its row
int32_t cursor_row = 0;    // the row of the laid-out text the terminal's cursor is on
int32_t drawn_rows = 0;    // rows the drawn text spans, after the first

// ---- Strings ---------------------------------------------------------------------

uint32_t length_of(const Cell& s) { return memory::series_length(s.w2); }
uint32_t char_at(const Cell& s, uint32_t i) { return string_t::char_at(s, i); }

void clear_string(Cell& s) {
    string_t::truncate(s.w2, 0);
    s.w1 = 0;
}

// Appends the whole of `from` (from its head) to `to`.
void append_all(Cell& to, const Cell& from) {
    uint32_t n = length_of(from);
    for (uint32_t i = 0; i < n; ++i) string_t::append_code_point(to.w2, char_at(from, i));
}

bool same_text(const Cell& a, const Cell& b) {
    uint32_t n = length_of(a);
    if (a.w1 != 0 || b.w1 > length_of(b) || length_of(b) - b.w1 != n) return false;
    for (uint32_t i = 0; i < n; ++i) {
        if (char_at(a, i) != char_at(b, b.w1 + i)) return false;
    }
    return true;
}

void append_utf8(std::string& out, uint32_t cp) {
    uint8_t bytes[4];
    out.append(reinterpret_cast<const char*>(bytes), unicode::utf8_encode_char(cp, bytes));
}

// ---- Layout ------------------------------------------------------------------------

// Walks characters, counting columns in rows of `width` and writing what the
// terminal is to show.
struct Layout {
    int32_t columns;  // from the start of the first row (start column included)
    std::string text;

    void put(const Cell& s, uint32_t from, uint32_t to, bool masked) {
        for (uint32_t i = from; i < to; ++i) {
            uint32_t cp = char_at(s, i);
            if (cp == 27 && i + 1 < to && (char_at(s, i + 1) == '[' || char_at(s, i + 1) == '(')) {
                // An escape sequence is passed on whole and takes no room.
                text.push_back('\x1b');
                uint32_t j = i + 1;
                text.push_back(char(char_at(s, j)));
                for (++j; j < to; ++j) {
                    uint32_t c = char_at(s, j);
                    append_utf8(text, c);
                    if (!((c >= '0' && c <= '9') || c == ';')) break;
                }
                i = j < to ? j : to - 1;
                continue;
            }
            if (cp == '\t') {
                advance(4, masked ? "****" : "    ");
                continue;
            }
            int w = cp >= 0x1F300 && cp <= 0x1F5FF ? 2 : char_width(int32_t(cp));
            std::string shown;
            if (masked) shown = "*";
            else if (cp < 32 || (cp >= 127 && cp < 160)) shown = "?";  // a control code would act, not show
            else append_utf8(shown, cp);
            if (masked) w = 1;
            if (w == 0) {
                text += shown;
                continue;
            }
            if (w == 2 && columns % width == width - 1) columns += 1;  // the last column stays empty
            columns += w;
            text += shown;
        }
    }
    void advance(int n, const char* shown) {
        columns += n;
        text += shown;
    }
};

// ---- Drawing -----------------------------------------------------------------------------

std::string move_to_row(int32_t from_row, int32_t to_row) {
    std::string out;
    if (to_row < from_row) out += "\x1b[" + std::to_string(from_row - to_row) + "A";
    if (to_row > from_row) out += "\x1b[" + std::to_string(to_row - from_row) + "B";
    return out;
}

std::string to_column(int32_t column) {
    std::string out = "\r";
    if (column > 0) out += "\x1b[" + std::to_string(column) + "C";
    return out;
}

// Redraws the prompt and the line (full), or only places the cursor.
void refresh(bool full) {
    int32_t cols = terminal::columns();
    width = cols > 0 ? cols : 80;
    if (start_column >= width) start_column = 0;

    Layout head{start_column, {}};
    head.put(prompt(), prompt().w1, length_of(prompt()), false);
    head.put(line(), 0, line().w1, hide);
    int32_t cursor_columns = head.columns;
    Layout rest{cursor_columns, {}};
    rest.put(line(), line().w1, length_of(line()), hide);
    int32_t total = rest.columns;

    int32_t cursor_target = cursor_columns / width;
    int32_t cursor_col = cursor_columns % width;
    // A wide character under the cursor in the last column is drawn on the
    // next row; the cursor goes with it.
    if (line().w1 < length_of(line()) && cursor_col == width - 1 && char_at(line(), line().w1) > 255) {
        ++cursor_target;
        cursor_col = 0;
    }

    std::string out;
    int32_t at_row = cursor_row;
    if (full) {
        out += move_to_row(cursor_row, 0);
        out += to_column(start_column);
        out += "\x1b[J";
        out += head.text;
        out += rest.text;
        at_row = total / width;
        if (total > 0 && total % width == 0) {
            // The terminal waits at the end of the full row: give it the row
            // the cursor is to stand on.
            out += "\r\n";
        }
        drawn_rows = total / width;
    }
    out += move_to_row(at_row, cursor_target);
    out += to_column(cursor_col);
    cursor_row = cursor_target;
    std::fflush(nullptr);
    terminal::write(out);
}

// Moves the cursor below the drawn text, to column 0 of its last row.
void cursor_to_last_row() {
    std::string out = move_to_row(cursor_row, drawn_rows);
    out += "\r";
    cursor_row = drawn_rows;
    terminal::write(out);
}

// ---- History -------------------------------------------------------------------------

uint32_t history_count() {
    return type_of(history()) == type_block ? memory::series_length(history().w2) : 0;
}

// The line itself goes at the head of the history (shared, not copied),
// unless it is hidden, empty or the same as the newest entry.
void history_add() {
    line().w1 = 0;
    if (hide || length_of(line()) == 0 || type_of(history()) != type_block) return;
    if (history_count() > 0) {
        const Cell& newest = *memory::cell_at(history().w2, 0);
        if (string_t::string_like_q(type_of(newest)) && same_text(line(), newest)) return;
    }
    history().w1 = 0;
    Cell entry = line();
    block_t::insert_value(history(), entry, false, true);
}

void history_load(uint32_t index) {
    clear_string(line());
    const Cell& entry = *memory::cell_at(history().w2, index);
    if (string_t::string_like_q(type_of(entry))) {
        Cell e = entry;
        uint32_t n = length_of(e);
        for (uint32_t i = e.w1; i < n; ++i) string_t::append_code_point(line().w2, char_at(e, i));
    }
    line().w1 = length_of(line());
}

// ---- Completion ----------------------------------------------------------------------

// The function `vyr-complete-ctx/complete-input`, or none.
Cell completer() {
    Cell ctx_word = word_t::make_global("vyr-complete-ctx");
    Cell* ctx = word_t::get(ctx_word);
    if (!ctx || type_of(*ctx) != type_object) return none_t::value;
    Cell fn_word = word_t::make_global("complete-input");
    Cell* fn = context_t::value_of_symbol(int32_t(fn_word.w2), ctx->w1);
    return fn && type_of(*fn) == type_function ? *fn : none_t::value;
}

// Asks the completion for the text before the cursor. Answers the number of
// items it proposed: 0 leaves everything as it was; 1 replaces the line; more
// list the candidates after the prompt (the caller then ends the read) and
// keep the first item as the line to restore at the next read.
uint32_t complete_line() {
    Cell fn = completer();
    if (type_of(fn) == type_none) return 0;
    stack::Mark mark;
    Cell* args = stack::push_copy(line());
    stack::push_copy(logic_t::value_of(true));
    Cell answer{};
    collector::CellRoot keep(&answer);
    Cell name = word_t::make_global("complete-input");
    Status s = eval::call_value(fn, args, 2, name, answer);
    mark.restore();
    if (s != Status::ok || type_of(answer) != type_block) return 0;
    uint32_t n = memory::series_length(answer.w2);
    uint32_t count = answer.w1 < n ? n - answer.w1 : 0;
    if (count == 0) return 0;
    Cell first = *memory::cell_at(answer.w2, answer.w1);
    if (!string_t::string_like_q(type_of(first))) return 0;

    clear_string(saved());
    append_all(saved(), line());
    saved().w1 = line().w1;
    clear_string(line());
    if (count == 1) {
        append_all(line(), first);
        line().w1 = first.w1;
        refresh(true);
        return 1;
    }
    clear_string(saved());
    append_all(saved(), first);
    saved().w1 = first.w1;
    for (uint32_t i = answer.w1 + 1; i < n; ++i) {
        Cell item = *memory::cell_at(answer.w2, i);
        if (!string_t::string_like_q(type_of(item))) continue;
        uint32_t m = length_of(item);
        for (uint32_t k = item.w1; k < m; ++k) string_t::append_code_point(line().w2, char_at(item, k));
        string_t::append_code_point(line().w2, ' ');
    }
    line().w1 = length_of(line());
    refresh(true);
    return count;
}

// ---- The key loop ----------------------------------------------------------------------

void set_line_to_q() {
    clear_string(line());
    string_t::append_code_point(line().w2, 'q');
    line().w1 = 1;
}

void remove_at_cursor() { string_t::remove_char(line(), line().w1); }

void edit_line() {
    int32_t walk = -1;
    uint32_t count = history_count();
    if (type_of(history()) == type_block) history().w1 = 0;
    if (type_of(saved()) != type_string) string_t::make_at(saved(), 1);
    if (length_of(saved()) > 0) {
        append_all(line(), saved());
        line().w1 = saved().w1;
    }
    int32_t row = 0, column = 0;
    start_column = terminal::cursor_position(row, column) ? column : 0;
    cursor_row = 0;
    drawn_rows = 0;
    refresh(true);

    for (;;) {
        int32_t k = terminal::read_key();
        uint32_t length = length_of(line());
        uint32_t& cursor = line().w1;
        switch (k) {
            case key::failed:
                // The terminal hung up or the read failed: the input has ended.
                failed = true;
                clear_string(line());
                return;
            case '\t': {
                uint32_t n = complete_line();
                if (n > 1) {
                    clear_string(line());
                    return;
                }
                if (n == 1) continue;
                break;  // no candidate: the Tab is a character
            }
            case key::enter:
                cursor_to_last_row();
                history_add();
                clear_string(saved());
                return;
            case 8:
            case 127:
                if (cursor > 0) {
                    --cursor;
                    remove_at_cursor();
                }
                refresh(true);
                continue;
            case key::left:
            case 2:
                if (cursor > 0) {
                    --cursor;
                    refresh(false);
                }
                continue;
            case key::right:
            case 6:
                if (cursor < length) {
                    ++cursor;
                    refresh(false);
                }
                continue;
            case key::down:
            case 14:
                if (walk < 0) {
                    clear_string(line());
                } else {
                    history_load(uint32_t(walk));
                    --walk;
                }
                refresh(true);
                continue;
            case key::up:
            case 16:
                if (walk >= int32_t(count) - 1) {
                    clear_string(line());
                } else {
                    ++walk;
                    history_load(uint32_t(walk));
                }
                refresh(true);
                continue;
            case key::home:
            case 1:
                cursor = 0;
                refresh(true);
                continue;
            case key::end:
            case 5:
                cursor = length;
                refresh(true);
                continue;
            case key::del:
                if (cursor < length) remove_at_cursor();
                refresh(true);
                continue;
            case 11:
                if (cursor < length) string_t::remove_chars(line(), cursor, length - cursor);
                refresh(true);
                continue;
            case 4:
                if (length == 0) {
                    set_line_to_q();
                    cursor_to_last_row();
                    return;
                }
                if (cursor < length) {
                    remove_at_cursor();
                    refresh(true);
                }
                continue;
            case 3:
                set_line_to_q();
                cursor_to_last_row();
                return;
            case 27:
                clear_string(saved());
                string_t::append_code_point(line().w2, 27);
                cursor_to_last_row();
                return;
            case key::insert:
            case key::page_up:
            case key::page_down:
            case key::other:
                continue;
            default:
                break;
        }
        if (k > 31 || k == '\t') {
            if (cursor >= length) string_t::append_code_point(line().w2, uint32_t(k));
            else string_t::insert_char(line().w2, cursor, uint32_t(k));
            ++cursor;
            refresh(true);
        }
    }
}

void ensure_rooted() {
    static bool rooted = false;
    if (rooted) return;
    rooted = true;
    for (Cell& c : slots) c = none_t::value;
    collector::add_root_cells(slots, slot_count);
}

}  // namespace

void setup(const Cell& line_value, const Cell& history_value) {
    ensure_rooted();
    line() = line_value;
    history() = history_value;
    terminal::enter_raw_mode();
}

void edit(const Cell& prompt_value, bool hidden) {
    ensure_rooted();
    prompt() = prompt_value;
    hide = hidden;
    if (failed) {
        // Once the terminal has failed, every read answers an empty line.
        terminal::leave_raw_mode();
        return;
    }
    if (type_of(line()) == type_string) edit_line();
    terminal::leave_raw_mode();
    terminal::write("\n");
}

bool input_failed() { return failed; }

}  // namespace vyr::console::line_editor
