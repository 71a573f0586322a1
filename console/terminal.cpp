// The terminal under the console (see terminal.h).
#include "console/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "runtime/interrupt.h"
#include "runtime/memory.h"
#include "runtime/platform.h"

namespace vyr::console::terminal {

namespace {

bool input_terminal = false;
int32_t width = -1, height = -1;
Cell* (*size_cell)() = nullptr;

// ---- Raw mode and its restoration --------------------------------------------

struct termios saved_mode;
std::atomic<bool> raw_active{false};
bool restorers_installed = false;

void restore_now() {
    if (raw_active.exchange(false)) tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_mode);
}

// The fatal signals whose default action ends the process: the terminal is
// given back first, then the default action runs.
constexpr int fatal_signals[] = {SIGHUP, SIGTERM, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGPIPE};
struct sigaction previous_actions[sizeof fatal_signals / sizeof fatal_signals[0]];

void on_fatal_signal(int signo) {
    restore_now();
    for (size_t i = 0; i < sizeof fatal_signals / sizeof fatal_signals[0]; ++i) {
        if (fatal_signals[i] != signo) continue;
        // The runtime's own fault handlers (which report and exit) come next;
        // else the default action.
        sigaction(signo, &previous_actions[i], nullptr);
        if (previous_actions[i].sa_handler == SIG_DFL || previous_actions[i].sa_handler == SIG_IGN) {
            signal(signo, SIG_DFL);
        }
        raise(signo);
        return;
    }
}

void install_restorers() {
    if (restorers_installed) return;
    restorers_installed = true;
    std::atexit(restore_now);
    for (size_t i = 0; i < sizeof fatal_signals / sizeof fatal_signals[0]; ++i) {
        struct sigaction sa {};
        sigaction(fatal_signals[i], nullptr, &previous_actions[i]);
        // Keep what the runtime installed (its fault handlers run on their
        // own stack); only wrap it.
        sa.sa_handler = on_fatal_signal;
        sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
        sigemptyset(&sa.sa_mask);
        if (previous_actions[i].sa_handler == SIG_IGN) continue;
        if (previous_actions[i].sa_flags & SA_SIGINFO) {
            // A handler taking siginfo (the fault handlers): restore the terminal
            // by atexit, which their exit runs.
            continue;
        }
        sigaction(fatal_signals[i], &sa, nullptr);
    }
}

// ---- Window size --------------------------------------------------------------

std::atomic<bool> size_stale{true};

void on_winch(int) { size_stale = true; }

void on_interrupt(int) { interrupt::request(); }

void read_size() {
    size_stale = false;
    struct winsize ws {};
    int fd = isatty(STDOUT_FILENO) ? STDOUT_FILENO : STDIN_FILENO;
    if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
        width = ws.ws_col;
        height = ws.ws_row > 0 ? ws.ws_row : 24;
    } else {
        width = height = -1;
        return;
    }
    if (size_cell) {
        if (Cell* size = size_cell(); size && type_of(*size) == type_pair) {
            size->w2 = uint32_t(width);
            size->w3 = uint32_t(height);
        }
    }
}

void refresh_size() {
    if (size_stale) read_size();
}

// ---- Key bytes ------------------------------------------------------------------

// Bytes read while waiting for an answer of the terminal, kept for the keys.
std::deque<uint8_t> pending;

constexpr int escape_wait_ms = 50;

// One byte of input; waits at most `timeout_ms` (-1: for ever). Answers -1
// when the read failed or the input ended, -2 on time-out, -3 when the
// window size changed while waiting.
int next_byte(int timeout_ms) {
    if (!pending.empty()) {
        int b = pending.front();
        pending.pop_front();
        return b;
    }
    for (;;) {
        if (timeout_ms >= 0) {
            struct pollfd p {STDIN_FILENO, POLLIN, 0};
            int r = poll(&p, 1, timeout_ms);
            if (r == 0) return -2;
            if (r < 0) {
                if (errno == EINTR) {
                    if (size_stale) return -3;
                    continue;
                }
                return -1;
            }
        }
        uint8_t b;
        ssize_t n = ::read(STDIN_FILENO, &b, 1);
        if (n == 1) return b;
        if (n < 0 && errno == EINTR) {
            if (size_stale) return -3;
            continue;
        }
        return -1;
    }
}

int32_t csi_key(int final, int param) {
    switch (final) {
        case 'A': return key::up;
        case 'B': return key::down;
        case 'C': return key::right;
        case 'D': return key::left;
        case 'H': return key::home;
        case 'F': return key::end;
        case '~':
            switch (param) {
                case 1: case 7: return key::home;
                case 2: return key::insert;
                case 3: return key::del;
                case 4: case 8: return key::end;
                case 5: return key::page_up;
                case 6: return key::page_down;
            }
    }
    return key::other;
}

