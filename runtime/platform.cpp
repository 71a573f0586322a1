// The platform layer for Linux.
#include "runtime/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/mman.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "runtime/catch_codes.h"
#include "runtime/float_text.h"
#include "runtime/print_hooks.h"
#include "runtime/runtime_error.h"
#include "runtime/unicode.h"

namespace vyr::platform {

// ---- Start-up ------------------------------------------------------------

namespace {
bool is_console = false;
int out_fd = STDOUT_FILENO;
bool output_ending = false;
int saved_argc = 0;
char** saved_argv = nullptr;
}  // namespace

namespace {
// The terminal settings of standard input as the process found them.
struct termios start_termios {};
bool have_start_termios = false;
}  // namespace

void io_init() {
    is_console = isatty(STDOUT_FILENO) == 1;
    have_start_termios = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &start_termios) == 0;
}

void restore_terminal() {
    if (have_start_termios) tcsetattr(STDIN_FILENO, TCSANOW, &start_termios);
}
bool console_p() { return is_console; }

void set_command_line(int argc, char** argv) {
    saved_argc = argc;
    saved_argv = argv;
}
int arg_count() { return saved_argc; }
const char* const* arg_vector() { return saved_argv; }

void set_output_fd(int fd) { out_fd = fd; }
int output_fd() { return out_fd; }

// ---- Raw allocation list ------------------------------------------------

namespace {
// The header in front of every raw block.
struct RawBlock {
    RawBlock* prev;
    RawBlock* next;
    size_t size;
    size_t pad;  // keeps the payload 16-byte aligned
};
static_assert(sizeof(RawBlock) % 16 == 0);

RawBlock* first_block = nullptr;
RawBlock* last_block = nullptr;
size_t block_count = 0;

void link_block(RawBlock* b) {
    b->prev = last_block;
    b->next = nullptr;
    if (last_block) last_block->next = b; else first_block = b;
    last_block = b;
    ++block_count;
}

void unlink_block(RawBlock* b) {
    if (b->prev) b->prev->next = b->next; else first_block = b->next;
    if (b->next) b->next->prev = b->prev; else last_block = b->prev;
    --block_count;
}

RawBlock* find_block(void* payload) {
    for (RawBlock* b = first_block; b; b = b->next)
        if (b + 1 == payload) return b;
    return nullptr;
}

[[noreturn]] void out_of_memory(uint32_t where) {
    runtime_error_quit(runtime_error_no::out_of_memory, where);
}
}  // namespace

void* allocate(size_t n) {
    auto* b = static_cast<RawBlock*>(std::malloc(sizeof(RawBlock) + n));
    if (!b) out_of_memory(VYR_CODE_POSITION());
    b->size = n;
    link_block(b);
    return b + 1;
}

void* allocate_zeroed(size_t n) {
    void* p = allocate(n);
    std::memset(p, 0, n);
    return p;
}

void* reallocate(void* block, size_t n) {
    if (!block) return allocate(n);
    if (n == 0) {
        release(block);
        return nullptr;
    }
    RawBlock* b = find_block(block);
    if (!b) return allocate(n);
    RawBlock* prev = b->prev;
    RawBlock* next = b->next;
    auto* moved = static_cast<RawBlock*>(std::realloc(b, sizeof(RawBlock) + n));
    if (!moved) out_of_memory(VYR_CODE_POSITION());
    if (prev) prev->next = moved; else first_block = moved;
    if (next) next->prev = moved; else last_block = moved;
    moved->size = n;
    return moved + 1;
}

void release(void* block) {
    if (!block) return;
    RawBlock* b = find_block(block);
    if (!b) return;
    unlink_block(b);
    std::free(b);
}

void release_all_allocations() {
    RawBlock* b = first_block;
    while (b) {
        RawBlock* next = b->next;
        std::free(b);
        b = next;
    }
    first_block = last_block = nullptr;
    block_count = 0;
}

size_t allocation_count() { return block_count; }

size_t allocation_bytes() {
    size_t total = 0;
    for (RawBlock* b = first_block; b; b = b->next) total += sizeof(RawBlock) + b->size;
    return total;
}

// ---- Console writers ----------------------------------------------------

// Output that cannot be written ends the run: everything printed from then on
// would be lost while the run reported success.
void end_on_output_failure(int error) {
    output_ending = true;
    restore_terminal();
    if (error == EPIPE) {
        // The reader went away: end quietly, as the pipe's signal does when
        // it is not blocked or ignored.
        signal(SIGPIPE, SIG_DFL);
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        pthread_sigmask(SIG_UNBLOCK, &pipe_only, nullptr);
        raise(SIGPIPE);
        _exit(128 + SIGPIPE);
    }
    // A terminal that hung up is gone as a closed pipe is: the session ends
    // as at the end of its input.
    if (error == EIO && is_console && out_fd == STDOUT_FILENO) _exit(0);
    char report[200];
    int n = snprintf(report, sizeof report, "*** Cannot write to standard output: %s\n", strerror(error));
    if (n > 0) (void)!::write(STDERR_FILENO, report, std::min(size_t(n), sizeof report - 1));
    _exit(output_failure_status);
}

