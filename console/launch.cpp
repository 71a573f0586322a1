// Script start (see launch.h).
#include "console/launch.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/string_buffer.h"
#include "engine/source.h"
#include "io/files.h"
#include "runtime/errors.h"
#include "runtime/platform.h"

namespace vyr::console {

namespace {

bool switch_q(const char* arg) { return std::strncmp(arg, "--", 2) == 0; }

// Whether the text holds "Vyr/System" in any letter case.
bool mentions_vyr_system(std::string_view text) {
    constexpr std::string_view wanted = "vyr/system";
    auto it = std::search(text.begin(), text.end(), wanted.begin(), wanted.end(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return it != text.end();
}

// A file! value of the name, for error reports.
Cell file_value(const char* name) {
    Cell* file = string_t::push_text(name, uint32_t(std::strlen(name)), string_t::encoding_utf8);
    set_type(*file, type_file);
    return *file;
}

// The whole file as bytes; a file that cannot be read raises access error
// `cannot-open` naming it.
std::string read_script(const char* name) {
    std::vector<uint8_t> bytes;
    if (!files::read_whole(name, bytes)) {
        Cell file = file_value(name);
        raise_error(err_cat::access, err_id::access::cannot_open, &file);
    }
    return std::string(bytes.begin(), bytes.end());
}

// Relative names in the script refer to its own folder: the current
// directory becomes the folder of the script, unless the name has none.
void enter_script_folder(const char* name) {
    std::string_view path(name);
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return;
    std::string folder(path.substr(0, slash == 0 ? 1 : slash));
    if (folder == ".") return;
    if (!platform::set_current_dir(folder)) {
        Cell dir = file_value(folder.c_str());
        raise_error(err_cat::access, err_id::access::cannot_open, &dir);
    }
}

void print_error(const char* message) { platform::runtime_print_line({"*** Error: ", message}); }

}  // namespace

const char* script_argument(int argc, const char* const* argv) {
    for (int i = 0; i < argc; ++i) {
        bool after_end_of_switches = i > 0 && std::strcmp(argv[i - 1], "--") == 0;
        if (switch_q(argv[i]) && !after_end_of_switches) continue;
        return argv[i];
    }
    return nullptr;
}

void launch() {
    int argc = platform::arg_count();
    const char* const* argv = platform::arg_vector();
    const char* name = argc > 1 ? script_argument(argc - 1, argv + 1) : nullptr;
    if (!name) return;

    std::string text = read_script(name);
    enter_script_folder(name);
    Status s;
    switch (source::run(text, s)) {
        case source::Outcome::no_header: print_error("Vyr header not found!"); return;
        case source::Outcome::not_a_program:
            print_error(mentions_vyr_system(text) ? "contains Vyr/System code which requires compilation!"
                                                  : "not a Vyr program!");
            return;
        case source::Outcome::ran: break;
    }
    // A throw, break or return that the script did not catch reaches the
    // entry frame, as an escaped throw does.
    if (s != Status::ok) throw_code(uint32_t(s));
}

}  // namespace vyr::console