// After ESC: a CSI or SS3 sequence, or the Esc key alone.
int32_t escape_key() {
    int b = next_byte(escape_wait_ms);
    if (b == -2 || b == -3) return 27;
    if (b < 0) return key::failed;
    if (b == '[') {
        int param = 0, c;
        bool first = true;
        while ((c = next_byte(escape_wait_ms)) >= 0) {
            if (c >= '0' && c <= '9') {
                if (first) param = param * 10 + (c - '0');
            } else if (c == ';') {
                first = false;
            } else if (c >= 0x40 && c <= 0x7E) {
                return csi_key(c, param);
            } else if (c < 0x20 || c > 0x3F) {
                break;
            }
        }
        return c == -1 ? key::failed : key::other;
    }
    if (b == 'O') {
        int c = next_byte(escape_wait_ms);
        return c < 0 ? (c == -1 ? key::failed : key::other) : csi_key(c, 0);
    }
    return key::other;  // Alt with a key
}

}  // namespace

void init(const Cell& title) {
    input_terminal = isatty(STDIN_FILENO) == 1;
    if (platform::console_p()) {
        // The title as an OSC sequence; the title is plain ASCII.
        std::string osc = "\x1b]0;";
        if (type_of(title) == type_string) {
            const memory::SeriesBuffer* b = memory::buffer_of(title.w2);
            unsigned unit = b->unit();
            uint32_t n = memory::series_length(title.w2);
            for (uint32_t i = title.w1; i < n; ++i) {
                uint32_t cp = 0;
                std::memcpy(&cp, b->data() + b->head + uint64_t(i) * unit, unit);
                if (cp >= 0x20 && cp < 0x7F) osc.push_back(char(cp));
            }
        }
        osc += "\x07";
        write(osc);
    }
    struct sigaction sa {};
    sa.sa_handler = on_winch;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: a waiting read returns to take the new size
    sigaction(SIGWINCH, &sa, nullptr);
    sa.sa_handler = on_interrupt;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    read_size();
}

bool input_is_terminal() { return input_terminal; }

int32_t columns() {
    refresh_size();
    return width;
}
int32_t rows() {
    refresh_size();
    return height;
}

void set_size_cell_hook(Cell* (*hook)()) { size_cell = hook; }

void enter_raw_mode() {
    if (!input_terminal || raw_active) return;
    interrupt::clear();
    if (tcgetattr(STDIN_FILENO, &saved_mode) != 0) return;
    install_restorers();
    struct termios raw = saved_mode;
    raw.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INLCR | IGNCR | ISTRIP | IXON);
    raw.c_lflag &= ~tcflag_t(ECHO | ICANON | ISIG | IEXTEN);
    raw.c_cflag |= CS8;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_active = true;
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) raw_active = false;
}

void leave_raw_mode() { restore_now(); }

int32_t read_key() {
    for (;;) {
        refresh_size();
        int b = next_byte(-1);
        if (b == -3) continue;
        if (b < 0) return key::failed;
        if (b == 27) return escape_key();
        if (b == '\n' || b == '\r') return key::enter;
        if (b < 0x80) return b;
        // A UTF-8 character: its further bytes follow at once.
        int length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 0) return 0xFFFD;
        int32_t cp = b & (0x3F >> (length - 1));
        for (int i = 1; i < length; ++i) {
            int c = next_byte(escape_wait_ms);
            if (c == -1) return key::failed;
            if (c < 0 || (c & 0xC0) != 0x80) {
                if (c >= 0) pending.push_front(uint8_t(c));
                return 0xFFFD;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        return cp;
    }
}

void write(std::string_view bytes) {
    const char* p = bytes.data();
    size_t n = bytes.size();
    // With the output redirected, the editor still draws on the terminal
    // the keys come from.
    static const int fd = isatty(STDOUT_FILENO) || !isatty(STDIN_FILENO) ? STDOUT_FILENO : STDIN_FILENO;
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        n -= size_t(w);
    }
}

bool cursor_position(int32_t& row, int32_t& column) {
    if (!input_terminal) return false;
    write("\x1b[6n");
    // The answer is ESC [ row ; col R; bytes typed meanwhile are kept.
    std::deque<uint8_t> typed;
    std::string answer;
    bool ok = false;
    for (;;) {
        int b = next_byte(200);
        if (b < 0) break;
        if (answer.empty() && b != 27) {
            typed.push_back(uint8_t(b));
            continue;
        }
        answer.push_back(char(b));
        if (answer.size() == 2 && answer[1] != '[') {
            for (char c : answer) typed.push_back(uint8_t(c));
            answer.clear();
            continue;
        }
        if (b == 'R') {
            int r = 0, c = 0;
            ok = std::sscanf(answer.c_str(), "\x1b[%d;%dR", &r, &c) == 2;
            row = r - 1;
            column = c - 1;
            break;
        }
        if (answer.size() > 32) break;
    }
    for (auto it = typed.rbegin(); it != typed.rend(); ++it) pending.push_front(*it);
    return ok;
}

}  // namespace vyr::console::terminal