namespace {
constexpr size_t out_buffer_size = 1024;
constexpr size_t out_flush_at = 1020;

void write_all(const unsigned char* p, size_t n) {
    if (output_ending) return;  // the report and the exit are under way
    while (n > 0) {
        ssize_t w = ::write(out_fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            end_on_output_failure(errno);
        }
        p += w;
        n -= size_t(w);
    }
}

// Accumulates UTF-8 bytes and writes them in batches.
struct OutBuffer {
    unsigned char bytes[out_buffer_size];
    size_t used = 0;
    void put(uint32_t cp) {
        used += unicode::utf8_encode(cp, bytes + used);
        if (used > out_flush_at) flush();
    }
    void flush() {
        write_all(bytes, used);
        used = 0;
    }
};
}  // namespace

void write_text(const void* data, size_t length, unsigned unit, bool line_end) {
    OutBuffer out;
    const auto* p = static_cast<const unsigned char*>(data);
    switch (unit) {
        case 1:
            for (size_t i = 0; i < length; ++i) out.put(p[i]);
            break;
        case 2:
            for (size_t i = 0; i + 1 < length; i += 2) {
                uint16_t u;
                std::memcpy(&u, p + i, 2);
                out.put(u);
            }
            break;
        case 4:
            for (size_t i = 0; i + 3 < length; i += 4) {
                uint32_t u;
                std::memcpy(&u, p + i, 4);
                out.put(u);
            }
            break;
        default:
            runtime_error_quit(runtime_error_no::no_switch_match, VYR_CODE_POSITION());
    }
    if (line_end) out.put('\n');
    out.flush();
}

// ---- Runtime print ------------------------------------------------------

std::string format_item(const PrintItem& item) {
    char buf[64];
    switch (item.kind) {
        case PrintItem::logic: return item.i ? "true" : "false";
        case PrintItem::integer: snprintf(buf, sizeof buf, "%lld", (long long)item.i); break;
        case PrintItem::byte_char: buf[0] = char(item.i); buf[1] = 0; break;
        case PrintItem::float32: return std::string(float_text::format_g(item.d, 7).view());
        case PrintItem::float64: return std::string(float_text::format_g(item.d, 16).view());
        case PrintItem::text: return item.s ? item.s : "";
        default: snprintf(buf, sizeof buf, "%08X", unsigned(uint32_t(item.i))); break;
    }
    return buf;
}

void runtime_print_c_text(const char* text, size_t length) {
    write_all(reinterpret_cast<const unsigned char*>(text), length);
    hooks::run_write_hooks(text, uint32_t(length), 0);
}

void runtime_prin(std::initializer_list<PrintItem> items) {
    for (const PrintItem& item : items) {
        std::string s = format_item(item);
        runtime_print_c_text(s.data(), s.size());
    }
}

void runtime_print_line(std::initializer_list<PrintItem> items) {
    runtime_prin(items);
    runtime_print_c_text("\n", 1);
}

// ---- Memory frames ------------------------------------------------------

// Blocks up to this size (the memory manager's frames) have their pages
// mapped at once: the frames are filled from the start by bump allocation,
// and one populate costs far less than a page fault per page. Larger blocks
// are left to fault in as they are used.
constexpr size_t populate_limit = 4u << 20;

void* os_virtual_alloc(size_t size, bool executable, bool populate) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | (populate && size <= populate_limit ? MAP_POPULATE : 0);
    void* p = mmap(nullptr, size, prot, flags, -1, 0);
    if (p == MAP_FAILED) throw_code(catch_code::frame_reserve_failed);
    return p;
}

void os_virtual_free(void* address, size_t size) {
    if (munmap(address, size) != 0) throw_code(catch_code::frame_release_failed);
}

void* os_virtual_reserve(size_t size) {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw_code(catch_code::frame_reserve_failed);
    return p;
}

void os_virtual_commit(void* address, size_t size) {
    void* p = mmap(address, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) throw_code(catch_code::frame_reserve_failed);
}

// A fresh inaccessible mapping in place drops the pages and the commit charge
// in one call, and leaves the range reserved.
void os_virtual_decommit(void* address, size_t size) {
    void* p = mmap(address, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw_code(catch_code::frame_release_failed);
}

void os_virtual_move(void* from, void* to, size_t size) {
    void* p = mremap(from, size, size, MREMAP_MAYMOVE | MREMAP_FIXED, to);
    if (p == MAP_FAILED) throw_code(catch_code::frame_reserve_failed);
    // Plug the hole left behind, or a later mapping could land in the range.
    p = mmap(from, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw_code(catch_code::frame_reserve_failed);
}

// ---- Operating-system wrappers -----------------------------------------

std::string get_current_dir() {
    std::string buf(256, '\0');
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return std::string();
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

bool set_current_dir(const std::string& path) { return chdir(path.c_str()) == 0; }

double angle_to_radians(double angle, int mode) {
    double a = std::fmod(angle, 360.0);
    if (a > 180.0 || a < -180.0) a += a >= 0 ? -360.0 : 360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == 0) a += a >= 0 ? -180.0 : 180.0;
        else if (mode == 2) a = a >= 0 ? 180.0 - a : -180.0 - a;
    }
    return a * M_PI / 180.0;
}

}  // namespace vyr::platform
