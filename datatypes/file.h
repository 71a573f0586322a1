// file!: a file or directory name (type id 8, parent url!).
//
// A file! holds the name in the system's portable form, which on this
// platform is the POSIX path itself: forward slashes, no drive letters. The
// host services take it as a local path through to_local_path.
//
// What file! does differently from url!: its mold (a "%" prefix, and double
// quotes when a character needs them), and the actions that hand the name
// to the host's file services. Those services live in the I/O layer, above
// this one, which installs them at start-up (install_host); until then the
// actions raise internal `not-done`.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/registry.h"

namespace vyr::file_t {

// Pushes a copy of the file value on the argument stack.
Cell* push(const Cell& file);
// The local path of the file (from its index) as UTF-8, for the host.
std::string to_local_path(const Cell& file);
// Appends the local path form to the output string; with `full`, a relative
// name is preceded by the current directory.
void to_local_text(const Cell& file, Cell& output, bool full);
// A new string of the current directory, ending with "/".
Cell current_dir();

// Whether the name (from its index) is a directory name: it ends with "/"
// or a backslash, or is "." or "..", or ends with one of those after a slash.
bool dir_name_q(const Cell& file);

// The host's implementations of the file actions.
struct HostActions {
    registry::action_sig::port_unary remove = nullptr;  // delete
    registry::action_sig::port_unary query = nullptr;
    registry::action_sig::rename rename = nullptr;
    registry::action_sig::read read = nullptr;
    registry::action_sig::write write = nullptr;
};
void install_host(const HostActions& actions);

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part, int32_t budget, int32_t indent);

}  // namespace vyr::file_t
