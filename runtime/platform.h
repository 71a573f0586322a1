// The platform layer: the thin layer between the runtime and the host.
// Raw memory blocks kept on one list, the runtime's own typed print, the
// console writers (UTF-8 on a terminal and when redirected, LF line ends),
// memory frames, and the current directory. Everything above calls these
// instead of the host; the host services of the language (files,
// environment, clock, processes) are io/'s.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace vyr::platform {

// ---- Start-up ------------------------------------------------------------

// Standard handles and terminal detection; must run before any output.
void io_init();
// Puts the terminal of standard input back into the settings it had at
// start-up (raw mode off); nothing when standard input is not a terminal.
// Every way out of the process calls it.
void restore_terminal();
// True when standard output is a terminal.
bool console_p();
// The process arguments as UTF-8 texts (argv is already UTF-8 on Linux).
int arg_count();
const char* const* arg_vector();
void set_command_line(int argc, char** argv);

// ---- Raw allocation list ------------------------------------------------

// Blocks from the host allocator, each on one list until released. A failure
// of the host allocator is runtime error 94.
void* allocate(size_t n);
void* allocate_zeroed(size_t n);
void* reallocate(void* block, size_t n);
void release(void* block);  // a block not on the list is ignored
void release_all_allocations();
size_t allocation_count();
// Bytes held by the list's blocks, their headers included.
size_t allocation_bytes();

// ---- Runtime print ------------------------------------------------------

// One item of the runtime's typed print.
struct PrintItem {
    enum Kind : uint32_t { logic = 1, integer = 2, byte_char = 3, float32 = 4, float64 = 5, text = 6, hex = 7 };
    Kind kind;
    union {
        int64_t i;
        double d;
        const char* s;
    };
    PrintItem(bool v) : kind(logic), i(v) {}
    PrintItem(int v) : kind(integer), i(v) {}
    PrintItem(int64_t v) : kind(integer), i(v) {}
    PrintItem(uint32_t v) : kind(integer), i(v) {}
    PrintItem(char c) : kind(byte_char), i(uint8_t(c)) {}
    PrintItem(float f) : kind(float32), d(f) {}
    PrintItem(double v) : kind(float64), d(v) {}
    PrintItem(const char* t) : kind(text), s(t) {}
    static PrintItem hex_word(uint32_t v) {
        PrintItem p{int64_t(v)};
        p.kind = hex;
        return p;
    }
};

// Prints the items one after the other with nothing between them.
void runtime_prin(std::initializer_list<PrintItem> items);
// The same, then a line feed.
void runtime_print_line(std::initializer_list<PrintItem> items);
// Formats one item as the runtime print does ("%i", "%.7g", "%.16g", "%08X").
std::string format_item(const PrintItem& item);
// Writes bytes as they are to standard output, then runs the write hooks.
void runtime_print_c_text(const char* text, size_t length);

// ---- Console writers ----------------------------------------------------

// Writes text of `unit` bytes per character (1, 2 or 4) as UTF-8 to standard
// output, followed by a line feed when `line_end` is set. Output is batched
// in a 1024-byte buffer; VT sequences pass through unchanged.
void write_text(const void* bytes, size_t length_in_bytes, unsigned unit, bool line_end);
// A failed write of standard output ends the process: a closed pipe quietly
// (by SIGPIPE), a terminal that hung up with status 0 as at the end of its
// input, any other failure with a report on standard error and
// `output_failure_status`. Later writes are dropped while it ends.
inline constexpr int output_failure_status = 1;
[[noreturn]] void end_on_output_failure(int error);
// Where the writers send their bytes (standard output unless a test redirects it).
void set_output_fd(int fd);
int output_fd();

// ---- Memory frames ------------------------------------------------------

// Reserves and commits a read-write region; with `populate`, a small one has
// its pages mapped at once. Failure throws the catch code
// frame_reserve_failed; the memory manager turns it into `no-memory`.
void* os_virtual_alloc(size_t size, bool executable = false, bool populate = true);
// Releases a region; failure throws frame_release_failed.
void os_virtual_free(void* address, size_t size);
// Reserves address space only: no access, no memory, no commit charge.
// Failure throws frame_reserve_failed.
void* os_virtual_reserve(size_t size);
// Makes part of a reserved range read-write, zero-filled, its pages mapped at
// once; failure throws frame_reserve_failed.
void os_virtual_commit(void* address, size_t size);
// Gives the pages of a committed part back and makes it inaccessible again;
// failure throws frame_release_failed.
void os_virtual_decommit(void* address, size_t size);
// Moves the pages of a committed part, contents and all, to another part of
// the same reserved range, which is cheaper than fresh zeroed pages; `from`
// is left reserved and inaccessible. Failure throws frame_reserve_failed.
void os_virtual_move(void* from, void* to, size_t size);

// ---- Operating-system wrappers -----------------------------------------

std::string get_current_dir();             // POSIX path, without a final slash
bool set_current_dir(const std::string& path);

// Reduces an angle in degrees to radians for the trigonometric natives.
// mode: 0 tangent, 1 cosine, 2 sine.
double angle_to_radians(double angle, int mode);

}  // namespace vyr::platform
