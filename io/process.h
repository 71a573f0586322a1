// Child processes: running a command with its standard streams redirected,
// and handing a url or path to the desktop. Behind `call` and `browse`.
//
// The module knows bytes and paths only; the natives turn values into
// redirects and captured bytes back into values. Every descriptor made here
// is close-on-exec, so a child sees only its three standard streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyr::process {

// Where a child's standard stream comes from or goes to: nowhere (the null
// device, or for input the runtime's own stream), a file (input read from
// it; output appended to it), or data: the input's bytes sent, or the
// output's bytes captured (filled in when the call returns).
struct Redirect {
    enum Kind : uint8_t { none, file, data } kind = none;
    std::string path;            // kind file: the local path
    std::vector<uint8_t> bytes;  // kind data
};

struct Flags {
    bool wait = false;
    bool show = false;  // no windows on this platform: no effect
    bool console = false;
    bool shell = false;
};

// Starts the command as a child process. Without `shell` the command is
// split into words as the POSIX shell splits them (quotes group, a
// backslash quotes the next character) and the first word is looked up on
// PATH; a command that is not found is tried once more through /bin/sh -c.
// With `shell` it runs through /bin/sh -c at once. Any redirection, and
// `console`, make the call wait. Answers the exit status when it waited (128
// + the signal number for a child killed by a signal), the process id when
// it did not, or -1 when the process or a redirection could not be set up
// (an input file that cannot be read, an output file that cannot be
// written). A child that is not waited for is reaped as soon as it ends, so
// it never lingers as a zombie.
int32_t run(const std::string& command, const Flags& flags, const Redirect& in, Redirect& out, Redirect& err);

// Runs a program with these exact arguments (the first looked up on PATH,
// no shell) and waits for it, with the same redirections as `run`; a
// stream without a redirect goes to the null device. Answers the exit
// status, or -1 when it could not start. For the runtime's own use of host
// tools.
int32_t run_program(const std::vector<std::string>& argv, const Redirect& in, Redirect& out, Redirect& err);

// Whether a program of this name is on PATH (or, with a slash, at that path)
// and executable.
bool on_path(const std::string& program);

// Asks the desktop to open a url or a local path with xdg-open, without
// waiting; failures are not reported.
void open_with_desktop(const std::string& target);

}  // namespace vyr::process
