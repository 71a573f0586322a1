// Console input (see input.h).
#include "console/input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "console/host.h"
#include "console/line_editor.h"
#include "console/terminal.h"
#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string_buffer.h"
#include "datatypes/word.h"
#include "engine/lexer.h"
#include "datatypes/frames.h"
#include "engine/eval.h"
#include "library/routines.h"
#include "runtime/collector.h"
#include "runtime/interrupt.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/routines.h"
#include "runtime/stack.h"

namespace vyr::console {

namespace {

// ---- Standard input ---------------------------------------------------------

// Bytes read ahead from standard input; every reader below takes from here.
struct StdinBuffer {
    uint8_t bytes[4096];
    size_t next = 0;
    size_t end = 0;
    bool ended = false;  // the end of input (or a failed read) was met
};
StdinBuffer in;

// The next byte without taking it, or -1 at the end of input.
int peek_byte() {
    if (in.next < in.end) return in.bytes[in.next];
    if (in.ended) return -1;
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, in.bytes, sizeof in.bytes);
        if (n > 0) {
            in.next = 0;
            in.end = size_t(n);
            return in.bytes[0];
        }
        if (n < 0 && errno == EINTR) continue;
        in.ended = true;  // a failed read ends the input as the end does
        return -1;
    }
}

int take_byte() {
    int b = peek_byte();
    if (b >= 0) ++in.next;
    return b;
}

constexpr int32_t replacement_char = 0xFFFD;

// The length of the sequence a lead byte starts, or 0 for a byte that starts
// none (a continuation byte, 0xF8-0xFF).
int sequence_length(int lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// ---- Editor state shared with the line editor -------------------------------

// The line to fill and the history block, as `_set-buffer-history` gave
// them, and the code that Ctrl-C runs: [halt].
Cell handed[3];

// Ctrl-C while code runs: the evaluator halts as `halt` does, back to the
// console's prompt (or, in a script, to the end of the script).
Status halt_on_interrupt() {
    if (type_of(handed[2]) != type_block) return Status::ok;
    return eval::eval_block(frames::markers().body, handed[2], false);
}

// ---- Helpers -----------------------------------------------------------------

Status answer_none(Cell* result) {
    *result = none_t::value;
    return Status::ok;
}

// A field of `system/console`, or null when there is no such object or field.
Cell* console_field(const char* name) {
    Cell system_word = word_t::make_global("system");
    Cell* system = word_t::get(system_word);
    if (!system || type_of(*system) != type_object) return nullptr;
    Cell console_word = word_t::make_global("console");
    Cell* console = context_t::value_of_symbol(int32_t(console_word.w2), system->w1);
    if (!console || type_of(*console) != type_object) return nullptr;
    Cell field = word_t::make_global(name);
    return context_t::value_of_symbol(int32_t(field.w2), console->w1);
}

// ---- Routines -----------------------------------------------------------------

Status set_buffer_history(Cell* args, uint32_t) {
    handed[0] = args[0];
    handed[1] = args[1];
    if (terminal_input()) line_editor::setup(handed[0], handed[1]);
    return answer_none(args);
}

Status read_input(Cell* args, uint32_t) {
    if (terminal_input()) {
        line_editor::edit(args[0], !logic_t::falsy(args[1]));
    } else if (type_of(handed[0]) == type_string) {
        stdin_readline(handed[0]);
    }
    return answer_none(args);
}

Status terminate_console(Cell* args, uint32_t) { return answer_none(args); }

Status stdin_ended_q(Cell* args, uint32_t) {
    *args = logic_t::value_of(terminal_input() ? line_editor::input_failed() : stdin_ended());
    return Status::ok;
}

Status input_stdin(Cell* args, uint32_t) {
    Cell line{};
    string_t::make_at(line, 256);
    *args = line;
    stdin_readline(*args);
    return Status::ok;
}

Status read_stdin(Cell* args, uint32_t) {
    Cell binary = args[0];
    int32_t wanted = int32_t(args[1].w2);
    if (wanted > 0) {
        std::string bytes;
        while (bytes.size() < size_t(wanted)) {
            int b = take_byte();
            if (b < 0) break;
            bytes.push_back(char(b));
            if (in.next == in.end) break;  // what is at hand, as one read gives
        }
        if (!bytes.empty()) binary_t::append_bytes(binary, reinterpret_cast<const uint8_t*>(bytes.data()),
                                                   uint32_t(bytes.size()));
    }
    *args = binary;
    return Status::ok;
}

// The console's start-up: the window title (an OSC sequence, only on a
// terminal, never a failure), terminal detection and the console size.
Status console_init(Cell* args, uint32_t) {
    terminal::init(args[0]);
    Cell* size = console_field("size");
    if (size && type_of(*size) == type_pair) {
        int32_t columns = terminal::columns(), rows = terminal::rows();
        if (columns > 0) size->w2 = uint32_t(columns);
        if (rows > 0) size->w3 = uint32_t(rows);
        if (size->w2 == 0 || size->w3 == 0) {
            size->w2 = 80;
            size->w3 = 50;
        }
    }
    terminal::set_size_cell_hook([] { return console_field("size"); });
    static const char halt_text[] = "halt";
    lexer::Request request;
    request.text = reinterpret_cast<const uint8_t*>(halt_text);
    request.length = sizeof halt_text - 1;
    lexer::lexer_scan(&handed[2], request, nullptr);
    interrupt::set_hook(halt_on_interrupt);
    return answer_none(args);
}

// The specs are in the routine source (boot/routines.vyr), by the same names.
const library::RoutineEntry routine_entries[] = {
    {"_set-buffer-history", set_buffer_history, -1},
    {"_read-input", read_input, -1},
    {"_terminate-console", terminate_console, -1},
    {"_stdin-ended?", stdin_ended_q, -1},
    {"input-stdin", input_stdin, -1},
    {"read-stdin", read_stdin, -1},
    {"_console-init", console_init, -1},
    {"_console-args", host::command_line, -1},
};

}  // namespace

void make_routines(const Cell& specs) {
    static bool rooted = false;
    if (!rooted) collector::add_root_cells(handed, 3);
    rooted = true;
    handed[0] = handed[1] = handed[2] = none_t::value;
    library::bind_routines(specs, routine_entries, std::size(routine_entries));
}

std::vector<std::string> routine_names() {
    std::vector<std::string> out;
    for (const library::RoutineEntry& r : routine_entries) out.emplace_back(r.word);
    return out;
}

bool terminal_input() { return terminal::input_is_terminal(); }

bool stdin_ended() { return in.ended && in.next >= in.end; }

int32_t read_utf8_char() {
    int lead = take_byte();
    if (lead < 0) return -1;
    int length = sequence_length(lead);
    if (length == 0) return replacement_char;
    if (length == 1) return lead;
    static constexpr int32_t lead_bits[] = {0, 0, 0x1F, 0x0F, 0x07};
    int32_t cp = lead & lead_bits[length];
    for (int i = 1; i < length; ++i) {
        int b = peek_byte();
        // A byte that does not continue the sequence is left for the next
        // character; the broken sequence reads as one replacement character.
        if (b < 0 || (b & 0xC0) != 0x80) return replacement_char;
        ++in.next;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr int32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return replacement_char;
    return cp;
}

bool stdin_readline(const Cell& line) {
    for (;;) {
        int32_t cp = read_utf8_char();
        if (cp < 0) return false;
        if (cp == '\n') return true;
        string_t::append_code_point(line, uint32_t(cp));
    }
}

}  // namespace vyr::console
