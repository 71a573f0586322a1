// Helpers shared by the output, encoding and system natives
// (engine/natives_output.cpp, natives_encoding.cpp, natives_system.cpp,
// natives_call.cpp): reading the bytes of a binary! or text argument, making
// a binary! result, the last line-end flag of `print`/`prin`, and the child
// processes behind `call` and `browse`.
//
// Byte views point into a series buffer (a binary!'s own buffer, a text's
// conversion buffer): they stay valid until that buffer grows or a safe
// point runs. Making a new series never moves an existing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace vyr::natives {

// The line-end flag of the last `print` (true) or `prin` (false), which the
// `last-lf?` routine reads.
bool last_lf_q();

}  // namespace vyr::natives

namespace vyr::natives_io {

struct ByteView {
    const uint8_t* data;
    size_t size;
};

// A binary!'s bytes from its index (an index past the tail gives none).
ByteView binary_bytes(const Cell& binary);
// A text value's UTF-8 bytes from its index, made in the value's own
// conversion buffer (so `text` must be a rooted cell, such as an argument).
ByteView text_bytes(Cell& text);
// binary_bytes for a binary!, text_bytes for any text value.
ByteView value_bytes(Cell& value);

// The cell becomes a new binary! (index 0) holding a copy of the bytes.
Cell* make_binary_at(Cell& cell, const uint8_t* data, size_t size);

// Appends UTF-8 bytes to a text value as code points, never failing on bad
// input: an ill-formed sequence gives U+FFFD. With `fold_crlf` each CR LF
// becomes LF. For text that comes from outside (child output, environment).
void append_utf8_lenient(NodeId text, const uint8_t* bytes, size_t size, bool fold_crlf);

// ---- Child processes (natives_call.cpp) ------------------------------------

// Where a child's standard stream comes from or goes to: nowhere (the
// child's stream is the null device, or for input the runtime's own), a
// file (input read from it; output appended to it), or a value: a string!
// or binary! sent as input, or a string!/binary! that receives the output.
struct Redirect {
    enum Kind : uint8_t { none, file, value } kind = none;
    std::string path;      // kind file: the local path
    Cell* cell = nullptr;  // kind value: the argument cell (on the argument stack)
};

struct CallFlags {
    bool wait = false;
    bool show = false;  // no windows on this platform: no effect
    bool console = false;
    bool shell = false;
};

// Starts the command (UTF-8 text) as a child process. Without `shell` the
// command is split into words (double and single quotes group, a backslash
// quotes the next character) and the first word is looked up on PATH; a
// command that is not found is tried once more through /bin/sh -c. With
// `shell` it runs through /bin/sh -c at once. Any redirection, and
// `console`, make the call wait. Answers the exit status when it waited
// (128 + the signal number for a child killed by a signal), the process id
// when it did not, or -1 when the process or a redirection could not be
// set up. Captured output is inserted at a binary!'s index, or appended to
// a string! (UTF-8, CR LF folded to LF).
int32_t call_process(const std::string& command, const CallFlags& flags, const Redirect& in, const Redirect& out,
                     const Redirect& err);

// Asks the desktop to open a url or a local path with xdg-open, without
// waiting; failures are not reported.
void open_with_desktop(const std::string& target);

}  // namespace vyr::natives_io
